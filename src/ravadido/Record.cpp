#include "Record.h"
#include "RequestBuffer.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/protocol/TProtocolException.h>
#include <thrift/transport/TBufferTransports.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <type_traits>
#include <typeinfo>

namespace ravadido {

using apache::thrift::protocol::TInputRecursionTracker;
using apache::thrift::protocol::TOutputRecursionTracker;
using apache::thrift::transport::TMemoryBuffer;

namespace {

// The transport without a reference count round trip per container.
struct TransportOf : TProtocol
{
    static apache::thrift::transport::TTransport *of(TProtocol &p) { return (p.*(&TransportOf::ptrans_)).get(); }
};

// The binary protocol keeps its limits and settings to itself; a derived
// class may name them.
struct StringLimit : TBinaryProtocol
{
    static std::int32_t &of(TBinaryProtocol &p) { return p.*(&StringLimit::string_limit_); }
};

struct Settings : TBinaryProtocol
{
    static std::int32_t containerLimit(TBinaryProtocol &p) { return p.*(&Settings::container_limit_); }
    static bool strictRead(TBinaryProtocol &p) { return p.*(&Settings::strict_read_); }
    static bool strictWrite(TBinaryProtocol &p) { return p.*(&Settings::strict_write_); }
};

// The binary protocol sizes a string by the length on the wire before it
// knows whether the bytes are there, so a four-byte lie costs gigabytes.
// Over a memory buffer the bytes left are known: no string may be longer
// for the length of one top-level read.
class StringBound
{
public:
    explicit StringBound(TBinaryProtocol &binary)
    {
        auto *buffer = dynamic_cast<TMemoryBuffer *>(TransportOf::of(binary));
        if (!buffer)
            return;
        std::int32_t &limit = StringLimit::of(binary);
        const auto left = static_cast<std::int32_t>(
            std::min<std::uint32_t>(buffer->available_read(), std::numeric_limits<std::int32_t>::max()));
        if (limit > 0 && limit <= left)
            return;
        m_protocol = &binary;
        m_saved = limit;
        // 0 means "no limit" to the protocol; an empty buffer allows 1 byte,
        // which the read then fails to find.
        limit = std::max(left, 1);
    }
    ~StringBound()
    {
        if (m_protocol)
            StringLimit::of(*m_protocol) = m_saved;
    }
    StringBound(const StringBound &) = delete;
    StringBound &operator=(const StringBound &) = delete;

private:
    TBinaryProtocol *m_protocol = nullptr;
    std::int32_t m_saved = 0;
};

} // namespace

RecordLayout::RecordLayout(const char *wireName, std::vector<FieldInfo> fields, const KeptFields *kept)
    : m_wireName(wireName), m_fields(std::move(fields)), m_kept(kept)
{
    std::int16_t highest = -1;
    for (const FieldInfo &f : m_fields)
        highest = std::max(highest, f.id);
    m_byId.assign(static_cast<std::size_t>(highest + 1), -1);
    for (std::size_t i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].id >= 0)
            m_byId[static_cast<std::size_t>(m_fields[i].id)] = static_cast<std::int16_t>(i);
}

