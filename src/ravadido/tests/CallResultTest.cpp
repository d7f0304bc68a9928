// The call result records: read like any record, written with only their
// first set field.

#include "NoteStoreTestSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>

using namespace ravadido;
using namespace ravadido::test;

namespace {

std::shared_ptr<RURUUserException> userException(std::int32_t code)
{
    auto e = std::make_shared<RURUUserException>();
    e->setErrorCode(code);
    return e;
}

TEST(CallResults, WriteOnlyTheirFirstSetField)
{
    const std::vector<std::tuple<const char *, std::function<std::string()>, std::string>> cases = {
        {"nothing set writes an empty struct", [] { return hexOf(RURUCreateNote_result()); }, "00"},
        {"success set to nil, user exception set: nothing at all",
         [] {
             RURUCreateNote_result r;
             r.setSuccess(nullptr);
             r.setUserException(userException(9));
             return hexOf(r);
         },
         "00"},
        {"success unset, user exception set: field 1 alone",
         [] {
             RURUCreateNote_result r;
             r.setUserException(userException(9));
             return hexOf(r);
         },
         "0C 00 01 08 00 01 00 00 00 09 00 00"},
        {"success and an exception: the success alone",
         [] {
             RURUCreateNotebook_result r;
             auto notebook = std::make_shared<RURUNotebook>();
             notebook->setName("N");
             r.setSuccess(notebook);
             r.setSystemException(std::make_shared<RURUSystemException>());
             return hexOf(r);
         },
         "0C 00 00 0B 00 02 00 00 00 01 4E 00 00"},
        {"a zero update sequence number is written",
         [] {
             RURUDeleteNote_result r;
             r.setSuccess(0);
             return hexOf(r);
         },
         "08 00 00 00 00 00 00 00"},
        {"an unset scalar success is not written, the exception after it is",
         [] {
             RURUDeleteNote_result r;
             r.setSuccess(4);
             r.unsetSuccess();
             r.setNotFoundException(std::make_shared<RURUNotFoundException>());
             return hexOf(r);
         },
         "0C 00 03 00 00"},
        {"a list success writes its element type and count",
         [] {
             RURUListNotebooks_result r;
             r.setSuccess(std::vector<std::shared_ptr<RURUNotebook>>{std::make_shared<RURUNotebook>()});
             return hexOf(r);
         },
         "0F 00 00 0C 00 00 00 01 00 00"},
        {"an empty list success writes its header alone",
         [] {
             RURUGetAds_result r;
             r.setSuccess(std::vector<std::shared_ptr<RURUAd>>{});
             return hexOf(r);
         },
         "0F 00 00 0C 00 00 00 00 00"},
    };
    for (const auto &[what, write, expected] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(write(), hex(unhex(expected)));
    }
}

TEST(CallResults, ReadEveryFieldThatArrives)
{
    const auto r = readHex<RURUFindNotes_result>("0C 00 00 08 00 02 00 00 00 07 00 0C 00 01 08 00 01 00 00 00 09 00 "
                                                 "0C 00 03 0B 00 02 00 00 00 01 6B 00 0B 00 63 00 00 00 00 00");
    ASSERT_TRUE(r->successIsSet() && r->success());
    EXPECT_EQ(r->success()->totalNotes(), 7);
    ASSERT_TRUE(r->userExceptionIsSet() && r->userException());
    EXPECT_EQ(r->userException()->errorCode(), 9);
    EXPECT_FALSE(r->systemExceptionIsSet());
    ASSERT_TRUE(r->notFoundExceptionIsSet() && r->notFoundException());
    EXPECT_EQ(r->notFoundException()->key(), "k");
}

TEST(CallResults, ReadListElementsAsDeclaredWhateverTheHeaderSays)
{
    // Announced as strings, read as linked notebooks.
    const auto r = readHex<RURUListLinkedNotebooks_result>("0F 00 00 0B 00 00 00 01 0B 00 02 00 00 00 01 53 00 00");
    ASSERT_TRUE(r->successIsSet() && r->success());
    ASSERT_EQ(r->success()->size(), 1u);
    EXPECT_EQ(r->success()->at(0)->shareName(), "S");
}

TEST(CallResults, UnsetKeepsAScalarAndDropsAnObject)
{
    RURUDeleteNote_result deleted;
    deleted.setSuccess(12);
    deleted.unsetSuccess();
    EXPECT_FALSE(deleted.successIsSet());
    EXPECT_EQ(deleted.success(), 12);

    RURUCreateNote_result created(std::make_shared<RURUNote>(), nullptr, nullptr, nullptr);
    EXPECT_TRUE(created.successIsSet() && created.userExceptionIsSet() && created.systemExceptionIsSet()
                && created.notFoundExceptionIsSet());
    created.unsetSuccess();
    EXPECT_FALSE(created.successIsSet());
    EXPECT_EQ(created.success(), nullptr);
}

TEST(CallResults, DescribeEveryFieldInIdOrder)
{
    EXPECT_EQ(RURUCreateNote_result().description(),
              "CreateNote_result(success:(null),userException:(null),systemException:(null),"
              "notFoundException:(null))");
    RURUDeleteNote_result deleted;
    deleted.setSuccess(3);
    EXPECT_EQ(deleted.description(), "DeleteNote_result(success:3,userException:(null),systemException:(null),"
                                     "notFoundException:(null))");
    RURUListNotebooks_result listed;
    listed.setUserException(userException(9));
    EXPECT_EQ(listed.description(), "ListNotebooks_result(success:(null),userException:RURUUserException(errorCode:9,"
                                    "parameter:\"(null)\"),systemException:(null))");
}

TEST(CallResults, FollowTheCallsOwnShape)
{
    EXPECT_EQ(RURUUntagAll_result().description(),
              "UntagAll_result(userException:(null),systemException:(null),notFoundException:(null))");
    EXPECT_EQ(hexOf(RURUUntagAll_result(nullptr, nullptr, std::make_shared<RURUNotFoundException>())), "00");
    RURUEmailNote_result nothing;
    EXPECT_NO_THROW(nothing.throwFirstSetException());
    nothing.setSystemException(std::make_shared<RURUSystemException>());
    EXPECT_EQ(hexOf(nothing), hex(unhex("0C 00 03 00 00")));
    EXPECT_EQ(readHex<RURUStopSharingNote_result>("08 00 00 00 00 00 07 00")->description(),
              "StopSharingNote_result(userException:(null),notFoundException:(null),"
              "systemException:(null))");

    // Not-found is field 2 here, and thrown before the system exception.
    const auto r = readHex<RURUExpungeLinkedNotebook_result>("0C 00 03 00 0C 00 02 00 00");
    EXPECT_TRUE(r->systemExceptionIsSet() && r->notFoundExceptionIsSet());
    EXPECT_THROW(r->throwFirstSetException(), RURUNotFoundException);
    EXPECT_EQ(hexOf(*r), hex(unhex("0C 00 02 00 00")));

    // No user exception: the system exception is field 1, and id 3 is not
    // this record's.
    const auto published = readHex<RURUGetPublicNotebook_result>("0C 00 03 00 0C 00 01 00 00");
    EXPECT_TRUE(published->systemExceptionIsSet());
    EXPECT_FALSE(published->notFoundExceptionIsSet());
    EXPECT_EQ(published->description(), "GetPublicNotebook_result(success:(null),systemException:RURUSystemException("
                                        "errorCode:0,message:\"(null)\"),notFoundException:(null))");
}

TEST(CallResults, KeepTheirScalarAndBinarySuccessTypes)
{
    RURUGetAccountSize_result size;
    EXPECT_EQ(size.description(), "GetAccountSize_result(success:0,userException:(null),systemException:(null))");
    size.setSuccess(0);
    EXPECT_EQ(hexOf(size), hex(unhex("0A 00 00 00 00 00 00 00 00 00 00 00")));
    // An i32 where the i64 belongs is skipped.
    EXPECT_FALSE(readHex<RURUGetAccountSize_result>("08 00 00 00 00 00 07 00")->successIsSet());
    EXPECT_EQ(readHex<RURUGetAccountSize_result>("0A 00 00 00 00 01 00 00 00 00 02 00")->success(),
              std::int64_t{1} << 40 | 2);

    // Binary bytes come through unchanged; a string success reads as text.
    const auto data = readHex<RURUGetResourceData_result>("0B 00 00 00 00 00 03 00 FF 80 00");
    ASSERT_TRUE(data->success());
    EXPECT_EQ(data->success()->storage(), std::string("\x00\xff\x80", 3));
    EXPECT_EQ(readHex<RURUShareNote_result>("0B 00 00 00 00 00 02 6B 31 00")->success(), "k1");
    EXPECT_EQ(RURUGetResourceData_result().description(),
              "GetResourceData_result(success:\"(null)\",userException:(null),systemException:(null),"
              "notFoundException:(null))");
}

// The call table names each call's own result record: the call's name with
// its first letter in upper case, and "_result".
#define CHECK_RESULT_NAME(call, Result, ...) {#call, Result::recordLayout.wireName()},

TEST(CallResults, AreNamedAfterTheirCall)
{
    const std::vector<std::pair<std::string, std::string>> names = {RURU_NOTE_STORE_CALLS(CHECK_RESULT_NAME)};
    ASSERT_EQ(names.size(), 76u);
    for (auto [call, wireName] : names) {
        call[0] = static_cast<char>(std::toupper(call[0]));
        EXPECT_EQ(wireName, call + "_result");
    }
}

TEST(CallResults, ArchiveTheirSetFields)
{
    RURUDeleteNote_result deleted;
    deleted.setSuccess(42);
    deleted.setUserException(nullptr);
    KeyedArchive archive("DeleteNote_result");
    deleted.encodeWithCoder(archive);
    EXPECT_FALSE(archive.containsValueForKey("systemException"));

    const RURUDeleteNote_result restored(archive);
    EXPECT_TRUE(restored.successIsSet());
    EXPECT_EQ(restored.success(), 42);
    EXPECT_TRUE(restored.userExceptionIsSet());
    EXPECT_EQ(restored.userException(), nullptr);
    EXPECT_FALSE(restored.systemExceptionIsSet());
    EXPECT_FALSE(restored.notFoundExceptionIsSet());
}

} // namespace
