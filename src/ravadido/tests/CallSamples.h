#pragma once

// A value for any argument or success of the call table, by codec: never
// zero or empty, and different at another field id `n` (bools alternate, so
// that false is written too). Records come from the fully set samples.

#include "RecordSamples.h"

#include "ravadido/NoteStoreClient.h"

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

namespace ravadido::samples {

template<typename R>
std::shared_ptr<R> sampleRecord()
{
    for (const auto &s : fullySet())
        if (auto r = std::dynamic_pointer_cast<R>(s.record))
            return r;
    return std::make_shared<R>();
}

template<typename Codec>
struct CallValue;

template<>
struct CallValue<codec::Bool>
{
    static bool make(int n) { return n % 2 == 1; }
};
template<>
struct CallValue<codec::I32>
{
    static std::int32_t make(int n) { return -2000000000 + n; }
};
template<>
struct CallValue<codec::I64>
{
    // Past 2^53: a double in between would round it.
    static std::int64_t make(int n) { return (std::int64_t{1} << 53) + 1 + 2 * n; }
};
template<>
struct CallValue<codec::String>
{
    static std::string make(int n) { return "value " + std::to_string(n) + " \xE2\x9C\x93"; }
};
template<>
struct CallValue<codec::Binary>
{
    static Bytes make(int n) { return Bytes(std::string("\x00\xff\x80", 3) + static_cast<char>(n)); }
};
template<typename R>
struct CallValue<codec::Struct<R>>
{
    static std::shared_ptr<R> make(int) { return sampleRecord<R>(); }
};
template<typename E>
struct CallValue<codec::List<E>>
{
    static std::vector<typename E::Element> make(int n) { return {CallValue<E>::make(n), CallValue<E>::make(n + 1)}; }
};

// The value as the codec's field holds it (a string that may be nil, ...).
template<typename Codec>
typename Codec::Value callValue(int n)
{
    return typename Codec::Value(CallValue<Codec>::make(n));
}

} // namespace ravadido::samples
