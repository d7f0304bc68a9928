#pragma once

// The record engine: every Ravadido record is a field table plus generic
// code that reads, writes, describes and archives any table.
//
// Adding a record takes one step, in the header of its family (see RURUData
// in Types.h): list its fields once, in declaration order, as an X-macro,
// and name it in the header's record list (continuation backslashes left out):
//
//     #define RURU_DATA_FIELDS(X)
//         X(1, bodyHash, BodyHash, codec::Binary)
//         X(2, size, Size, codec::I32)
//         X(3, body, Body, codec::Binary)
//
//     #define RURU_TYPES_RECORDS(R)
//         ...
//         R(RURUData, "Data", RURU_DATA_FIELDS)
//         ...
//
// Each field is (wire id, field name, capitalised name, codec). The order of
// the fields is the order of writing, of the description, of the archive
// and of the all-fields constructor's parameters; it need not be id order,
// and ids may be skipped. The header declares every class of its list with
// RAVADIDO_DECLARE_RECORD, its source file defines them with
// RAVADIDO_DEFINE_RECORD, and RAVADIDO_RECORDS (Records.h) joins the lists:
// the fuzzer, its seeds and the cross-check's samples take a new record up
// by themselves (the cross-check needs it in tests/thrift/types.thrift).
//
// Every record then has, per field `size`: `size()`, `setSize(v)`,
// `sizeIsSet()`, `unsetSize()`; plus a default constructor (every field
// unset), the all-fields constructor (every flag set, nil objects included),
// a constructor from a KeyedArchive, `read`, `write`, `description` and
// `encodeWithCoder`.
//
// Codecs (namespace ravadido::codec) and what a field of that codec holds:
//   Bool, I16, I32, EnumI32, I64, Double  the C++ scalar (EnumI32 is an i32
//                                         archived as a native int)
//   String                                std::optional<std::string> (UTF-8)
//   Binary                                std::optional<Bytes>
//   Struct<R>                             std::shared_ptr<R> (nil: nullptr);
//                                         one object may sit in two fields
//   List<E>                               std::optional<std::vector<E-element>>
//   Set<E>                                std::optional<std::set<E-element>>
//   Map<K, V>                             std::optional<std::map<K-el, V-el>>
// where the element of String is std::string, of Binary Bytes, of Struct<R>
// std::shared_ptr<R>, of a scalar the scalar. Aliases for the containers
// that occur: StringList, I64List, StructList<R>, StringSet, StringMap,
// StringI32Map (spelt out, Map<String, I32> works as well: the codec is the
// macro's last argument).
//
// Object getters return a const reference, valid until the field changes.
// Setters take the value (std::nullopt or nullptr for nil) and set the flag.
//
// A record that writes differently (a call result writes only its first
// set field) overrides `write` and walks `layout().fields()` with each
// row's isSet / isPresent / writeValue; reading stays generic. A record
// that is also a thrown exception derives from RecordException (Errors.h)
// instead of Record and puts RAVADIDO_RECORD in its class body. A record
// that reads none of its fields derives from OpaqueRecord: it keeps the
// struct it read and writes it back unchanged.

#include "Bytes.h"
#include "KeyedArchive.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/protocol/TProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace ravadido {

using apache::thrift::protocol::TBinaryProtocol;
// The binary protocol over a buffering transport (a memory buffer, say),
// whose reads are inline copies instead of a virtual call each.
using BufferedBinaryProtocol = apache::thrift::protocol::TBinaryProtocolT<apache::thrift::transport::TBufferBase>;
using apache::thrift::protocol::TProtocol;
using apache::thrift::protocol::TType;

class Record;

// One row of a record's field table. The operations act on the record that
// owns the field; the generic engine and the call result records use them.
struct FieldInfo
{
    std::int16_t id;
    TType type;
    const char *name;
    // Reads a value of the field's type and stores it, setting the flag.
    void (*read)(Record &, TProtocol &);
    // Writes header, value and field end when the field is set and present.
    void (*write)(const Record &, TProtocol &);
    bool (*isSet)(const Record &);
    // Set and, for an object field, not nil: what goes on the wire.
    bool (*isPresent)(const Record &);
    // The value alone (no field header).
    void (*writeValue)(const Record &, TProtocol &);
    // Appends "name:value" as the description shows it (no separator).
    void (*describe)(const Record &, std::string &);
    // Saves the field under its name when set.
    void (*encode)(const Record &, KeyedArchive &);
    // Restores the field when its name is in the archive.
    void (*decode)(Record &, const KeyedArchive &);
    // `read` and `write` for the binary protocol called directly, without a
    // virtual call per value, on any transport (Binary) and typed for a
    // buffering one (Buffered). Optional: a row without them takes the
    // general road.
    void (*readBinary)(Record &, TBinaryProtocol &) = nullptr;
    void (*writeBinary)(const Record &, TBinaryProtocol &, const FieldInfo &) = nullptr;
    void (*readBuffered)(Record &, BufferedBinaryProtocol &) = nullptr;
    void (*writeBuffered)(const Record &, BufferedBinaryProtocol &, const FieldInfo &) = nullptr;
};

