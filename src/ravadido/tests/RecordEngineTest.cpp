// The generic engine: writing, reading, description and archiving rules,
// shown on the records the importer uses.

#include "RecordSamples.h"
#include "WireTestSupport.h"

#include "ravadido/Errors.h"
#include "ravadido/NoteStoreTypes.h"
#include "ravadido/Types.h"

#include <thrift/protocol/TProtocolException.h>
#include <thrift/transport/TTransportException.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <functional>
#include <locale>
#include <stdexcept>

using namespace ravadido;
using namespace ravadido::test;
using apache::thrift::TException;
using apache::thrift::protocol::TProtocolException;

namespace {

// The field ids of one struct on the wire, in the order they stand.
std::vector<int> fieldIds(const std::string &bytes)
{
    auto buffer = std::make_shared<TMemoryBuffer>(reinterpret_cast<std::uint8_t *>(const_cast<char *>(bytes.data())),
                                                  static_cast<std::uint32_t>(bytes.size()), TMemoryBuffer::COPY);
    auto in = protocolOver(buffer);
    std::vector<int> ids;
    std::string name;
    TType type;
    std::int16_t id;
    in->readStructBegin(name);
    for (;;) {
        in->readFieldBegin(name, type, id);
        if (type == apache::thrift::protocol::T_STOP)
            break;
        ids.push_back(id);
        in->skip(type);
    }
    return ids;
}

} // namespace

TEST(RecordEngine, WritesOnlySetFields)
{
    RURUData data;
    data.setSize(5);
    EXPECT_EQ(hexOf(data), "08 00 02 00 00 00 05 00");

    RURUNotebook notebook;
    notebook.setName("A");
    notebook.setStack("B");
    EXPECT_EQ(hexOf(notebook), "0B 00 02 00 00 00 01 41 0B 00 0C 00 00 00 01 42 00");

    notebook.setStack(std::nullopt);
    EXPECT_EQ(hexOf(notebook), "0B 00 02 00 00 00 01 41 00");
    EXPECT_TRUE(notebook.stackIsSet());

    // A scalar goes out whenever set, even when false or zero.
    notebook.setPublished(false);
    EXPECT_EQ(hexOf(notebook), "0B 00 02 00 00 00 01 41 02 00 0B 00 00");
}

TEST(RecordEngine, SkipsUnknownAndMistypedFieldsAndKeepsTheLaterDuplicate)
{
    auto data = readHex<RURUData>("0B 00 04 00 00 00 02 78 79 08 00 02 00 00 00 05 00");
    EXPECT_TRUE(data->sizeIsSet());
    EXPECT_EQ(data->size(), 5);
    EXPECT_FALSE(data->bodyHashIsSet());
    EXPECT_FALSE(data->bodyIsSet());

    auto notebook = readHex<RURUNotebook>("08 00 02 00 00 00 01 00");
    EXPECT_FALSE(notebook->nameIsSet());
    EXPECT_EQ(hexOf(*notebook), "00");

    EXPECT_EQ(readHex<RURUData>("08 00 02 00 00 00 01 08 00 02 00 00 00 02 00")->size(), 2);

    // Field id 0 and negative ids are unknown.
    auto odd = readHex<RURUData>("08 00 00 00 00 00 07 08 FF FF 00 00 00 07 00");
    EXPECT_FALSE(odd->sizeIsSet());
}

