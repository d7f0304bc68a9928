#pragma once

// Records with every field set, shared by the cross-check, the fuzz seeds
// and the benchmark.

#include "ravadido/Errors.h"
#include "ravadido/NoteStoreTypes.h"
#include "ravadido/Types.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ravadido::samples {

struct Sample
{
    std::shared_ptr<Record> record;
    // A fresh, empty record of the same type.
    std::function<std::shared_ptr<Record>()> fresh;
};

// Every record type once, each field set to a value other than zero or
// empty; containers hold more than one element except sets, whose order
// another implementation need not keep.
std::vector<Sample> fullySet();

// `full` with only the fields at even (or odd) positions of its table set,
// built through the keyed archive.
std::shared_ptr<Record> everyOtherField(const Sample &full, bool odd);

std::shared_ptr<RURUData> data(std::string body);
std::shared_ptr<RURUNote> fullNote();

} // namespace ravadido::samples
