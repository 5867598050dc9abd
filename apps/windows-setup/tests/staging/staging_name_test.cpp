#include "staging/staging_name.hpp"

#include <gtest/gtest.h>

namespace mirel {
namespace {

TEST(StagingTime, CountsNanosecondsFrom1970) {
    EXPECT_EQ(decimal_text(*unix_nanoseconds(UNIX_EPOCH_AS_FILETIME)), "0");
    EXPECT_EQ(decimal_text(*unix_nanoseconds(UNIX_EPOCH_AS_FILETIME + 1)), "100");
    // 2023-11-14 22:13:20 UTC.
    EXPECT_EQ(decimal_text(*unix_nanoseconds(UNIX_EPOCH_AS_FILETIME + 17'000'000'000'000'000)), "1700000000000000000");
}

TEST(StagingTime, TheLargestFiletimeNeedsMoreThan64Bits) {
    // (2^64 - 1 - 116444736000000000) * 100, which would wrap in 64 bits.
    EXPECT_EQ(decimal_text(*unix_nanoseconds(0xFFFF'FFFF'FFFF'FFFF)), "1833029933770955161500");
}

TEST(StagingTime, ATimeBefore1970IsNoTime) {
    EXPECT_FALSE(unix_nanoseconds(UNIX_EPOCH_AS_FILETIME - 1).has_value());
    EXPECT_FALSE(unix_nanoseconds(0).has_value());
}

TEST(StagingName, JoinsPidTimeAndAttemptWithHyphens) {
    EXPECT_EQ(staging_directory_name(812, 1'700'000'000'123'456'700, 0), "MirelSetup-812-1700000000123456700-0");
    EXPECT_EQ(staging_directory_name(0, 0, 99), "MirelSetup-0-0-99");
    EXPECT_EQ(staging_directory_name(4'294'967'295u, 10, 7), "MirelSetup-4294967295-10-7");
}

}  // namespace
}  // namespace mirel
