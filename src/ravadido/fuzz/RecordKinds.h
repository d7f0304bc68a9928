#pragma once

// The record types a fuzz input can name: its first byte picks one. The
// list is the record list, so a new record is fuzzed without a change here.

#include "ravadido/Records.h"

#include <array>
#include <memory>

namespace ravadido::fuzz {

using Factory = std::shared_ptr<Record> (*)();

template<typename T>
std::shared_ptr<Record> make()
{
    return std::make_shared<T>();
}

#define RAVADIDO_FUZZ_KIND(Class, wire, FIELDS) make<Class>,
inline constexpr auto kinds = std::to_array<Factory>({RAVADIDO_RECORDS(RAVADIDO_FUZZ_KIND)});
#undef RAVADIDO_FUZZ_KIND

} // namespace ravadido::fuzz
