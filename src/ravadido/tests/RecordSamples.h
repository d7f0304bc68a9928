#pragma once

// Records and values with every field set, made from the record list, for
// the cross-check, the fuzz seeds and the benchmark.

#include "ravadido/Records.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ravadido::samples {

struct Sample
{
    std::shared_ptr<Record> record;
    // A fresh, empty record of the same type.
    std::function<std::shared_ptr<Record>()> fresh;
};

// Every record of RAVADIDO_RECORDS once, in list order, each field set to
// a value other than zero or empty (see valueOf); an opaque record keeps a
// struct of several fields, a user among them.
std::vector<Sample> fullySet();

// `full` with only the fields at even (or odd) positions of its table set,
// built through the keyed archive; for an opaque record, every other kept
// field.
std::shared_ptr<Record> everyOtherField(const Sample &full, bool odd);

// The bytes of a struct with the fields of every struct in it put in id
// order, as generated code writes them; ours go in declaration order.
std::string inIdOrder(const std::string &structBytes);

std::shared_ptr<RURUData> data(std::string body);
std::shared_ptr<RURUNote> fullNote();

// Sets every field of a record from `seed` (an opaque record reads a
// struct made from it).
#define RAVADIDO_SAMPLES_DECLARE_FILL(Class, wire, FIELDS) void fill(Class &record, std::uint32_t seed);
RAVADIDO_RECORDS(RAVADIDO_SAMPLES_DECLARE_FILL)
#undef RAVADIDO_SAMPLES_DECLARE_FILL

// A value for a field of any codec. Numbers are large, negative or both,
// text is not all ASCII and has quotes, bytes hold a zero and 0xff;
// records have every field set, lists two elements, maps two entries and
// sets one (another implementation need not keep a set's order). Nearby
// seeds give different values.
template<typename Codec>
struct Maker;

template<typename T, TType Wire, std::size_t MinSize, ArchiveValue::Kind Kind>
struct Maker<codec::Scalar<T, Wire, MinSize, Kind>>
{
    static T element(std::uint32_t seed)
    {
        const auto s = static_cast<std::int64_t>(seed % 100000);
        if constexpr (std::is_same_v<T, bool>)
            return true;
        else if constexpr (std::is_same_v<T, double>)
            return s % 2 ? 52.25 + static_cast<double>(s) : -1234.5 - static_cast<double>(s);
        else if constexpr (sizeof(T) == 2)
            return static_cast<T>(s % 2 ? 30000 - s % 700 : -100 - s % 700);
        else if constexpr (sizeof(T) == 4)
            return static_cast<T>(s % 3 == 0 ? 2147483647 - s : s % 3 == 1 ? -1000 * s - 7 : 70000 + s);
        else
            return s % 3 == 0 ? INT64_MAX - s : s % 3 == 1 ? -1500000000000 - s : 1262304000000 + s;
    }
    static T value(std::uint32_t seed) { return element(seed); }
};

template<>
struct Maker<codec::String>
{
    static std::string element(std::uint32_t seed)
    {
        return "text " + std::to_string(seed % 100000) + (seed % 2 ? " Grüße ✓ \"q\"" : "");
    }
    static std::optional<std::string> value(std::uint32_t seed) { return element(seed); }
};

template<>
struct Maker<codec::Binary>
{
    static Bytes element(std::uint32_t seed)
    {
        return Bytes(std::string("\x00\xff\x10\x80", 4) + std::to_string(seed % 100000));
    }
    static std::optional<Bytes> value(std::uint32_t seed) { return element(seed); }
};

template<typename R>
struct Maker<codec::Struct<R>>
{
    static std::shared_ptr<R> element(std::uint32_t seed)
    {
        auto record = std::make_shared<R>();
        fill(*record, seed);
        return record;
    }
    static std::shared_ptr<R> value(std::uint32_t seed) { return element(seed); }
};

template<typename E>
struct Maker<codec::List<E>>
{
    static std::vector<typename E::Element> element(std::uint32_t seed)
    {
        return {Maker<E>::element(seed * 7 + 1), Maker<E>::element(seed * 7 + 2)};
    }
    static std::optional<std::vector<typename E::Element>> value(std::uint32_t seed) { return element(seed); }
};

template<typename E>
struct Maker<codec::Set<E>>
{
    static std::set<typename E::Element> element(std::uint32_t seed) { return {Maker<E>::element(seed * 7 + 1)}; }
    static std::optional<std::set<typename E::Element>> value(std::uint32_t seed) { return element(seed); }
};

template<typename K, typename V>
struct Maker<codec::Map<K, V>>
{
    static std::map<typename K::Element, typename V::Element> element(std::uint32_t seed)
    {
        return {{Maker<K>::element(seed * 7 + 1), Maker<V>::element(seed * 7 + 3)},
                {Maker<K>::element(seed * 7 + 2), Maker<V>::element(seed * 7 + 4)}};
    }
    static std::optional<std::map<typename K::Element, typename V::Element>> value(std::uint32_t seed)
    {
        return element(seed);
    }
};

template<typename Codec>
typename Codec::Value valueOf(std::uint32_t seed)
{
    return Maker<Codec>::value(seed);
}

} // namespace ravadido::samples
