#include "foundation/Error.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(Error, SlotIsFilledOnlyWhenGiven)
{
    setErrorSlot(nullptr, Error("d", 1));
    OptionalError slot;
    setErrorSlot(&slot, Error("TGBackpackErrorDomain", 1, "Cannot log in"));
    ASSERT_TRUE(slot.has_value());
    EXPECT_TRUE(slot->is("TGBackpackErrorDomain", 1));
    EXPECT_FALSE(slot->is("com.tallgrove.leafhaul", 1));
    EXPECT_EQ(slot->toString(), "TGBackpackErrorDomain 1: Cannot log in");
}

TEST(Error, SystemReasonEndsTheDescription)
{
    EXPECT_EQ(withSystemReason("The file could not be written.", systemReason(ENOSPC)),
              "The file could not be written: No space left on device.");
    EXPECT_EQ(withSystemReason("Unable to read a.txt", "Permission denied"),
              "Unable to read a.txt: Permission denied.");
    EXPECT_EQ(withSystemReason("The file could not be written.", {}), "The file could not be written.");
}
