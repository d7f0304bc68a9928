// How replies are read: the success value, the first set exception in the
// call's order, exception messages, MISSING_RESULT, and every malformed reply
// ending in a catchable Thrift exception without a large allocation.

#include "NoteStoreTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>

using namespace ravadido;
using namespace ravadido::test;
using apache::thrift::TApplicationException;
using apache::thrift::TException;

// The largest single allocation since the last reset, to show that no
// announced size is allocated before its bytes are there.
static std::atomic<std::size_t> largestAllocation{0};

void *operator new(std::size_t size)
{
    std::size_t seen = largestAllocation.load(std::memory_order_relaxed);
    while (size > seen && !largestAllocation.compare_exchange_weak(seen, size))
        ;
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size)
{
    return operator new(size);
}
// Qt allocates with the nothrow forms; they must come from the same heap as
// the replaced delete.
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    try {
        return operator new(size);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept
{
    return operator new(size, tag);
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete[](void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

constexpr std::uint8_t kReply = 2;
constexpr std::uint8_t kException = 3;

std::string reply(const std::string &call, const std::string &resultHex)
{
    return oldStyleHeader(call, kReply) + unhex(resultHex);
}

// A note reply's success: a note with guid "n" and title "T".
const std::string kNote = "0C 00 00 0B 00 01 00 00 00 01 6E 0B 00 02 00 00 00 01 54 00";
const std::string kUserException9 = "0C 00 01 08 00 01 00 00 00 09 00";
const std::string kSystemException = "0C 00 02 08 00 01 00 00 00 03 0B 00 02 00 00 00 02 6E 6F 00";
const std::string kNotFound = "0C 00 03 0B 00 01 00 00 00 01 69 00";

struct ReplyCase
{
    const char *what;
    std::string bytes;
    std::function<void(RURUNoteStoreClient &)> check;
};

template<typename E>
E thrown(const std::function<void()> &call)
{
    try {
        call();
    } catch (const E &e) {
        return e;
    } catch (const std::exception &e) {
        ADD_FAILURE() << "threw something else: " << e.what();
        throw;
    }
    ADD_FAILURE() << "threw nothing";
    throw std::logic_error("no exception");
}

void expectMissingResult(const std::function<void()> &call, const std::string &text)
{
    const auto e = thrown<TApplicationException>(call);
    EXPECT_EQ(e.getType(), TApplicationException::MISSING_RESULT);
    EXPECT_STREQ(e.what(), text.c_str());
}

TEST(NoteStoreReplies, AreReadIntoTheCallsResult)
{
    const std::vector<ReplyCase> cases = {
        {"a created note", reply("createNote", kNote + " 00"),
         [](RURUNoteStoreClient &c) {
             const auto note = c.recv_createNote();
             ASSERT_TRUE(note);
             EXPECT_EQ(note->guid(), "n");
             EXPECT_EQ(note->title(), "T");
         }},
        {"a user exception with code 9", reply("createNote", kUserException9 + " 00"),
         [](RURUNoteStoreClient &c) {
             const auto e = thrown<RURUUserException>([&] { c.recv_createNote(); });
             EXPECT_EQ(e.errorCode(), 9);
             EXPECT_FALSE(e.parameterIsSet());
             EXPECT_STREQ(e.name(), "RURUUserException");
             EXPECT_STREQ(e.reason(), "unknown");
         }},
        {"an empty result", reply("createNote", "00"),
         [](RURUNoteStoreClient &c) {
             expectMissingResult([&] { c.recv_createNote(); }, "createNote failed: unknown result");
         }},
        {"success and an exception: the success wins", reply("createNote", kUserException9 + " " + kNote + " 00"),
         [](RURUNoteStoreClient &c) { EXPECT_EQ(c.recv_createNote()->guid(), "n"); }},
        {"two exceptions: the lower id is thrown", reply("createNote", kNotFound + " " + kSystemException + " 00"),
         [](RURUNoteStoreClient &c) {
             const auto e = thrown<RURUSystemException>([&] { c.recv_createNote(); });
             EXPECT_EQ(e.errorCode(), 3);
             EXPECT_EQ(e.message(), "no");
         }},
        {"a not-found exception", reply("deleteNote", kNotFound + " 00"),
         [](RURUNoteStoreClient &c) {
             EXPECT_EQ(thrown<RURUNotFoundException>([&] { c.recv_deleteNote(); }).identifier(), "i");
         }},
        {"a success of the wrong wire type is skipped", reply("createNote", "0F 00 00 0C 00 00 00 00 00"),
         [](RURUNoteStoreClient &c) {
             expectMissingResult([&] { c.recv_createNote(); }, "createNote failed: unknown result");
         }},
        {"a note list arriving as a list is skipped", reply("findNotes", "0F 00 00 0C 00 00 00 00 00"),
         [](RURUNoteStoreClient &c) {
             expectMissingResult([&] { c.recv_findNotes(); }, "findNotes failed: unknown result");
         }},
        {"an empty notebook list is a success", reply("listNotebooks", "0F 00 00 0C 00 00 00 00 00"),
         [](RURUNoteStoreClient &c) { EXPECT_TRUE(c.recv_listNotebooks().empty()); }},
        {"notebooks in the service's order",
         reply("listNotebooks", "0F 00 00 0C 00 00 00 02 0B 00 02 00 00 00 01 41 00 "
                                "0B 00 02 00 00 00 01 42 00 00"),
         [](RURUNoteStoreClient &c) {
             const auto notebooks = c.recv_listNotebooks();
             ASSERT_EQ(notebooks.size(), 2u);
             EXPECT_EQ(notebooks[0]->name(), "A");
             EXPECT_EQ(notebooks[1]->name(), "B");
         }},
        {"an unknown id 3 in a create-notebook result is skipped", reply("createNotebook", kNotFound + " 00"),
         [](RURUNoteStoreClient &c) {
             expectMissingResult([&] { c.recv_createNotebook(); }, "createNotebook failed: unknown result");
         }},
        {"the update sequence number of a deleted note", reply("deleteNote", "08 00 00 00 00 01 00 00"),
         [](RURUNoteStoreClient &c) { EXPECT_EQ(c.recv_deleteNote(), 256); }},
        {"a note list's notes", reply("findNotes", "0C 00 00 0F 00 03 0C 00 00 00 01 0B 00 01 00 00 00 01 6E 00 00 00"),
         [](RURUNoteStoreClient &c) {
             const auto list = c.recv_findNotes();
             ASSERT_TRUE(list && list->notes());
             ASSERT_EQ(list->notes()->size(), 1u);
             EXPECT_EQ(list->notes()->at(0)->guid(), "n");
         }},
        {"an exception message is thrown, never read as a result",
         oldStyleHeader("createNote", kException)
             + unhex("0B 00 01 00 00 00 04 62 6F 6F 6D 08 00 02 00 00 00 06 00" + std::string()),
         [](RURUNoteStoreClient &c) {
             const auto e = thrown<TApplicationException>([&] { c.recv_createNote(); });
             EXPECT_EQ(e.getType(), TApplicationException::INTERNAL_ERROR);
             EXPECT_STREQ(e.what(), "boom");
         }},
        {"a strict header with any name and sequence id",
         strictHeader("somethingElse", kReply, 77) + unhex(kNote + " 00"),
         [](RURUNoteStoreClient &c) { EXPECT_EQ(c.recv_createNote()->title(), "T"); }},
        {"an old-style header with another sequence id", oldStyleHeader("x", kReply, -5) + unhex(kNote + " 00"),
         [](RURUNoteStoreClient &c) { EXPECT_EQ(c.recv_createNote()->title(), "T"); }},
        {"user and system exception: the user exception comes first",
         reply("getSyncState", kSystemException + " " + kUserException9 + " 00"),
         [](RURUNoteStoreClient &c) { thrown<RURUUserException>([&] { c.recv_getSyncState(); }); }},
        {"a public notebook's field 1 is a system exception, and comes before not-found",
         reply("getPublicNotebook", "0C 00 02 0B 00 01 00 00 00 01 69 00 "
                                    "0C 00 01 08 00 01 00 00 00 03 00 00"),
         [](RURUNoteStoreClient &c) {
             EXPECT_EQ(thrown<RURUSystemException>([&] { c.recv_getPublicNotebook(); }).errorCode(), 3);
         }},
        {"sharing calls: not-found is field 2, and comes before the system exception",
         reply("createSharedNotebook", "0C 00 03 08 00 01 00 00 00 03 00 "
                                       "0C 00 02 0B 00 01 00 00 00 01 69 00 00"),
         [](RURUNoteStoreClient &c) {
             EXPECT_EQ(thrown<RURUNotFoundException>([&] { c.recv_createSharedNotebook(); }).identifier(), "i");
         }},
        {"a call without a result skips a field 0 and returns", reply("untagAll", "08 00 00 00 00 00 01 00"),
         [](RURUNoteStoreClient &c) { c.recv_untagAll(); }},
        {"a call without a result still throws its exceptions", reply("emailNote", kUserException9 + " 00"),
         [](RURUNoteStoreClient &c) { thrown<RURUUserException>([&] { c.recv_emailNote(); }); }},
        {"binary bytes come through unchanged", reply("getResourceData", "0B 00 00 00 00 00 04 00 FF 0A 80 00"),
         [](RURUNoteStoreClient &c) {
             EXPECT_EQ(c.recv_getResourceData().storage(), std::string("\x00\xff\x0a\x80", 4));
         }},
        {"the account size is 64 bits", reply("getAccountSize", "0A 00 00 00 00 00 FF FF FF FF FF 00"),
         [](RURUNoteStoreClient &c) { EXPECT_EQ(c.recv_getAccountSize(), 0xFFFFFFFFFF); }},
        {"an account size sent as an i32 is skipped", reply("getAccountSize", "08 00 00 00 00 00 07 00"),
         [](RURUNoteStoreClient &c) {
             expectMissingResult([&] { c.recv_getAccountSize(); }, "getAccountSize failed: unknown result");
         }},
        {"a type that is neither reply nor exception is read as a result",
         oldStyleHeader("createNote", 1) + unhex(kNote + " 00"),
         [](RURUNoteStoreClient &c) { EXPECT_EQ(c.recv_createNote()->title(), "T"); }},
    };
    for (const ReplyCase &c : cases) {
        SCOPED_TRACE(c.what);
        MemoryClient memory(c.bytes);
        try {
            c.check(memory.client);
        } catch (const std::exception &e) {
            ADD_FAILURE() << "unexpected exception: " << e.what();
        }
    }
}

// Every receiving half of the table.
struct Receiver
{
    std::string call;
    bool returnsValue;
    void (*receive)(RURUNoteStoreClient &);
};

#define REPLY_RECEIVER(call, Result, ...) \
    Receiver{#call, Result::hasSuccess, [](RURUNoteStoreClient &c) { c.recv_##call(); }},

const std::vector<Receiver> &receivers()
{
    static const std::vector<Receiver> all = {RURU_NOTE_STORE_CALLS(REPLY_RECEIVER)};
    return all;
}

TEST(NoteStoreReplies, WithNothingInThemFailWithTheCallsOwnText)
{
    int texts = 0;
    for (const Receiver &r : receivers()) {
        SCOPED_TRACE(r.call);
        MemoryClient memory(reply(r.call, "00"));
        if (r.returnsValue) {
            expectMissingResult([&] { r.receive(memory.client); }, r.call + " failed: unknown result");
            ++texts;
        } else {
            EXPECT_NO_THROW(r.receive(memory.client));
        }
    }
    EXPECT_EQ(texts, 73);
}

std::string nested(int depth)
{
    std::string s;
    for (int i = 0; i < depth; ++i)
        s += "0C 00 09 ";
    return s;
}

TEST(NoteStoreReplies, MalformedOnesEndInAThriftExceptionWithoutLargeAllocations)
{
    const std::vector<std::pair<const char *, std::string>> cases = {
        {"an empty body", ""},
        {"a header cut short", unhex("00 00 00 0A 63 72 65")},
        {"a string longer than the body", reply("createNote", "0C 00 00 0B 00 01 00 00 00 10 61")},
        {"a struct without its stop", reply("createNote", kNote)},
        {"a list of two billion notebooks", reply("listNotebooks", "0F 00 00 0C 7F FF FF FF 00 00")},
        {"a negative list count", reply("listNotebooks", "0F 00 00 0C FF FF FF FF 00")},
        {"two billion resources in a note", reply("createNote", "0C 00 00 0F 00 0D 0C 7F FF FF FF 00")},
        {"a title of two gigabytes", reply("createNote", "0C 00 00 0B 00 02 7F FF FF F0 41 41 00")},
        {"a message name of a gigabyte", unhex("3F FF FF FF 61 62")},
        {"an HTML page", "<html><head><title>Error</title></head><body>Bad gateway</body></html>"},
        {"a strict header of another version", unhex("80 02 00 02 00 00 00 01 61 00 00 00 00 00")},
        {"an unknown field type", reply("createNote", "11 00 05 00")},
        {"a skipped map of two billion entries", reply("createNote", "0D 00 07 0B 0B 7F FF FF FF 00")},
        {"structs nested beyond any reason", reply("createNote", nested(5000))},
        {"garbage", unhex("DE AD BE EF 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F FF FE FD")},
    };
    for (const auto &[what, bytes] : cases) {
        for (const Receiver &r : receivers()) {
            SCOPED_TRACE(std::string(what) + ", " + r.call);
            MemoryClient memory(bytes);
            largestAllocation = 0;
            // A malformed reply may still hold nothing wrong for one call (a
            // list is skipped as an unknown field); it may then end in
            // MISSING_RESULT, a TException too. What it may not do is return
            // a value or throw anything else; a call without a value may
            // also return.
            if (r.returnsValue)
                EXPECT_THROW(r.receive(memory.client), TException);
            else
                try {
                    r.receive(memory.client);
                } catch (const TException &) {
                }
            EXPECT_LT(largestAllocation.load(), 64u * 1024u);
        }
    }
}

} // namespace
