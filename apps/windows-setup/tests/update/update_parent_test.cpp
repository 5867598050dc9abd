// The wait for the update parent under Wine, with a real process standing in for the parent.
#include "update/update_parent.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "parent_process.hpp"

namespace mirel {
namespace {

LaunchOptions update_options(std::optional<std::string> wait_pid) {
    LaunchOptions options;
    options.update = true;
    options.wait_pid = std::move(wait_pid);
    return options;
}

// Milliseconds taken by one hand-over.
struct Timed {
    Status status;
    ULONGLONG elapsed;
};
Timed timed_wait(const LaunchOptions& options) {
    const ULONGLONG start = ::GetTickCount64();
    Status status = wait_for_update_parent(options);
    return {std::move(status), ::GetTickCount64() - start};
}

TEST(UpdateParent, WaitsUntilTheParentEnds) {
    for (const char* prefix : {"", "+", "0", "+000"}) {
        const auto parent = test::start_parent(3000);
        ASSERT_TRUE(parent);
        const Timed waited = timed_wait(update_options(prefix + std::to_string(parent->id())));
        ASSERT_TRUE(waited.status.has_value()) << prefix << ": " << waited.status.error().text();
        EXPECT_TRUE(parent->has_exited()) << prefix;
        EXPECT_GE(waited.elapsed, 1500u) << prefix;
        EXPECT_LT(waited.elapsed, 60000u) << prefix;
    }
}

TEST(UpdateParent, AParentThatHasEndedIsNotWaitedFor) {
    auto parent = test::start_parent(0);
    ASSERT_TRUE(parent);
    ASSERT_TRUE(parent->wait_for_exit(30'000));
    const DWORD id = parent->id();
    parent.reset();  // with its last handle closed, the id names no process
    for (const std::string& pid : {std::to_string(id), std::string("4294967295")}) {
        const Timed waited = timed_wait(update_options(pid));
        ASSERT_TRUE(waited.status.has_value()) << pid << ": " << waited.status.error().text();
        EXPECT_LT(waited.elapsed, 2000u) << pid;
    }
}

TEST(UpdateParent, MissingMalformedZeroOrOwnIdIsInvalid) {
    const auto running = test::start_parent(20000);  // must not be waited for by a malformed id
    ASSERT_TRUE(running);
    const std::string id = std::to_string(running->id());
    const std::optional<std::string> cases[] = {std::nullopt,
                                                "",
                                                "0",
                                                "+",
                                                "-" + id,
                                                " " + id,
                                                id + " ",
                                                "++" + id,
                                                "4294967296",
                                                "0x10",
                                                std::to_string(::GetCurrentProcessId()),
                                                "+0" + std::to_string(::GetCurrentProcessId())};
    for (const std::optional<std::string>& pid : cases) {
        const Timed waited = timed_wait(update_options(pid));
        ASSERT_FALSE(waited.status.has_value()) << pid.value_or("(unset)");
        EXPECT_EQ(waited.status.error().text(), "update_parent_invalid") << pid.value_or("(unset)");
        EXPECT_LT(waited.elapsed, 2000u) << pid.value_or("(unset)");
    }
    EXPECT_FALSE(running->has_exited());
}

}  // namespace
}  // namespace mirel