// How a record keeps the fields its table has no row for, instead of
// skipping them.
struct KeptFields
{
    // Stores one field whose header has been read.
    void (*keep)(Record &, TProtocol &in, TType type, std::int16_t id);
    // Writes what was kept, after the table's fields.
    void (*write)(const Record &, TProtocol &out);
    // Appends what was kept to the description (no separator).
    void (*describe)(const Record &, std::string &);
    void (*encode)(const Record &, KeyedArchive &);
    void (*decode)(Record &, const KeyedArchive &);
};

// A record's wire name and field table, with an index from wire id to row.
class RecordLayout
{
public:
    RecordLayout(const char *wireName, std::vector<FieldInfo> fields, const KeptFields *kept = nullptr);

    const char *wireName() const { return m_wireName; }
    std::span<const FieldInfo> fields() const { return m_fields; }
    // Null for a record that skips unknown fields (all but the opaque ones).
    const KeptFields *kept() const { return m_kept; }

    // The row for a wire id, or nullptr for an id the record does not have.
    const FieldInfo *find(std::int16_t id) const
    {
        if (id < 0 || static_cast<std::size_t>(id) >= m_byId.size() || m_byId[id] < 0)
            return nullptr;
        return &m_fields[m_byId[id]];
    }

private:
    const char *m_wireName;
    std::vector<FieldInfo> m_fields;
    std::vector<std::int16_t> m_byId;
    const KeptFields *m_kept;
};

class Record
{
public:
    virtual ~Record() = default;

    virtual const RecordLayout &layout() const = 0;

    // Reads one struct from `in`. Fields accepted are those whose id and
    // wire type match the table; anything else is skipped. Fields that do
    // not occur keep their state; a repeated field keeps the later value.
    // Over a binary protocol on a memory buffer, no string or container
    // read may claim more than the bytes left in it; on other transports
    // set the protocol's string limit to the message length.
    virtual void read(TProtocol &in);
    // The same without the set-up; nested records read this way.
    void readFields(TProtocol &in);
    void readFields(TBinaryProtocol &in);
    void readFields(BufferedBinaryProtocol &in);

    // Writes one struct: scalars when set, objects when set and not nil,
    // in declaration order.
    virtual void write(TProtocol &out) const;
    // The same, not overridable; nested records write this way.
    void writeFields(TProtocol &out) const;
    void writeFields(TBinaryProtocol &out) const;
    void writeFields(BufferedBinaryProtocol &out) const;

    // "Name(field:value,...)" with every field, set or not.
    std::string description() const;

    // Saves the set fields under their names.
    void encodeWithCoder(KeyedArchive &coder) const;
    // Restores each field whose name the archive holds (what the archive
    // constructor does, on a record that exists).
    void decodeFields(const KeyedArchive &coder);

protected:
    Record() = default;
    Record(const Record &) = default;
    Record &operator=(const Record &) = default;

    void decodeFields(const RecordLayout &layout, const KeyedArchive &coder);
};

// A record that reads none of the fields of its struct: it keeps them as
// the binary protocol writes them and writes them back unchanged, so that
// nothing the sender put in is lost on the way through. Its description
// shows the kept bytes; its archive holds them under "keptFields".
class OpaqueRecord : public Record
{
public:
    // The kept fields in binary-protocol form, without the final stop.
    const std::string &keptFields() const { return m_kept; }

protected:
    OpaqueRecord() = default;
    OpaqueRecord(const OpaqueRecord &) = default;
    OpaqueRecord &operator=(const OpaqueRecord &) = default;

    // The layout of every opaque record: no rows, these hooks.
    static const KeptFields keeping;

private:
    std::string m_kept;
};

