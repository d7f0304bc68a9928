#pragma once

#include "Bytes.h"

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace ravadido {

class KeyedArchive;

// One value of a keyed archive, tagged with the kind it was saved as. The
// kind matters on decoding: an i16 saved as a native int and an i32 saved as
// a 32-bit integer read back through different calls, as the platform's
// keyed archiver keeps them apart.
struct ArchiveValue
{
    enum class Kind : std::uint8_t {
        Nil,
        Bool,
        Int,
        Int32,
        Int64,
        Double,
        String,
        Bytes,
        Record,
        Array,
        Set,
        Dictionary
    };
    using Array = std::vector<ArchiveValue>;
    using Dictionary = std::map<std::string, ArchiveValue>;

    Kind kind = Kind::Nil;
    // Integers of every width share the int64 slot; Array and Set share the
    // vector slot; the kind tells them apart.
    std::variant<std::monostate, bool, std::int64_t, double, std::string, ravadido::Bytes,
                 std::shared_ptr<const KeyedArchive>, Array, Dictionary>
        value;

    static ArchiveValue nil() { return {}; }
    static ArchiveValue boolean(bool v) { return {Kind::Bool, v}; }
    static ArchiveValue integer(Kind k, std::int64_t v) { return {k, v}; }
    static ArchiveValue real(double v) { return {Kind::Double, v}; }
    static ArchiveValue string(std::string v) { return {Kind::String, std::move(v)}; }
    static ArchiveValue bytes(ravadido::Bytes v) { return {Kind::Bytes, std::move(v)}; }
    static ArchiveValue record(std::shared_ptr<const KeyedArchive> v) { return {Kind::Record, std::move(v)}; }
    static ArchiveValue array(Array v) { return {Kind::Array, std::move(v)}; }
    static ArchiveValue set(Array v) { return {Kind::Set, std::move(v)}; }
    static ArchiveValue dictionary(Dictionary v) { return {Kind::Dictionary, std::move(v)}; }

    bool isNil() const { return kind == Kind::Nil; }
    bool isInteger() const { return kind == Kind::Int || kind == Kind::Int32 || kind == Kind::Int64; }
    // An integer of any archived width, when it fits in T.
    template<typename T>
    std::optional<T> integer() const
    {
        if (!isInteger())
            return std::nullopt;
        const std::int64_t n = std::get<std::int64_t>(value);
        if (n < std::numeric_limits<T>::min() || n > std::numeric_limits<T>::max())
            return std::nullopt;
        return static_cast<T>(n);
    }
};

// A small keyed archive: field names to kind-tagged values, nil kept, records
// nested as archives of their own. Records save only their set fields into
// it and restore exactly the keys that are present.
//
// A record's field codecs restore nothing when the key is absent or the value
// was saved as a kind that cannot stand for the one asked (integers of any
// width convert when the value fits); the field then stays unset.
class KeyedArchive
{
public:
    KeyedArchive() = default;
    explicit KeyedArchive(std::string className) : m_className(std::move(className)) {}

    // The wire name of the record saved here ("Note"), for readers of a dump.
    const std::string &className() const { return m_className; }

    void encodeObject(const std::string &key, ArchiveValue value);
    void encodeInt(const std::string &key, int value);
    void encodeInt64(const std::string &key, std::int64_t value);

    bool containsValueForKey(const std::string &key) const;
    const ArchiveValue *valueForKey(const std::string &key) const;

    const ArchiveValue::Dictionary &entries() const { return m_entries; }

private:
    std::string m_className;
    ArchiveValue::Dictionary m_entries;
};

} // namespace ravadido
