#include <gtest/gtest.h>

#include "ResultCode.h"

TEST(ResultCode, LayoutOfFieldsAndFailureThreshold) {
    constexpr VKRESULT r = 0x10e009400000005ULL;
    EXPECT_TRUE(ResultFailed(r));
    EXPECT_EQ(ResultModuleOf(r), kModuleStorageDevice);
    EXPECT_EQ(ResultLineOf(r), 0x94u);
    EXPECT_EQ(ResultErrorOf(r), kErrBadArgument);
    EXPECT_TRUE(ResultIs(r, kModuleStorageDevice, kErrBadArgument));
    EXPECT_FALSE(ResultIs(r, kModuleController, kErrBadArgument));

    EXPECT_EQ(MakeResult(0x0e, 0x94, 5), r);
    // Lines beyond 16 bits must not spill into the module byte.
    EXPECT_EQ(ResultModuleOf(MakeResult(0x04, 0x12345, 0x401)), 0x04);

    for (VKRESULT ok : {0ULL, 1ULL, 0x00ffffffffffffffULL})
        EXPECT_FALSE(ResultFailed(ok)) << ok;
    EXPECT_TRUE(ResultFailed(0x0100000000000000ULL));
}

TEST(ResultCode, MacroRecordsTheRaisingLine) {
    VKRESULT r = VK_ERROR(kModuleController, kErrBadScanRange);
    EXPECT_EQ(ResultLineOf(r), static_cast<uint32_t>(__LINE__ - 1));
    EXPECT_TRUE(ResultIs(r, kModuleController, kErrBadScanRange));
}
