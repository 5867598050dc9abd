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

TEST(StagingName, OnlyTheExactPatternIsRecognised) {
    const std::optional<StagingNameParts> parts =
        parse_staging_directory_name("MirelSetup-812-1700000000123456700-3", 100);
    ASSERT_TRUE(parts.has_value());
    EXPECT_EQ(parts->process_id, 812u);
    EXPECT_EQ(decimal_text(parts->time), "1700000000123456700");
    EXPECT_EQ(parts->attempt, 3u);
    EXPECT_TRUE(parse_staging_directory_name("MirelSetup-4294967295-1833029933770955161500-99", 100).has_value());
    for (const char* name : {"MirelSetup-812-1700000000123456700-100", "MirelSetup-812-1700000000123456701-0",
                             "MirelSetup-0812-1700000000123456700-0", "MirelSetup-812-01700000000123456700-0",
                             "MirelSetup-812-1700000000123456700-00", "MirelSetup-4294967296-100-0",
                             "MirelSetup-812-1700000000123456700-0-1", "MirelSetup-812-1700000000123456700-",
                             "MirelSetup-812--0", "MirelSetup-+812-100-0", "mirelsetup-812-100-0",
                             "MirelSetup-812-100-0 ", "MirelSetup-812-1000000000000000000000000000000000000000-0"})
        EXPECT_FALSE(parse_staging_directory_name(name, 100).has_value()) << name;
}

TEST(StagingName, HandsOutTheFullPathOrTheShortFormBelowTheLimit) {
    // "webview.exe" (11 units) in a directory of 247 units ends at 259 units and the terminator.
    const std::u16string at_limit(247, u'a');
    const std::u16string over_limit(248, u'a');
    const std::u16string short_form = u"C:\\PROGRA~1\\MIRELS~1";
    int asked = 0;
    const auto shortened = [&](std::expected<std::u16string, std::uint32_t> form) {
        return [&asked, form] {
            ++asked;
            return form;
        };
    };
    EXPECT_EQ(handed_directory_path(at_limit, shortened(short_form), 11), at_limit);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(handed_directory_path(over_limit, shortened(short_form), 11), short_form);
    // A short form that cannot be read gives the system's reason (an ancestor that may be passed
    // but not listed: access denied), not "too long".
    EXPECT_EQ(handed_directory_path(over_limit, shortened(std::unexpected(5u)), 11).error(), 5u);
    // Without short names the full form comes back, too long.
    EXPECT_EQ(handed_directory_path(over_limit, shortened(over_limit), 11).error(), FILENAME_TOO_LONG);
}

}  // namespace
}  // namespace mirel
