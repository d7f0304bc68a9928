#pragma once

// The receiving halves a reply fuzz input can go to, one per call of the
// table: its first byte picks one.

#include "ravadido/NoteStoreClient.h"

#include <string>
#include <vector>

namespace ravadido::fuzz {

struct ReplyCall
{
    const char *name;
    // Receives one reply; writes what it returned, as the call's result
    // record holding it (nothing for a call without a value).
    void (*receive)(RURUNoteStoreClient &client, std::string &written);
};

std::string bytesOf(const Record &record);

template<typename Result, typename Receive>
void receiveAndWrite(Receive receive, std::string &written)
{
    if constexpr (Result::hasSuccess) {
        Result result;
        result.setSuccess(typename Result::SuccessValue(receive()));
        written = bytesOf(result);
    } else {
        receive();
    }
}

#define RAVADIDO_FUZZ_REPLY_CALL(call, Result, ...)                            \
    ReplyCall{#call, [](RURUNoteStoreClient &c, std::string &w) {              \
                  receiveAndWrite<Result>([&] { return c.recv_##call(); }, w); \
              }},

inline const std::vector<ReplyCall> replyCalls = {RURU_NOTE_STORE_CALLS(RAVADIDO_FUZZ_REPLY_CALL)};

} // namespace ravadido::fuzz