namespace {

template<typename P>
void readStruct(Record &record, P &in)
{
    TInputRecursionTracker depth(in);
    const RecordLayout &table = record.layout();
    std::string name;
    TType type;
    std::int16_t id;
    in.readStructBegin(name);
    for (;;) {
        in.readFieldBegin(name, type, id);
        if (type == apache::thrift::protocol::T_STOP)
            break;
        const FieldInfo *field = table.find(id);
        if (field && field->type == type) {
            if constexpr (std::is_same_v<P, TBinaryProtocol>) {
                if (field->readBinary)
                    field->readBinary(record, in);
                else
                    field->read(record, in);
            } else if constexpr (std::is_same_v<P, BufferedBinaryProtocol>) {
                if (field->readBuffered)
                    field->readBuffered(record, in);
                else
                    field->read(record, in);
            } else {
                field->read(record, in);
            }
        } else if (const KeptFields *kept = table.kept()) {
            kept->keep(record, in, type, id);
        } else {
            in.skip(type);
        }
        in.readFieldEnd();
    }
    in.readStructEnd();
}

template<typename P>
void writeStruct(const Record &record, P &out)
{
    TOutputRecursionTracker depth(out);
    const RecordLayout &table = record.layout();
    out.writeStructBegin(table.wireName());
    for (const FieldInfo &field : table.fields()) {
        if constexpr (std::is_same_v<P, TBinaryProtocol>) {
            if (field.writeBinary)
                field.writeBinary(record, out, field);
            else
                field.write(record, out);
        } else if constexpr (std::is_same_v<P, BufferedBinaryProtocol>) {
            if (field.writeBuffered)
                field.writeBuffered(record, out, field);
            else
                field.write(record, out);
        } else {
            field.write(record, out);
        }
    }
    if (const KeptFields *kept = table.kept())
        kept->write(record, out);
    out.writeFieldStop();
    out.writeStructEnd();
}

// The protocol the service speaks, called without virtual dispatch; a
// class derived from it takes the general road.
TBinaryProtocol *asBinary(TProtocol &p)
{
    return typeid(p) == typeid(TBinaryProtocol) ? static_cast<TBinaryProtocol *>(&p) : nullptr;
}

// Either form of the binary protocol.
bool speaksBinary(TProtocol &p)
{
    return typeid(p) == typeid(TBinaryProtocol) || typeid(p) == typeid(BufferedBinaryProtocol);
}

// Calls `f` with the same protocol, with the same settings, typed for its
// transport when that buffers: reads and writes are then inline copies
// instead of a virtual call per value. Otherwise with `binary` itself.
template<typename F>
void withBuffering(TBinaryProtocol &binary, F &&f)
{
    if (auto buffer = std::dynamic_pointer_cast<apache::thrift::transport::TBufferBase>(binary.getTransport())) {
        BufferedBinaryProtocol buffered(std::move(buffer), StringLimit::of(binary), Settings::containerLimit(binary),
                                        Settings::strictRead(binary), Settings::strictWrite(binary));
        f(buffered);
    } else {
        f(binary);
    }
}

} // namespace

void Record::read(TProtocol &in)
{
    if (TBinaryProtocol *binary = asBinary(in)) {
        StringBound bound(*binary);
        withBuffering(*binary, [this](auto &protocol) { readStruct(*this, protocol); });
    } else {
        readStruct(*this, in);
    }
}

void Record::readFields(TProtocol &in)
{
    readStruct(*this, in);
}

void Record::readFields(TBinaryProtocol &in)
{
    readStruct(*this, in);
}

void Record::readFields(BufferedBinaryProtocol &in)
{
    readStruct(*this, in);
}

void Record::write(TProtocol &out) const
{
    if (TBinaryProtocol *binary = asBinary(out))
        withBuffering(*binary, [this](auto &protocol) { writeStruct(*this, protocol); });
    else
        writeStruct(*this, out);
}

void Record::writeFields(TProtocol &out) const
{
    writeStruct(*this, out);
}

void Record::writeFields(TBinaryProtocol &out) const
{
    writeStruct(*this, out);
}

void Record::writeFields(BufferedBinaryProtocol &out) const
{
    writeStruct(*this, out);
}

std::string Record::description() const
{
    const RecordLayout &table = layout();
    std::string s = table.wireName();
    s += '(';
    bool first = true;
    for (const FieldInfo &field : table.fields()) {
        if (!first)
            s += ',';
        first = false;
        field.describe(*this, s);
    }
    if (const KeptFields *kept = table.kept()) {
        if (!first)
            s += ',';
        kept->describe(*this, s);
    }
    s += ')';
    return s;
}

void Record::encodeWithCoder(KeyedArchive &coder) const
{
    const RecordLayout &table = layout();
    for (const FieldInfo &field : table.fields())
        field.encode(*this, coder);
    if (const KeptFields *kept = table.kept())
        kept->encode(*this, coder);
}

void Record::decodeFields(const KeyedArchive &coder)
{
    decodeFields(layout(), coder);
}

void Record::decodeFields(const RecordLayout &table, const KeyedArchive &coder)
{
    for (const FieldInfo &field : table.fields())
        field.decode(*this, coder);
    if (const KeptFields *kept = table.kept())
        kept->decode(*this, coder);
}