// An opaque record class: its wire name, a default constructor and one from
// a KeyedArchive. Define it with RAVADIDO_DEFINE_OPAQUE_RECORD.
#define RAVADIDO_DECLARE_OPAQUE_RECORD(Class)                                                        \
    class Class final : public ::ravadido::OpaqueRecord                                              \
    {                                                                                                \
    public:                                                                                          \
        Class() = default;                                                                           \
        explicit Class(const ::ravadido::KeyedArchive &coder) { decodeFields(recordLayout, coder); } \
        static const ::ravadido::RecordLayout recordLayout;                                          \
        const ::ravadido::RecordLayout &layout() const override { return recordLayout; }             \
    };

// The field list of an opaque record, for lists of records.
#define RAVADIDO_NO_FIELDS(X)

#define RAVADIDO_DEFINE_OPAQUE_RECORD(Class, wire) \
    const ::ravadido::RecordLayout Class::recordLayout{wire, {}, &OpaqueRecord::keeping};

namespace detail {

// Copies one value of wire type `type` from `in` to `out`, nested values
// included; an unknown type is a protocol error.
void copyValue(TProtocol &in, TProtocol &out, TType type);

// Container capacity to reserve for `count` announced elements: never more
// than the bytes the transport still holds could encode.
std::size_t boundedCapacity(TProtocol &in, std::uint32_t count, std::size_t minWireSize);

void appendInteger(std::string &out, std::int64_t v);
void appendDouble(std::string &out, double v);
void appendQuoted(std::string &out, std::string_view s);
void appendHex(std::string &out, const Bytes &b);
// A binary value from where it lies, without a string of its own in between
// on the binary protocols; a lent file goes to a RequestBuffer unread.
void writeLent(TProtocol &out, const Bytes &bytes);

// Closes the all-fields constructor's parameter list, so that the macro
// can put a comma after every field.
struct LastParameter
{
};

} // namespace detail

namespace codec {

// A scalar codec: T the held value, Wire the Thrift type.
template<typename T, TType Wire, std::size_t MinSize, ArchiveValue::Kind ArchiveKind>
struct Scalar
{
    using Value = T;
    using Element = T;
    using Getter = T;
    static constexpr TType type = Wire;
    static constexpr bool isObject = false;
    static constexpr std::size_t minWireSize = MinSize;

    template<typename P>
    static void readElement(P &in, T &v)
    {
        if constexpr (Wire == apache::thrift::protocol::T_BOOL)
            in.readBool(v);
        else if constexpr (Wire == apache::thrift::protocol::T_I16)
            in.readI16(v);
        else if constexpr (Wire == apache::thrift::protocol::T_I32)
            in.readI32(v);
        else if constexpr (Wire == apache::thrift::protocol::T_I64)
            in.readI64(v);
        else
            in.readDouble(v);
    }
    template<typename P>
    static void writeElement(P &out, const T &v)
    {
        if constexpr (Wire == apache::thrift::protocol::T_BOOL)
            out.writeBool(v);
        else if constexpr (Wire == apache::thrift::protocol::T_I16)
            out.writeI16(v);
        else if constexpr (Wire == apache::thrift::protocol::T_I32)
            out.writeI32(v);
        else if constexpr (Wire == apache::thrift::protocol::T_I64)
            out.writeI64(v);
        else
            out.writeDouble(v);
    }
    static void describeElement(std::string &s, const T &v)
    {
        if constexpr (Wire == apache::thrift::protocol::T_DOUBLE)
            detail::appendDouble(s, v);
        else
            detail::appendInteger(s, static_cast<std::int64_t>(v));
    }
    static ArchiveValue archiveElement(const T &v)
    {
        if constexpr (ArchiveKind == ArchiveValue::Kind::Bool)
            return ArchiveValue::boolean(v);
        else if constexpr (ArchiveKind == ArchiveValue::Kind::Double)
            return ArchiveValue::real(v);
        else
            return ArchiveValue::integer(ArchiveKind, v);
    }
    static std::optional<T> unarchiveElement(const ArchiveValue &a)
    {
        if constexpr (ArchiveKind == ArchiveValue::Kind::Bool)
            return a.kind == ArchiveValue::Kind::Bool ? std::optional<T>(std::get<bool>(a.value)) : std::nullopt;
        else if constexpr (ArchiveKind == ArchiveValue::Kind::Double)
            return a.kind == ArchiveValue::Kind::Double ? std::optional<T>(std::get<double>(a.value)) : std::nullopt;
        else
            return a.integer<T>();
    }

