#pragma once

// The receiving halves a reply fuzz input can go to: its first byte picks one.

#include "ravadido/NoteStoreClient.h"

#include <array>
#include <string>

namespace ravadido::fuzz {

struct ReplyCall
{
    const char *name;
    // Receives one reply; returns a record written from what it returned
    // (empty for deleteNote).
    void (*receive)(RURUNoteStoreClient &client, std::string &written);
};

std::string bytesOf(const Record &record);

inline constexpr std::array<ReplyCall, 5> replyCalls = {{
    {"listNotebooks",
     [](RURUNoteStoreClient &c, std::string &w) {
         for (const auto &notebook : c.recv_listNotebooks())
             w += bytesOf(*notebook);
     }},
    {"createNotebook", [](RURUNoteStoreClient &c, std::string &w) { w = bytesOf(*c.recv_createNotebook()); }},
    {"findNotes", [](RURUNoteStoreClient &c, std::string &w) { w = bytesOf(*c.recv_findNotes()); }},
    {"createNote", [](RURUNoteStoreClient &c, std::string &w) { w = bytesOf(*c.recv_createNote()); }},
    {"deleteNote", [](RURUNoteStoreClient &c, std::string &w) { w = std::to_string(c.recv_deleteNote()); }},
}};

} // namespace ravadido::fuzz