// The two records whose declaration order is not id order.
TEST(RecordEngine, WritesInDeclarationOrderAndReadsAnyOrder)
{
    struct Case
    {
        std::shared_ptr<Record> record;
        std::function<std::shared_ptr<Record>()> fresh;
        std::vector<int> ids;
    };
    const Case cases[] = {
        {samples::valueOf<codec::Struct<RURUSharedNotebook>>(1),
         [] { return std::make_shared<RURUSharedNotebook>(); },
         {1, 2, 3, 4, 5, 6, 7, 10, 8, 9}},
        {samples::valueOf<codec::Struct<RURUSyncChunkFilter>>(1),
         [] { return std::make_shared<RURUSyncChunkFilter>(); },
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 11}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.record->description());
        const std::string bytes = bytesOf(*c.record);
        EXPECT_EQ(fieldIds(bytes), c.ids);
        // The same fields in ascending id order read into the same record.
        const std::string sorted = samples::inIdOrder(bytes);
        auto ascending = c.ids;
        std::sort(ascending.begin(), ascending.end());
        EXPECT_EQ(fieldIds(sorted), ascending);
        auto reread = c.fresh();
        auto buffer = std::make_shared<TMemoryBuffer>(
            reinterpret_cast<std::uint8_t *>(const_cast<char *>(sorted.data())),
            static_cast<std::uint32_t>(sorted.size()), TMemoryBuffer::COPY);
        reread->read(*protocolOver(buffer));
        EXPECT_EQ(reread->description(), c.record->description());
        EXPECT_EQ(bytesOf(*reread), bytes);
    }
}

TEST(RecordEngine, FreshRecordWritesOnlyTheStop)
{
    RURUNote note;
    EXPECT_EQ(hexOf(note), "00");
    auto reread = readHex<RURUNote>("00");
    for (const FieldInfo &field : reread->layout().fields())
        EXPECT_FALSE(field.isSet(*reread)) << field.name;
}

TEST(RecordEngine, DescribesEveryFieldInDeclarationOrder)
{
    EXPECT_EQ(RURUNote().description(),
              "Note(guid:\"(null)\",title:\"(null)\",content:\"(null)\",contentHash:\"(null)\","
              "contentLength:0,created:0,updated:0,deleted:0,active:0,updateSequenceNum:0,"
              "notebookGuid:\"(null)\",tagGuids:(null),resources:(null),attributes:(null),"
              "tagNames:(null))");

    // An unset scalar keeps its value for the getter and the description,
    // but leaves the wire and the archive.
    RURUNoteFilter filter;
    filter.setOrder(3);
    filter.unsetOrder();
    EXPECT_EQ(filter.order(), 3);
    EXPECT_EQ(filter.description(), "NoteFilter(order:3,ascending:0,words:\"(null)\","
                                    "notebookGuid:\"(null)\",tagGuids:(null),timeZone:\"(null)\","
                                    "inactive:0)");
    EXPECT_EQ(hexOf(filter), "00");
    KeyedArchive archive;
    filter.encodeWithCoder(archive);
    EXPECT_TRUE(archive.entries().empty());

    RURUNotebook notebook;
    notebook.setSharedNotebookIds(std::vector<std::int64_t>{3, -4});
    notebook.setPublishing(std::make_shared<RURUPublishing>("u", 1, true, std::nullopt));
    EXPECT_NE(
        notebook.description().find("publishing:Publishing(uri:\"u\",order:1,ascending:1,publicDescription:\"(null)\")"
                                    ",published:0,stack:\"(null)\",sharedNotebookIds:(3, -4),sharedNotebooks:(null))"),
        std::string::npos);

    RURUData data(Bytes(std::string("\x01\xab\x00\x10\xff", 5)), 5, std::nullopt);
    EXPECT_EQ(data.description(), "Data(bodyHash:\"<01ab0010 ff>\",size:5,body:\"(null)\")");
}

TEST(RecordEngine, DoublesPrintWithSixDecimalsWhateverTheLocale)
{
    // A decimal comma for C++ streams, and for the C library where the
    // machine has such a locale.
    struct Comma : std::numpunct<char>
    {
        char do_decimal_point() const override { return ','; }
        std::string do_grouping() const override { return "\3"; }
        char do_thousands_sep() const override { return '.'; }
    };
    const std::locale savedGlobal = std::locale::global(std::locale(std::locale::classic(), new Comma));
    const std::string savedC = std::setlocale(LC_NUMERIC, nullptr);
    for (const char *name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "fr_FR"})
        if (std::setlocale(LC_NUMERIC, name))
            break;
    RURUResourceAttributes attributes;
    attributes.setLatitude(52.5);
    attributes.setLongitude(-1234.25);
    const std::string text = attributes.description();
    std::setlocale(LC_NUMERIC, savedC.c_str());
    std::locale::global(savedGlobal);
    EXPECT_NE(text.find("latitude:52.500000,longitude:-1234.250000,altitude:0.000000"), std::string::npos) << text;
}