namespace {

constexpr const char *kKeptKey = "keptFields";

// The kept fields on a binary protocol of their own.
std::shared_ptr<TMemoryBuffer> keptBuffer(std::string_view kept)
{
    return std::make_shared<TMemoryBuffer>(reinterpret_cast<std::uint8_t *>(const_cast<char *>(kept.data())),
                                           static_cast<std::uint32_t>(kept.size()), TMemoryBuffer::OBSERVE);
}

} // namespace

const KeptFields OpaqueRecord::keeping{
    [](Record &r, TProtocol &in, TType type, std::int16_t id) {
        auto buffer = std::make_shared<TMemoryBuffer>();
        TBinaryProtocol out(buffer, 0, 0, false, false);
        out.writeFieldBegin("", type, id);
        detail::copyValue(in, out, type);
        out.writeFieldEnd();
        static_cast<OpaqueRecord &>(r).m_kept += buffer->getBufferAsString();
    },
    [](const Record &r, TProtocol &out) {
        const std::string &kept = static_cast<const OpaqueRecord &>(r).m_kept;
        if (kept.empty())
            return;
        if (speaksBinary(out)) {
            TransportOf::of(out)->write(reinterpret_cast<const std::uint8_t *>(kept.data()),
                                        static_cast<std::uint32_t>(kept.size()));
            return;
        }
        auto buffer = keptBuffer(kept);
        TBinaryProtocol in(buffer, static_cast<std::int32_t>(kept.size()), 0, false, false);
        std::string name;
        TType type;
        std::int16_t id;
        while (buffer->available_read() != 0) {
            in.readFieldBegin(name, type, id);
            out.writeFieldBegin("", type, id);
            detail::copyValue(in, out, type);
            out.writeFieldEnd();
        }
    },
    [](const Record &r, std::string &s) { detail::appendHex(s, Bytes(static_cast<const OpaqueRecord &>(r).m_kept)); },
    [](const Record &r, KeyedArchive &coder) {
        const std::string &kept = static_cast<const OpaqueRecord &>(r).m_kept;
        if (!kept.empty())
            coder.encodeObject(kKeptKey, ArchiveValue::bytes(Bytes(kept)));
    },
    [](Record &r, const KeyedArchive &coder) {
        const ArchiveValue *a = coder.valueForKey(kKeptKey);
        if (!a || a->kind != ArchiveValue::Kind::Bytes)
            return;
        // Only what reads as whole fields is taken: a damaged archive must
        // not make the record write a broken struct.
        const std::string_view bytes = std::get<Bytes>(a->value).view();
        try {
            auto buffer = keptBuffer(bytes);
            TBinaryProtocol in(buffer, static_cast<std::int32_t>(bytes.size()), 0, false, false);
            while (buffer->available_read() != 0) {
                std::string name;
                TType type;
                std::int16_t id;
                in.readFieldBegin(name, type, id);
                if (type == apache::thrift::protocol::T_STOP)
                    return;
                in.skip(type);
            }
        } catch (const apache::thrift::TException &) {
            return;
        }
        static_cast<OpaqueRecord &>(r).m_kept = bytes;
    },
};