    static bool present(const T &) { return true; }
    template<typename P>
    static void read(P &in, T &v)
    {
        T read{};
        readElement(in, read);
        v = read;
    }
    template<typename P>
    static void write(P &out, const T &v)
    {
        writeElement(out, v);
    }
    static void describe(std::string &s, const T &v) { describeElement(s, v); }
    static void encode(KeyedArchive &coder, const std::string &key, const T &v)
    {
        coder.encodeObject(key, archiveElement(v));
    }
    // Outer optional: whether the archive gives the field a value.
    static std::optional<T> decode(const KeyedArchive &coder, const std::string &key)
    {
        const ArchiveValue *a = coder.valueForKey(key);
        return a ? unarchiveElement(*a) : std::nullopt;
    }
    static void unset(T &) {} // a scalar keeps its value when unset
};

using Bool = Scalar<bool, apache::thrift::protocol::T_BOOL, 1, ArchiveValue::Kind::Bool>;
using I16 = Scalar<std::int16_t, apache::thrift::protocol::T_I16, 2, ArchiveValue::Kind::Int>;
using I32 = Scalar<std::int32_t, apache::thrift::protocol::T_I32, 4, ArchiveValue::Kind::Int32>;
using EnumI32 = Scalar<std::int32_t, apache::thrift::protocol::T_I32, 4, ArchiveValue::Kind::Int>;
using I64 = Scalar<std::int64_t, apache::thrift::protocol::T_I64, 8, ArchiveValue::Kind::Int64>;
using Double = Scalar<double, apache::thrift::protocol::T_DOUBLE, 8, ArchiveValue::Kind::Double>;

// An object codec held as std::optional<E> (nil: nullopt). Derived gives
// readElement, writeElement, describeElement, archiveElement and
// unarchiveElement for E, and nilText.
template<typename Derived, typename E>
struct Nullable
{
    using Element = E;
    using Value = std::optional<E>;
    using Getter = const Value &;
    static constexpr bool isObject = true;

    static bool present(const Value &v) { return v.has_value(); }
    // Reads straight into a nil field; a field that holds a value (a
    // repeated id) keeps it until the new one is complete.
    template<typename P>
    static void read(P &in, Value &v)
    {
        if (v) {
            E e;
            Derived::readElement(in, e);
            v = std::move(e);
            return;
        }
        v.emplace();
        try {
            Derived::readElement(in, *v);
        } catch (...) {
            v.reset();
            throw;
        }
    }
    template<typename P>
    static void write(P &out, const Value &v)
    {
        Derived::writeElement(out, *v);
    }
    static void describe(std::string &s, const Value &v)
    {
        if (v)
            Derived::describeElement(s, *v);
        else
            s += Derived::nilText;
    }
    static void encode(KeyedArchive &coder, const std::string &key, const Value &v)
    {
        coder.encodeObject(key, v ? Derived::archiveElement(*v) : ArchiveValue::nil());
    }
    static std::optional<Value> decode(const KeyedArchive &coder, const std::string &key)
    {
        const ArchiveValue *a = coder.valueForKey(key);
        if (!a)
            return std::nullopt;
        if (a->isNil())
            return Value{};
        if (auto e = Derived::unarchiveElement(*a))
            return Value{std::move(*e)};
        return std::nullopt;
    }
    static void unset(Value &v) { v.reset(); }
};

struct String : Nullable<String, std::string>
{
    static constexpr TType type = apache::thrift::protocol::T_STRING;
    static constexpr std::size_t minWireSize = 4;
    static constexpr const char *nilText = "\"(null)\"";

    template<typename P>
    static void readElement(P &in, std::string &v)
    {
        in.readString(v);
    }
    template<typename P>
    static void writeElement(P &out, const std::string &v)
    {
        out.writeString(v);
    }
    static void describeElement(std::string &s, const std::string &v) { detail::appendQuoted(s, v); }
    static ArchiveValue archiveElement(const std::string &v) { return ArchiveValue::string(v); }
    static std::optional<std::string> unarchiveElement(const ArchiveValue &a)
    {
        if (a.kind != ArchiveValue::Kind::String)
            return std::nullopt;
        return std::get<std::string>(a.value);
    }
};

// Same wire type as String; a codec of its own because the bytes need not
// be text (the protocol's binary calls, hex in the description).
struct Binary : Nullable<Binary, Bytes>
{
    static constexpr TType type = apache::thrift::protocol::T_STRING;
    static constexpr std::size_t minWireSize = 4;
    static constexpr const char *nilText = "\"(null)\"";