TEST(RecordEngine, EmptyListStaysSetAndEmpty)
{
    RURUNote note;
    note.setResources(std::vector<std::shared_ptr<RURUResource>>{});
    EXPECT_EQ(hexOf(note), "0F 00 0D 0C 00 00 00 00 00");
    auto reread = readBytes<RURUNote>(bytesOf(note));
    ASSERT_TRUE(reread->resourcesIsSet());
    ASSERT_TRUE(reread->resources().has_value());
    EXPECT_TRUE(reread->resources()->empty());
}

TEST(RecordEngine, NestedRecordsReadAsFreshObjects)
{
    // The importer hands one data object to both fields of a resource.
    auto data = std::make_shared<RURUData>();
    data->setSize(3);
    data->setBody(Bytes("abc", 3));
    RURUResource resource;
    resource.setData(data);
    resource.setRecognition(data);
    resource.setMime("text/plain");
    EXPECT_EQ(fieldIds(bytesOf(resource)), (std::vector<int>{3, 4, 9}));

    auto reread = readBytes<RURUResource>(bytesOf(resource));
    ASSERT_TRUE(reread->data() && reread->recognition());
    EXPECT_NE(reread->data(), reread->recognition());
    EXPECT_EQ(reread->data()->body(), data->body());
    EXPECT_EQ(reread->recognition()->body(), data->body());
}

