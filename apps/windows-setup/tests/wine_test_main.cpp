// Entry of every test run under Wine: the Windows tier links with -municode, so the start-up
// code calls wmain, which gtest_main does not provide.
#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