    template<typename P>
    static void readElement(P &in, Bytes &v)
    {
        in.readBinary(v.storage());
    }
    template<typename P>
    static void writeElement(P &out, const Bytes &v)
    {
        if constexpr (requires { out.writeString(v.view()); })
            out.writeString(v.view());
        else if (v.isLent())
            detail::writeLent(out, v);
        else
            out.writeBinary(v.storage());
    }
    static void describeElement(std::string &s, const Bytes &v)
    {
        s += '"';
        detail::appendHex(s, v);
        s += '"';
    }
    static ArchiveValue archiveElement(const Bytes &v) { return ArchiveValue::bytes(v); }
    static std::optional<Bytes> unarchiveElement(const ArchiveValue &a)
    {
        if (a.kind != ArchiveValue::Kind::Bytes)
            return std::nullopt;
        return std::get<Bytes>(a.value);
    }
};

template<typename R>
struct Struct
{
    using Element = std::shared_ptr<R>;
    using Value = std::shared_ptr<R>;
    using Getter = const Value &;
    static constexpr TType type = apache::thrift::protocol::T_STRUCT;
    static constexpr bool isObject = true;
    static constexpr std::size_t minWireSize = 1;

    // Always a fresh object, even when the sender wrote one record twice.
    template<typename P>
    static void readElement(P &in, Element &v)
    {
        auto r = std::make_shared<R>();
        r->readFields(in);
        v = std::move(r);
    }
    // A nil element of a list still takes its place: an empty struct.
    template<typename P>
    static void writeElement(P &out, const Element &v)
    {
        if (v) {
            v->writeFields(out);
        } else {
            out.writeStructBegin(R::recordLayout.wireName());
            out.writeFieldStop();
            out.writeStructEnd();
        }
    }
    static void describeElement(std::string &s, const Element &v)
    {
        if (v)
            s += v->description();
        else
            s += "(null)";
    }
    static ArchiveValue archiveElement(const Element &v)
    {
        if (!v)
            return ArchiveValue::nil();
        auto nested = std::make_shared<KeyedArchive>(R::recordLayout.wireName());
        v->encodeWithCoder(*nested);
        return ArchiveValue::record(std::move(nested));
    }
    static std::optional<Element> unarchiveElement(const ArchiveValue &a)
    {
        if (a.isNil())
            return Element{};
        if (a.kind != ArchiveValue::Kind::Record)
            return std::nullopt;
        return std::make_shared<R>(*std::get<std::shared_ptr<const KeyedArchive>>(a.value));
    }

    static bool present(const Value &v) { return v != nullptr; }
    template<typename P>
    static void read(P &in, Value &v)
    {
        readElement(in, v);
    }
    template<typename P>
    static void write(P &out, const Value &v)
    {
        v->writeFields(out);
    }
    static void describe(std::string &s, const Value &v) { describeElement(s, v); }
    static void encode(KeyedArchive &coder, const std::string &key, const Value &v)
    {
        coder.encodeObject(key, archiveElement(v));
    }
    static std::optional<Value> decode(const KeyedArchive &coder, const std::string &key)
    {
        const ArchiveValue *a = coder.valueForKey(key);
        if (!a)
            return std::nullopt;
        return unarchiveElement(*a);
    }
    static void unset(Value &v) { v.reset(); }
};

template<typename E>
struct List : Nullable<List<E>, std::vector<typename E::Element>>
{
    using Items = std::vector<typename E::Element>;
    static constexpr TType type = apache::thrift::protocol::T_LIST;
    static constexpr std::size_t minWireSize = 5;
    static constexpr const char *nilText = "(null)";

