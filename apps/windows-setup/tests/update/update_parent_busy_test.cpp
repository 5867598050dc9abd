// A parent that outlives the whole wait: two minutes, then "update_parent_busy".
#include <gtest/gtest.h>

#include <windows.h>

#include "parent_process.hpp"
#include "update/update_parent.hpp"

namespace mirel {
namespace {

TEST(UpdateParentBusy, AParentStillRunningAfterTwoMinutesIsBusy) {
    const auto parent = test::start_parent(UPDATE_PARENT_TIMEOUT_MS + 60000);
    ASSERT_TRUE(parent);
    LaunchOptions options;
    options.update = true;
    options.wait_pid = std::to_string(parent->id());

    const ULONGLONG start = ::GetTickCount64();
    const Status waited = wait_for_update_parent(options);
    const ULONGLONG elapsed = ::GetTickCount64() - start;

    ASSERT_FALSE(waited.has_value());
    EXPECT_EQ(waited.error().text(), "update_parent_busy");
    EXPECT_GE(elapsed, UPDATE_PARENT_TIMEOUT_MS - 500);
    EXPECT_LT(elapsed, UPDATE_PARENT_TIMEOUT_MS + 20000);
    EXPECT_FALSE(parent->has_exited());
}

}  // namespace
}  // namespace mirel
