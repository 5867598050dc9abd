// The Windows tier links with -municode, so the test entry is wmain rather than gtest_main's main.
#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