namespace detail {

void copyValue(TProtocol &in, TProtocol &out, TType type)
{
    using namespace apache::thrift::protocol;
    TInputRecursionTracker depth(in);
    switch (type) {
    case T_BOOL:
        // Between two binary protocols the byte goes over as it is, so that
        // a true that is not 1 stays what it was.
        if (speaksBinary(in) && speaksBinary(out)) {
            std::int8_t v;
            in.readByte(v);
            out.writeByte(v);
        } else {
            bool v;
            in.readBool(v);
            out.writeBool(v);
        }
        return;
    case T_BYTE: {
        std::int8_t v;
        in.readByte(v);
        out.writeByte(v);
        return;
    }
    case T_I16: {
        std::int16_t v;
        in.readI16(v);
        out.writeI16(v);
        return;
    }
    case T_I32: {
        std::int32_t v;
        in.readI32(v);
        out.writeI32(v);
        return;
    }
    case T_I64: {
        std::int64_t v;
        in.readI64(v);
        out.writeI64(v);
        return;
    }
    case T_DOUBLE: {
        double v;
        in.readDouble(v);
        out.writeDouble(v);
        return;
    }
    case T_STRING: {
        std::string v;
        in.readBinary(v);
        out.writeBinary(v);
        return;
    }
    case T_STRUCT: {
        std::string name;
        TType fieldType;
        std::int16_t id;
        in.readStructBegin(name);
        out.writeStructBegin("");
        for (;;) {
            in.readFieldBegin(name, fieldType, id);
            if (fieldType == T_STOP)
                break;
            out.writeFieldBegin("", fieldType, id);
            copyValue(in, out, fieldType);
            in.readFieldEnd();
            out.writeFieldEnd();
        }
        out.writeFieldStop();
        in.readStructEnd();
        out.writeStructEnd();
        return;
    }
    case T_MAP: {
        TType keyType, valueType;
        std::uint32_t count;
        in.readMapBegin(keyType, valueType, count);
        out.writeMapBegin(keyType, valueType, count);
        for (std::uint32_t i = 0; i < count; ++i) {
            copyValue(in, out, keyType);
            copyValue(in, out, valueType);
        }
        in.readMapEnd();
        out.writeMapEnd();
        return;
    }
    case T_SET: {
        TType elementType;
        std::uint32_t count;
        in.readSetBegin(elementType, count);
        out.writeSetBegin(elementType, count);
        for (std::uint32_t i = 0; i < count; ++i)
            copyValue(in, out, elementType);
        in.readSetEnd();
        out.writeSetEnd();
        return;
    }
    case T_LIST: {
        TType elementType;
        std::uint32_t count;
        in.readListBegin(elementType, count);
        out.writeListBegin(elementType, count);
        for (std::uint32_t i = 0; i < count; ++i)
            copyValue(in, out, elementType);
        in.readListEnd();
        out.writeListEnd();
        return;
    }
    default: throw TProtocolException(TProtocolException::INVALID_DATA, "invalid TType");
    }
}

std::size_t boundedCapacity(TProtocol &in, std::uint32_t count, std::size_t minWireSize)
{
    // A buffering transport tells how much it holds when asked to lend
    // nothing; any other leaves `left` at 0 and the container grows as
    // elements arrive.
    std::uint32_t left = 0;
    TransportOf::of(in)->borrow(nullptr, &left);
    return std::min<std::size_t>(count, left / std::max<std::size_t>(minWireSize, 1));
}

void appendInteger(std::string &out, std::int64_t v)
{
    char buf[24];
    auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
    out.append(buf, end);
}

// "%f": fixed, six decimals, a point whatever the user's locale.
void appendDouble(std::string &out, double v)
{
    char buf[400];
    auto result = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
    out.append(buf, result.ptr);
}

void appendQuoted(std::string &out, std::string_view s)
{
    out += '"';
    out += s;
    out += '"';
}

// Hex digits in angle brackets, a space after every four bytes.
void writeLent(TProtocol &out, const Bytes &bytes)
{
    if (!speaksBinary(out)) {
        out.writeBinary(std::string(bytes.view()));
        return;
    }
    if (bytes.size() > std::size_t(std::numeric_limits<std::int32_t>::max()))
        throw apache::thrift::protocol::TProtocolException(apache::thrift::protocol::TProtocolException::SIZE_LIMIT);
    out.writeI32(static_cast<std::int32_t>(bytes.size()));
    if (bytes.empty())
        return;
    auto *transport = TransportOf::of(out);
    if (auto *buffer = dynamic_cast<RequestBuffer *>(transport);
        buffer && bytes.lentFile() && buffer->writeLentFile(bytes.lentFile()))
        return;
    const std::string_view view = bytes.view();
    transport->write(reinterpret_cast<const std::uint8_t *>(view.data()), static_cast<std::uint32_t>(view.size()));
}

void appendHex(std::string &out, const Bytes &b)
{
    static constexpr char digits[] = "0123456789abcdef";
    const std::string_view bytes = b.view();
    out += '<';
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i && i % 4 == 0)
            out += ' ';
        out += digits[std::uint8_t(bytes[i]) >> 4];
        out += digits[std::uint8_t(bytes[i]) & 0xf];
    }
    out += '>';
}

} // namespace detail

} // namespace ravadido
