#include "Record.h"

#include <thrift/protocol/TBinaryProtocol.h>
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

// The binary protocol keeps its string limit to itself; a derived class may
// name it.
struct StringLimit : TBinaryProtocol
{
    static std::int32_t &of(TBinaryProtocol &p) { return p.*(&StringLimit::string_limit_); }
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
        protocol_ = &binary;
        saved_ = limit;
        // 0 means "no limit" to the protocol; an empty buffer allows 1 byte,
        // which the read then fails to find.
        limit = std::max(left, 1);
    }
    ~StringBound()
    {
        if (protocol_)
            StringLimit::of(*protocol_) = saved_;
    }
    StringBound(const StringBound &) = delete;
    StringBound &operator=(const StringBound &) = delete;

private:
    TBinaryProtocol *protocol_ = nullptr;
    std::int32_t saved_ = 0;
};

} // namespace

RecordLayout::RecordLayout(const char *wireName, std::vector<FieldInfo> fields)
    : wireName_(wireName), fields_(std::move(fields))
{
    std::int16_t highest = -1;
    for (const FieldInfo &f : fields_)
        highest = std::max(highest, f.id);
    byId_.assign(static_cast<std::size_t>(highest + 1), -1);
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i].id >= 0)
            byId_[static_cast<std::size_t>(fields_[i].id)] = static_cast<std::int16_t>(i);
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
            } else {
                field->read(record, in);
            }
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
        } else {
            field.write(record, out);
        }
    }
    out.writeFieldStop();
    out.writeStructEnd();
}

// The protocol the service speaks, called without virtual dispatch; a
// class derived from it takes the general road.
TBinaryProtocol *asBinary(TProtocol &p)
{
    return typeid(p) == typeid(TBinaryProtocol) ? static_cast<TBinaryProtocol *>(&p) : nullptr;
}

} // namespace

void Record::read(TProtocol &in)
{
    if (TBinaryProtocol *binary = asBinary(in)) {
        StringBound bound(*binary);
        readStruct(*this, *binary);
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

void Record::write(TProtocol &out) const
{
    if (TBinaryProtocol *binary = asBinary(out))
        writeStruct(*this, *binary);
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
    s += ')';
    return s;
}

void Record::encodeWithCoder(KeyedArchive &coder) const
{
    for (const FieldInfo &field : layout().fields())
        field.encode(*this, coder);
}

void Record::decodeFields(const KeyedArchive &coder)
{
    decodeFields(layout(), coder);
}

void Record::decodeFields(const RecordLayout &table, const KeyedArchive &coder)
{
    for (const FieldInfo &field : table.fields())
        field.decode(*this, coder);
}

namespace detail {

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
void appendHex(std::string &out, const Bytes &b)
{
    static constexpr char digits[] = "0123456789abcdef";
    out += '<';
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i && i % 4 == 0)
            out += ' ';
        out += digits[b.data()[i] >> 4];
        out += digits[b.data()[i] & 0xf];
    }
    out += '>';
}

} // namespace detail

} // namespace ravadido