    // The announced element type is not checked: elements are read as
    // declared, and a mismatch fails in the protocol or reads garbage,
    // never out of bounds.
    template<typename P>
    static void readElement(P &in, Items &v)
    {
        TType elementType;
        std::uint32_t count;
        in.readListBegin(elementType, count);
        v.reserve(detail::boundedCapacity(in, count, E::minWireSize));
        // An element joins only once read, so the one that runs out of
        // bytes cannot grow the container past its reservation.
        for (std::uint32_t i = 0; i < count; ++i) {
            typename E::Element e{};
            E::readElement(in, e);
            v.push_back(std::move(e));
        }
        in.readListEnd();
    }
    template<typename P>
    static void writeElement(P &out, const Items &v)
    {
        out.writeListBegin(E::type, static_cast<std::uint32_t>(v.size()));
        for (const auto &e : v)
            E::writeElement(out, e);
        out.writeListEnd();
    }
    static void describeElement(std::string &s, const Items &v)
    {
        s += '(';
        for (std::size_t i = 0; i < v.size(); ++i) {
            if (i)
                s += ", ";
            E::describeElement(s, v[i]);
        }
        s += ')';
    }
    static ArchiveValue archiveElement(const Items &v)
    {
        ArchiveValue::Array a;
        a.reserve(v.size());
        for (const auto &e : v)
            a.push_back(E::archiveElement(e));
        return ArchiveValue::array(std::move(a));
    }
    static std::optional<Items> unarchiveElement(const ArchiveValue &a)
    {
        if (a.kind != ArchiveValue::Kind::Array)
            return std::nullopt;
        Items items;
        for (const auto &e : std::get<ArchiveValue::Array>(a.value)) {
            auto item = E::unarchiveElement(e);
            if (!item)
                return std::nullopt;
            items.push_back(std::move(*item));
        }
        return items;
    }
};

template<typename E>
struct Set : Nullable<Set<E>, std::set<typename E::Element>>
{
    using Items = std::set<typename E::Element>;
    static constexpr TType type = apache::thrift::protocol::T_SET;
    static constexpr std::size_t minWireSize = 5;
    static constexpr const char *nilText = "(null)";

    template<typename P>
    static void readElement(P &in, Items &v)
    {
        TType elementType;
        std::uint32_t count;
        in.readSetBegin(elementType, count);
        for (std::uint32_t i = 0; i < count; ++i) {
            typename E::Element e;
            E::readElement(in, e);
            v.insert(std::move(e));
        }
        in.readSetEnd();
    }
    template<typename P>
    static void writeElement(P &out, const Items &v)
    {
        out.writeSetBegin(E::type, static_cast<std::uint32_t>(v.size()));
        for (const auto &e : v)
            E::writeElement(out, e);
        out.writeSetEnd();
    }
    static void describeElement(std::string &s, const Items &v)
    {
        s += "{(";
        bool first = true;
        for (const auto &e : v) {
            if (!first)
                s += ", ";
            first = false;
            E::describeElement(s, e);
        }
        s += ")}";
    }
    static ArchiveValue archiveElement(const Items &v)
    {
        ArchiveValue::Array a;
        for (const auto &e : v)
            a.push_back(E::archiveElement(e));
        return ArchiveValue::set(std::move(a));
    }
    static std::optional<Items> unarchiveElement(const ArchiveValue &a)
    {
        if (a.kind != ArchiveValue::Kind::Set)
            return std::nullopt;
        Items items;
        for (const auto &e : std::get<ArchiveValue::Array>(a.value)) {
            auto item = E::unarchiveElement(e);
            if (!item)
                return std::nullopt;
            items.insert(std::move(*item));
        }
        return items;
    }
};

// Keys are strings in every map of the API.
template<typename K, typename V>
struct Map : Nullable<Map<K, V>, std::map<typename K::Element, typename V::Element>>
{
    using Items = std::map<typename K::Element, typename V::Element>;
    static constexpr TType type = apache::thrift::protocol::T_MAP;
    static constexpr std::size_t minWireSize = 6;
    static constexpr const char *nilText = "(null)";

