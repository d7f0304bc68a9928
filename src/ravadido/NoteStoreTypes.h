#pragma once

// The query and the answer of a note search.

#include "Types.h"

namespace ravadido {

#define RURU_NOTE_FILTER_FIELDS(X)                                                                \
    X(1, order, Order, codec::I32)                                                                \
    X(2, ascending, Ascending, codec::Bool)                                                       \
    X(3, words, Words, codec::String)                                                             \
    X(4, notebookGuid, NotebookGuid, codec::String)                                               \
    X(5, tagGuids, TagGuids, codec::StringList)                                                   \
    X(6, timeZone, TimeZone, codec::String)                                                       \
    X(7, inactive, Inactive, codec::Bool)

class RURUNoteFilter final : public Record
{
    RAVADIDO_RECORD(RURUNoteFilter, RURU_NOTE_FILTER_FIELDS)
};

#define RURU_NOTE_LIST_FIELDS(X)                                                                  \
    X(1, startIndex, StartIndex, codec::I32)                                                      \
    X(2, totalNotes, TotalNotes, codec::I32)                                                      \
    X(3, notes, Notes, codec::StructList<RURUNote>)                                               \
    X(4, stoppedWords, StoppedWords, codec::StringList)                                           \
    X(5, searchedWords, SearchedWords, codec::StringList)                                         \
    X(6, updateCount, UpdateCount, codec::I32)

class RURUNoteList final : public Record
{
    RAVADIDO_RECORD(RURUNoteList, RURU_NOTE_LIST_FIELDS)
};

} // namespace ravadido
