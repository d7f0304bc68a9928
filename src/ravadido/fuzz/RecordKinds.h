#pragma once

// The record types a fuzz input can name: its first byte picks one.

#include "ravadido/Errors.h"
#include "ravadido/NoteStoreTypes.h"
#include "ravadido/Types.h"

#include <array>
#include <memory>

namespace ravadido::fuzz {

using Factory = std::shared_ptr<Record> (*)();

template<typename T>
std::shared_ptr<Record> make()
{
    return std::make_shared<T>();
}

inline constexpr std::array<Factory, 17> kinds = {
    make<RURUTag>,           make<RURUSavedSearch>,        make<RURULazyMap>,
    make<RURUData>,          make<RURUResourceAttributes>, make<RURUResource>,
    make<RURUNoteAttributes>, make<RURUNote>,              make<RURUPublishing>,
    make<RURUSharedNotebook>, make<RURUNotebook>,          make<RURULinkedNotebook>,
    make<RURUNoteFilter>,    make<RURUNoteList>,           make<RURUUserException>,
    make<RURUSystemException>, make<RURUNotFoundException>,
};

} // namespace ravadido::fuzz
