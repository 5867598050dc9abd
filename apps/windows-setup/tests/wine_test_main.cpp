// Entry of every GoogleTest executable, native and under Wine: the Windows tier links with
// -municode, so the start-up code calls wmain, which gtest_main does not provide; the native unit
// tests use the same entry so that both judge a run alike.
#include <gtest/gtest.h>

#include <cstdio>

namespace {

// ctest's SKIP_RETURN_CODE for these tests. An exit code and not GoogleTest's "[  SKIPPED ]"
// text: ctest lets a matching skip expression win over everything, so one skipped case would
// hide another case's failure, a crash after the summary, or a leak report at exit.
constexpr int SKIPPED = 77;

int run_tests() {
    const int result = RUN_ALL_TESTS();
    if (GTEST_FLAG_GET(list_tests)) return result;
    const ::testing::UnitTest& tests = *::testing::UnitTest::GetInstance();
    // A --gtest_filter that matches nothing (a renamed case) would pass without testing anything.
    if (tests.test_to_run_count() == 0) {
        std::fprintf(stderr, "no test matches the filter \"%s\"\n", GTEST_FLAG_GET(filter).c_str());
        return 1;
    }
    if (result != 0) return 1;
    return tests.skipped_test_count() > 0 ? SKIPPED : 0;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return run_tests();
}
