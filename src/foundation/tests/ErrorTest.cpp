#include "foundation/Error.h"

#include <gtest/gtest.h>

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