    template<typename P>
    static void readElement(P &in, Items &v)
    {
        TType keyType, valueType;
        std::uint32_t count;
        in.readMapBegin(keyType, valueType, count);
        for (std::uint32_t i = 0; i < count; ++i) {
            typename K::Element key;
            typename V::Element value;
            K::readElement(in, key);
            V::readElement(in, value);
            v.insert_or_assign(std::move(key), std::move(value));
        }
        in.readMapEnd();
    }
    template<typename P>
    static void writeElement(P &out, const Items &v)
    {
        out.writeMapBegin(K::type, V::type, static_cast<std::uint32_t>(v.size()));
        for (const auto &[key, value] : v) {
            K::writeElement(out, key);
            V::writeElement(out, value);
        }
        out.writeMapEnd();
    }
    static void describeElement(std::string &s, const Items &v)
    {
        s += '{';
        bool first = true;
        for (const auto &[key, value] : v) {
            if (!first)
                s += ", ";
            first = false;
            K::describeElement(s, key);
            s += " = ";
            V::describeElement(s, value);
        }
        s += '}';
    }
    static ArchiveValue archiveElement(const Items &v)
    {
        ArchiveValue::Dictionary d;
        for (const auto &[key, value] : v)
            d.emplace(key, V::archiveElement(value));
        return ArchiveValue::dictionary(std::move(d));
    }
    static std::optional<Items> unarchiveElement(const ArchiveValue &a)
    {
        if (a.kind != ArchiveValue::Kind::Dictionary)
            return std::nullopt;
        Items items;
        for (const auto &[key, e] : std::get<ArchiveValue::Dictionary>(a.value)) {
            auto value = V::unarchiveElement(e);
            if (!value)
                return std::nullopt;
            items.emplace(key, std::move(*value));
        }
        return items;
    }
};

using StringList = List<String>;
using I64List = List<I64>;
template<typename R>
using StructList = List<Struct<R>>;
using StringSet = Set<String>;
using StringMap = Map<String, String>;
using StringI32Map = Map<String, I32>;

} // namespace codec

namespace detail {

// The table row for one field; Value and Flag point at the record's members.
template<typename Codec, typename R, auto Value, auto Flag>
struct FieldOps
{
    static R &self(Record &r) { return static_cast<R &>(r); }
    static const R &self(const Record &r) { return static_cast<const R &>(r); }

    // The codec leaves the value as it was when the read fails.
    template<typename P>
    static void read(Record &r, P &in)
    {
        Codec::read(in, self(r).*Value);
        self(r).*Flag = true;
    }
    static bool isSet(const Record &r) { return self(r).*Flag; }
    static bool isPresent(const Record &r) { return self(r).*Flag && Codec::present(self(r).*Value); }
    template<typename P>
    static void writeValue(const Record &r, P &out)
    {
        Codec::write(out, self(r).*Value);
    }
    template<typename P>
    static void write(const Record &r, P &out, const FieldInfo &field)
    {
        if (isPresent(r)) {
            out.writeFieldBegin(field.name, Codec::type, field.id);
            Codec::write(out, self(r).*Value);
            out.writeFieldEnd();
        }
    }
    static void encode(const Record &r, KeyedArchive &coder, const char *name)
    {
        if (self(r).*Flag)
            Codec::encode(coder, name, self(r).*Value);
    }
    static void decode(Record &r, const KeyedArchive &coder, const char *name)
    {
        if (auto v = Codec::decode(coder, name)) {
            self(r).*Value = std::move(*v);
            self(r).*Flag = true;
        }
    }
};

} // namespace detail

} // namespace ravadido

// ---- Macros that turn a field list into a record -------------------------

#define RAVADIDO_DETAIL_MEMBER(id, name, Name, ...) typename __VA_ARGS__::Value m_##name{};
#define RAVADIDO_DETAIL_FLAG(id, name, Name, ...) bool m_##name##IsSet = false;