// Counts and lengths on the wire that the bytes cannot back: each read ends
// in Thrift's own exception family, never in an allocation the size of the
// claim (a std::bad_alloc would escape the family).
TEST(RecordEngine, HostileLengthsEndInThriftExceptions)
{
    struct Case
    {
        const char *what;
        const char *hex;
    };
    const Case cases[] = {
        {"note list of 2^31-1 notes", "0F 00 03 0C 7F FF FF FF 00"},
        {"tag guids of 2^31-1 strings", "0F 00 0C 0B 7F FF FF FF 00 00 00 01 41"},
        {"notebook ids of 2^31-1 numbers", "0F 00 0D 0A 7F FF FF FF 00 00 00 00 00 00 00 01"},
        {"title of 2^31-1 bytes", "0B 00 02 7F FF FF FF 41 42"},
        {"content hash of 2^31-1 bytes", "0B 00 04 7F FF FF FF 41 42"},
        {"negative list size", "0F 00 0C 0B FF FF FF FF"},
        {"negative string size", "0B 00 02 FF FF FF FE"},
        {"truncated struct", "0B 00 02 00 00 00 05 41"},
        {"skipped map of 2^31-1 entries", "0D 00 63 0B 0B 7F FF FF FF 00"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // Note ids are used for everything: the list and string cases hit
        // tagGuids (12), sharedNotebookIds is mistyped in a note and is
        // skipped instead, which must be just as safe.
        EXPECT_THROW(readHex<RURUNote>(c.hex), TException);
        EXPECT_THROW(readHex<RURUNoteList>(c.hex), TException);
        EXPECT_THROW(readHex<RURUNotebook>(c.hex), TException);
    }
}

TEST(RecordEngine, FieldsReadBeforeAFailureStay)
{
    auto notebook = std::make_shared<RURUNotebook>();
    const std::string bytes = unhex("0B 00 02 00 00 00 01 41 0B 00 0C 00 00 00 09 42");
    auto buffer = std::make_shared<TMemoryBuffer>(reinterpret_cast<std::uint8_t *>(const_cast<char *>(bytes.data())),
                                                  static_cast<std::uint32_t>(bytes.size()), TMemoryBuffer::COPY);
    EXPECT_THROW(notebook->read(*protocolOver(buffer)), TException);
    EXPECT_EQ(notebook->name(), "A");
    EXPECT_FALSE(notebook->stackIsSet());
}

TEST(RecordEngine, KeyedArchiveKeepsSetFieldsNilAndKinds)
{
    auto data = std::make_shared<RURUData>(Bytes("\x10\x20", 2), 2, Bytes("hi", 2));
    auto resource = std::make_shared<RURUResource>();
    resource->setData(data);
    resource->setRecognition(data);
    resource->setWidth(640);
    resource->setMime(std::nullopt);
    auto attributes = std::make_shared<RURUNoteAttributes>();
    auto lazy = std::make_shared<RURULazyMap>();
    lazy->setKeysOnly(std::set<std::string>{"k1", "k2"});
    lazy->setFullMap(std::map<std::string, std::string>{{"a", "1"}});
    attributes->setApplicationData(lazy);
    attributes->setLatitude(1.25);
    RURUNote note;
    note.setTitle("T");
    note.setGuid(std::nullopt);
    note.setCreated(1234567890123);
    note.setActive(true);
    note.setContentLength(-1);
    note.setTagNames(std::vector<std::string>{"x", "y"});
    note.setResources(std::vector<std::shared_ptr<RURUResource>>{resource});
    note.setAttributes(attributes);

    KeyedArchive archive("Note");
    note.encodeWithCoder(archive);
    ASSERT_TRUE(archive.containsValueForKey("guid"));
    EXPECT_TRUE(archive.valueForKey("guid")->isNil());
    EXPECT_FALSE(archive.containsValueForKey("content"));
    EXPECT_EQ(archive.valueForKey("created")->kind, ArchiveValue::Kind::Int64);
    EXPECT_EQ(archive.valueForKey("contentLength")->kind, ArchiveValue::Kind::Int32);
    EXPECT_EQ(archive.valueForKey("active")->kind, ArchiveValue::Kind::Bool);
    EXPECT_EQ(archive.valueForKey("resources")->kind, ArchiveValue::Kind::Array);

    RURUNote restored(archive);
    EXPECT_TRUE(restored.guidIsSet());
    EXPECT_FALSE(restored.guid().has_value());
    EXPECT_FALSE(restored.contentIsSet());
    EXPECT_EQ(restored.description(), note.description());
    EXPECT_EQ(bytesOf(restored), bytesOf(note));
    const auto &r = (*restored.resources())[0];
    EXPECT_TRUE(r->mimeIsSet());
    EXPECT_FALSE(r->mime().has_value());

    // i16 and enumerated i32 go in as native ints, plain i32 as 32-bit.
    KeyedArchive resourceArchive;
    resource->encodeWithCoder(resourceArchive);
    EXPECT_EQ(resourceArchive.valueForKey("width")->kind, ArchiveValue::Kind::Int);
    KeyedArchive publishing;
    RURUPublishing(std::nullopt, 4, false, std::nullopt).encodeWithCoder(publishing);
    EXPECT_EQ(publishing.valueForKey("order")->kind, ArchiveValue::Kind::Int);
    KeyedArchive filter;
    RURUNoteFilter f;
    f.setOrder(4);
    f.encodeWithCoder(filter);
    EXPECT_EQ(filter.valueForKey("order")->kind, ArchiveValue::Kind::Int32);

    // A value of a kind that cannot stand for the field leaves it unset.
    KeyedArchive odd;
    odd.encodeObject("title", ArchiveValue::real(1.0));
    odd.encodeInt64("contentLength", std::int64_t{1} << 40);
    odd.encodeInt("created", 5);
    RURUNote fromOdd(odd);
    EXPECT_FALSE(fromOdd.titleIsSet());
    EXPECT_FALSE(fromOdd.contentLengthIsSet());
    EXPECT_EQ(fromOdd.created(), 5);
}

TEST(RecordEngine, ExceptionsAreRecordsAndThrowable)
{
    auto user = readHex<RURUUserException>("08 00 01 00 00 00 09 00");
    EXPECT_EQ(user->errorCode(), 9);
    EXPECT_FALSE(user->parameterIsSet());
    EXPECT_STREQ(user->name(), "RURUUserException");
    EXPECT_STREQ(user->reason(), "unknown");
    EXPECT_EQ(user->description(), "RURUUserException(errorCode:9,parameter:\"(null)\")");

    try {
        throw *user;
    } catch (const RURUUserException &caught) {
        EXPECT_EQ(caught.errorCode(), 9);
        EXPECT_STREQ(caught.what(), "RURUUserException(errorCode:9,parameter:\"(null)\")");
    }
    EXPECT_THROW(throw RURUSystemException(1, "down"), TException);

    RURUNotFoundException notFound(std::nullopt, std::nullopt);
    EXPECT_TRUE(notFound.identifierIsSet());
    EXPECT_TRUE(notFound.keyIsSet());
    EXPECT_EQ(hexOf(notFound), "00");
    EXPECT_STREQ(notFound.name(), "RURUNotFoundException");
    EXPECT_STREQ(RURUSystemException().name(), "RURUSystemException");
}

// A transport that does not buffer, over a memory buffer.
struct Unbuffered : apache::thrift::transport::TVirtualTransport<Unbuffered>
{
    explicit Unbuffered(std::shared_ptr<TMemoryBuffer> b) : buffer(std::move(b)) {}
    std::uint32_t read(std::uint8_t *data, std::uint32_t size) { return buffer->read(data, size); }
    void write(const std::uint8_t *data, std::uint32_t size) { buffer->write(data, size); }
    std::shared_ptr<TMemoryBuffer> buffer;
};

// Three roads: the binary protocol over a buffering transport is retyped
// for it, over any other transport called directly; any other protocol,
// here one derived from it, goes through virtual calls. All give the same.
TEST(RecordEngine, BufferedDirectAndVirtualProtocolRoadsAgree)
{
    struct DerivedProtocol : TBinaryProtocol
    {
        using TBinaryProtocol::TBinaryProtocol;
    };
    for (const auto &sample : samples::fullySet()) {
        SCOPED_TRACE(sample.record->layout().wireName());
        const std::string bytes = bytesOf(*sample.record);
        for (int road = 0; road < 2; ++road) {
            auto buffer = std::make_shared<TMemoryBuffer>();
            std::unique_ptr<TBinaryProtocol> out, in;
            if (road == 0) {
                out = std::make_unique<DerivedProtocol>(buffer, 0, 0, false, false);
                in = std::make_unique<DerivedProtocol>(buffer, 0, 0, false, false);
            } else {
                out = std::make_unique<TBinaryProtocol>(std::make_shared<Unbuffered>(buffer), 0, 0, false, false);
                in = std::make_unique<TBinaryProtocol>(std::make_shared<Unbuffered>(buffer), 0, 0, false, false);
            }
            sample.record->write(*out);
            EXPECT_EQ(buffer->getBufferAsString(), bytes);

            auto reread = sample.fresh();
            reread->read(*in);
            EXPECT_EQ(bytesOf(*reread), bytes);
            EXPECT_EQ(reread->description(), sample.record->description());
        }
    }
}

// A body lent by an open file is read only when asked for: it goes out on
// every road (no request buffer takes the file here) as the same bytes as an
// owned one, reads back owned, a change to a copy leaves the file alone, and
// a file that no longer holds the bytes throws.
TEST(RecordEngine, LentBodiesWriteAsOwnedOnes)
{
    struct DerivedProtocol : TBinaryProtocol
    {
        using TBinaryProtocol::TBinaryProtocol;
    };
    const std::string content = std::string(70000, '\x5a') + std::string(1, '\0') + "end";
    char name[] = "/tmp/lent-body-XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    ::unlink(name);
    ASSERT_EQ(::write(fd, content.data(), content.size()), ssize_t(content.size()));
    RURUData owned(std::nullopt, 70004, Bytes(content));
    RURUData lent(std::nullopt, 70004, Bytes(std::make_shared<LentFile>(::dup(fd), content.size(), name)));
    ASSERT_TRUE(lent.body()->isLent());
    const std::string bytes = bytesOf(owned);
    for (int road = 0; road < 3; ++road) {
        SCOPED_TRACE(road);
        auto buffer = std::make_shared<TMemoryBuffer>();
        std::unique_ptr<TBinaryProtocol> out;
        if (road == 0)
            out = std::make_unique<TBinaryProtocol>(buffer, 0, 0, false, false);
        else if (road == 1)
            out = std::make_unique<TBinaryProtocol>(std::make_shared<Unbuffered>(buffer), 0, 0, false, false);
        else
            out = std::make_unique<DerivedProtocol>(buffer, 0, 0, false, false);
        lent.write(*out);
        EXPECT_EQ(buffer->getBufferAsString(), bytes);
    }
    EXPECT_EQ(lent.description(), owned.description());
    auto reread = readBytes<RURUData>(bytes);
    EXPECT_FALSE(reread->body()->isLent());
    EXPECT_EQ(*reread->body(), *lent.body());
    Bytes copy = *lent.body();
    copy.storage().back() = '!';
    EXPECT_EQ(lent.body()->view(), content);
    EXPECT_NE(copy, *lent.body());

    ASSERT_EQ(::ftruncate(fd, 100), 0);
    EXPECT_THROW(Bytes(std::make_shared<LentFile>(fd, content.size(), name)).view(), std::runtime_error);
}

// Whatever struct an opaque record reads, it writes back byte for byte,
// through either protocol road, and keeps through its archive.
TEST(RecordEngine, OpaqueRecordKeepsTheStructItRead)
{
    // An i64, a nested struct holding a bool written as 02, a map, a set,
    // a list of lists, a byte and a double; the stop is ours to write.
    const std::string fields = "0A 00 01 00 00 00 00 00 00 00 2A "
                               "0C 00 04 02 00 01 02 0B 00 02 00 00 00 01 41 00 "
                               "0D 00 07 0B 08 00 00 00 01 00 00 00 01 6B FF FF FF FF "
                               "0E 00 08 0B 00 00 00 01 00 00 00 00 "
                               "0F 00 09 0F 00 00 00 01 08 00 00 00 01 00 00 00 05 "
                               "03 00 0A 80 04 00 0B 3F F8 00 00 00 00 00 00";
    auto result = readHex<RURUAuthenticationResult>(fields + " 00");
    EXPECT_EQ(hex(result->keptFields()), fields);
    EXPECT_EQ(hexOf(*result), fields + " 00");
    EXPECT_EQ(result->description().substr(0, 34), "AuthenticationResult(<0a000100 000");

    struct DerivedProtocol : TBinaryProtocol
    {
        using TBinaryProtocol::TBinaryProtocol;
    };
    auto buffer = std::make_shared<TMemoryBuffer>();
    DerivedProtocol out(buffer, 0, 0, false, false);
    result->write(out);
    // The general road reads the bool as a bool and so writes it as 01.
    std::string general = fields + " 00";
    general.replace(general.find("02 00 01 02"), 11, "02 00 01 01");
    EXPECT_EQ(hex(buffer->getBufferAsString()), general);

    KeyedArchive archive;
    result->encodeWithCoder(archive);
    EXPECT_EQ(hexOf(RURUAuthenticationResult(archive)), fields + " 00");
    // Archived bytes that are not whole fields, or that stop before their
    // last field, are not taken.
    for (const char *damagedFields :
         {"0B 00 02 00 00 00 09 41", "0A 00 01 00 00 00 00 00 00 00 2A 00 0A 00 02 00 00 00 00 00 00 00 2B"}) {
        KeyedArchive damaged;
        damaged.encodeObject("keptFields", ArchiveValue::bytes(Bytes(unhex(damagedFields))));
        EXPECT_EQ(hexOf(RURUAuthenticationResult(damaged)), "00") << damagedFields;
    }

    EXPECT_EQ(hexOf(RURUAuthenticationResult()), "00");
    EXPECT_EQ(RURUAuthenticationResult().description(), "AuthenticationResult(<>)");
    // A type the protocol does not know ends the read; what came before stays.
    auto partial = std::make_shared<RURUAuthenticationResult>();
    const std::string bad = unhex("0A 00 01 00 00 00 00 00 00 00 2A 0F 00 02 01 00 00 00 01 00");
    auto badBuffer = std::make_shared<TMemoryBuffer>(reinterpret_cast<std::uint8_t *>(const_cast<char *>(bad.data())),
                                                     static_cast<std::uint32_t>(bad.size()), TMemoryBuffer::COPY);
    EXPECT_THROW(partial->read(*protocolOver(badBuffer)), TProtocolException);
    EXPECT_EQ(hex(partial->keptFields()), "0A 00 01 00 00 00 00 00 00 00 2A");
}
