#include "RecordSamples.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <algorithm>
#include <type_traits>

namespace ravadido::samples {

namespace {

using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::transport::TMemoryBuffer;
namespace wire = apache::thrift::protocol;

void readInto(Record &record, const std::string &bytes)
{
    auto buffer = std::make_shared<TMemoryBuffer>(reinterpret_cast<std::uint8_t *>(const_cast<char *>(bytes.data())),
                                                  static_cast<std::uint32_t>(bytes.size()), TMemoryBuffer::COPY);
    TBinaryProtocol in(buffer, 0, 0, false, false);
    record.read(in);
}

// What an opaque record is given to keep: scalars, text, a whole user and
// a struct of its own.
void fillOpaque(OpaqueRecord &record, std::uint32_t seed)
{
    auto buffer = std::make_shared<TMemoryBuffer>();
    TBinaryProtocol out(buffer, 0, 0, false, false);
    out.writeStructBegin("");
    out.writeFieldBegin("", wire::T_I64, 1);
    out.writeI64(Maker<codec::I64>::element(seed + 1));
    out.writeFieldEnd();
    out.writeFieldBegin("", wire::T_STRING, 2);
    out.writeString(Maker<codec::String>::element(seed + 2));
    out.writeFieldEnd();
    out.writeFieldBegin("", wire::T_I64, 3);
    out.writeI64(Maker<codec::I64>::element(seed + 3));
    out.writeFieldEnd();
    out.writeFieldBegin("", wire::T_STRUCT, 4);
    Maker<codec::Struct<RURUUser>>::element(seed + 4)->write(out);
    out.writeFieldEnd();
    out.writeFieldBegin("", wire::T_STRUCT, 5);
    out.writeStructBegin("");
    out.writeFieldBegin("", wire::T_I32, 1);
    out.writeI32(Maker<codec::I32>::element(seed + 5));
    out.writeFieldEnd();
    out.writeFieldBegin("", wire::T_STRING, 2);
    out.writeString(Maker<codec::String>::element(seed + 6));
    out.writeFieldEnd();
    out.writeFieldStop();
    out.writeStructEnd();
    out.writeFieldEnd();
    out.writeFieldBegin("", wire::T_STRING, 6);
    out.writeString(Maker<codec::String>::element(seed + 7));
    out.writeFieldEnd();
    out.writeFieldStop();
    out.writeStructEnd();
    readInto(record, buffer->getBufferAsString());
}

template<typename T>
void fillKept(T &record, std::uint32_t seed)
{
    if constexpr (std::is_base_of_v<OpaqueRecord, T>)
        fillOpaque(record, seed);
}

template<typename T>
Sample sample(std::uint32_t seed)
{
    auto record = std::make_shared<T>();
    fill(*record, seed);
    return {std::move(record), [] { return std::make_shared<T>(); }};
}

// One value, the fields of every struct in it in id order.
std::string valueInIdOrder(TBinaryProtocol &in, TType type)
{
    auto buffer = std::make_shared<TMemoryBuffer>();
    TBinaryProtocol out(buffer, 0, 0, false, false);
    auto bytes = [&] {
        std::string b = buffer->getBufferAsString();
        buffer->resetBuffer();
        return b;
    };
    std::string result;
    std::uint32_t count = 0;
    TType first = wire::T_STOP, second = wire::T_STOP;
    switch (type) {
    case wire::T_STRUCT: {
        std::vector<std::pair<std::int16_t, std::string>> fields;
        std::string name;
        std::int16_t id;
        for (;;) {
            in.readFieldBegin(name, first, id);
            if (first == wire::T_STOP)
                break;
            out.writeFieldBegin("", first, id);
            fields.emplace_back(id, bytes() + valueInIdOrder(in, first));
        }
        std::stable_sort(fields.begin(), fields.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        for (const auto &f : fields)
            result += f.second;
        return result + '\0';
    }
    case wire::T_MAP:
        in.readMapBegin(first, second, count);
        out.writeMapBegin(first, second, count);
        result = bytes();
        for (std::uint32_t i = 0; i < count; ++i) {
            result += valueInIdOrder(in, first);
            result += valueInIdOrder(in, second);
        }
        return result;
    case wire::T_LIST:
    case wire::T_SET:
        in.readListBegin(first, count);
        out.writeListBegin(first, count);
        result = bytes();
        for (std::uint32_t i = 0; i < count; ++i)
            result += valueInIdOrder(in, first);
        return result;
    default: detail::copyValue(in, out, type); return bytes();
    }
}

} // namespace

#define RAVADIDO_SAMPLES_SET_FIELD(id, name, Name, ...) record.set##Name(valueOf<__VA_ARGS__>(seed * 31 + id));
#define RAVADIDO_SAMPLES_DEFINE_FILL(Class, wire, FIELDS)         \
    void fill(Class &record, [[maybe_unused]] std::uint32_t seed) \
    {                                                             \
        fillKept(record, seed);                                   \
        FIELDS(RAVADIDO_SAMPLES_SET_FIELD)                        \
    }
RAVADIDO_RECORDS(RAVADIDO_SAMPLES_DEFINE_FILL)

std::vector<Sample> fullySet()
{
    std::vector<Sample> all;
    std::uint32_t seed = 0;
#define RAVADIDO_SAMPLES_ADD(Class, wire, FIELDS) all.push_back(sample<Class>(++seed));
    RAVADIDO_RECORDS(RAVADIDO_SAMPLES_ADD)
#undef RAVADIDO_SAMPLES_ADD
    return all;
}

std::shared_ptr<Record> everyOtherField(const Sample &full, bool odd)
{
    auto record = full.fresh();
    if (auto *opaque = dynamic_cast<const OpaqueRecord *>(full.record.get())) {
        const std::string &kept = opaque->keptFields();
        auto source = std::make_shared<TMemoryBuffer>(reinterpret_cast<std::uint8_t *>(const_cast<char *>(kept.data())),
                                                      static_cast<std::uint32_t>(kept.size()), TMemoryBuffer::COPY);
        TBinaryProtocol in(source, 0, 0, false, false);
        auto sink = std::make_shared<TMemoryBuffer>();
        TBinaryProtocol out(sink, 0, 0, false, false);
        auto discard = std::make_shared<TMemoryBuffer>();
        TBinaryProtocol skipped(discard, 0, 0, false, false);
        for (int i = 0; source->available_read() != 0; ++i) {
            std::string name;
            TType type;
            std::int16_t id;
            in.readFieldBegin(name, type, id);
            TBinaryProtocol &to = (i % 2 == 1) == odd ? out : skipped;
            to.writeFieldBegin("", type, id);
            detail::copyValue(in, to, type);
        }
        out.writeFieldStop();
        readInto(*record, sink->getBufferAsString());
        return record;
    }
    KeyedArchive all;
    full.record->encodeWithCoder(all);
    KeyedArchive some;
    const auto fields = full.record->layout().fields();
    for (std::size_t i = odd ? 1 : 0; i < fields.size(); i += 2)
        if (const ArchiveValue *v = all.valueForKey(fields[i].name))
            some.encodeObject(fields[i].name, *v);
    record->decodeFields(some);
    return record;
}

std::string inIdOrder(const std::string &structBytes)
{
    auto buffer = std::make_shared<TMemoryBuffer>(
        reinterpret_cast<std::uint8_t *>(const_cast<char *>(structBytes.data())),
        static_cast<std::uint32_t>(structBytes.size()), TMemoryBuffer::COPY);
    TBinaryProtocol in(buffer, 0, 0, false, false);
    return valueInIdOrder(in, apache::thrift::protocol::T_STRUCT);
}

std::shared_ptr<RURUData> data(std::string body)
{
    const auto size = static_cast<std::int32_t>(body.size());
    return std::make_shared<RURUData>(Bytes(std::string("\x00\xff\x10\x80 hash 0123456", 16)), size,
                                      Bytes(std::move(body)));
}

std::shared_ptr<RURUNote> fullNote()
{
    return Maker<codec::Struct<RURUNote>>::element(4711);
}

} // namespace ravadido::samples