#define RAVADIDO_DETAIL_ACCESSORS(id, name, Name, ...) \
    typename __VA_ARGS__::Getter name() const          \
    {                                                  \
        return m_##name;                               \
    }                                                  \
    void set##Name(typename __VA_ARGS__::Value value)  \
    {                                                  \
        m_##name = std::move(value);                   \
        m_##name##IsSet = true;                        \
    }                                                  \
    bool name##IsSet() const                           \
    {                                                  \
        return m_##name##IsSet;                        \
    }                                                  \
    void unset##Name()                                 \
    {                                                  \
        __VA_ARGS__::unset(m_##name);                  \
        m_##name##IsSet = false;                       \
    }

#define RAVADIDO_DETAIL_PARAM(id, name, Name, ...) typename __VA_ARGS__::Value name,

#define RAVADIDO_DETAIL_ASSIGN(id, name, Name, ...) \
    m_##name = std::move(name);                     \
    m_##name##IsSet = true;

// The record's members and accessors; put it first in the class body.
#define RAVADIDO_RECORD(Class, FIELDS)                                          \
public:                                                                         \
    Class() = default;                                                          \
    Class(FIELDS(RAVADIDO_DETAIL_PARAM)::ravadido::detail::LastParameter = {}); \
    explicit Class(const ::ravadido::KeyedArchive &coder);                      \
    FIELDS(RAVADIDO_DETAIL_ACCESSORS)                                           \
    static const ::ravadido::RecordLayout recordLayout;                         \
    const ::ravadido::RecordLayout &layout() const override                     \
    {                                                                           \
        return recordLayout;                                                    \
    }                                                                           \
                                                                                \
private:                                                                        \
    using Self = Class;                                                         \
    /* The flags together after the values: no padding after each flag. */      \
    FIELDS(RAVADIDO_DETAIL_MEMBER)                                              \
    FIELDS(RAVADIDO_DETAIL_FLAG)                                                \
public:

#define RAVADIDO_DETAIL_OPS(fname, ...) \
    ::ravadido::detail::FieldOps<__VA_ARGS__, Self, &Self::m_##fname, &Self::m_##fname##IsSet>

#define RAVADIDO_DETAIL_FIELD_INFO(fid, fname, Name, ...)                                             \
    ::ravadido::FieldInfo{                                                                            \
        fid,                                                                                          \
        __VA_ARGS__::type,                                                                            \
        #fname,                                                                                       \
        &RAVADIDO_DETAIL_OPS(fname, __VA_ARGS__)::template read<::ravadido::TProtocol>,               \
        [](const ::ravadido::Record &r, ::ravadido::TProtocol &out) {                                 \
            using Ops = RAVADIDO_DETAIL_OPS(fname, __VA_ARGS__);                                      \
            if (Ops::isPresent(r)) {                                                                  \
                out.writeFieldBegin(#fname, __VA_ARGS__::type, fid);                                  \
                Ops::writeValue(r, out);                                                              \
                out.writeFieldEnd();                                                                  \
            }                                                                                         \
        },                                                                                            \
        &RAVADIDO_DETAIL_OPS(fname, __VA_ARGS__)::isSet,                                              \
        &RAVADIDO_DETAIL_OPS(fname, __VA_ARGS__)::isPresent,                                          \
        &RAVADIDO_DETAIL_OPS(fname, __VA_ARGS__)::template writeValue<::ravadido::TProtocol>,         \
        [](const ::ravadido::Record &r, std::string &s) {                                             \
            s += #fname ":";                                                                          \
            __VA_ARGS__::describe(s, static_cast<const Self &>(r).m_##fname);                         \
        },                                                                                            \
        [](const ::ravadido::Record &r, ::ravadido::KeyedArchive &coder) {                            \
            RAVADIDO_DETAIL_OPS(fname, __VA_ARGS__)::encode(r, coder, #fname);                        \
        },                                                                                            \
        [](::ravadido::Record &r, const ::ravadido::KeyedArchive &coder) {                            \
            RAVADIDO_DETAIL_OPS(fname, __VA_ARGS__)::decode(r, coder, #fname);                        \
        },                                                                                            \
        &RAVADIDO_DETAIL_OPS(fname, __VA_ARGS__)::template read<::ravadido::TBinaryProtocol>,         \
        &RAVADIDO_DETAIL_OPS(fname, __VA_ARGS__)::template write<::ravadido::TBinaryProtocol>,        \
        &RAVADIDO_DETAIL_OPS(fname, __VA_ARGS__)::template read<::ravadido::BufferedBinaryProtocol>,  \
        &RAVADIDO_DETAIL_OPS(fname, __VA_ARGS__)::template write<::ravadido::BufferedBinaryProtocol>, \
    },

// A record class of its own (not an exception): the header's record list
// applies this to every entry.
#define RAVADIDO_DECLARE_RECORD(Class, wire, FIELDS) \
    class Class final : public ::ravadido::Record    \
    {                                                \
        RAVADIDO_RECORD(Class, FIELDS)               \
    };

// The field table and constructors of a record declared with
// RAVADIDO_RECORD; put it in a source file.
// clang-format off
#define RAVADIDO_DEFINE_RECORD(Class, wire, FIELDS)                                                 \
    const ::ravadido::RecordLayout Class::recordLayout{wire, {FIELDS(RAVADIDO_DETAIL_FIELD_INFO)}}; \
    Class::Class(FIELDS(RAVADIDO_DETAIL_PARAM)::ravadido::detail::LastParameter)                    \
    {                                                                                               \
        FIELDS(RAVADIDO_DETAIL_ASSIGN)                                                              \
    }                                                                                               \
    Class::Class(const ::ravadido::KeyedArchive &coder)                                             \
    {                                                                                               \
        decodeFields(recordLayout, coder);                                                          \
    }
// clang-format on
