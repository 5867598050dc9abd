#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/command_line.hpp"
#include "common/os_error_text.hpp"
#include "common/path.hpp"
#include "common/unicode.hpp"
#include "common/unique_any.hpp"
#include "argv_split.hpp"

namespace mirel {
namespace {

TEST(Unicode, Utf16ToUtf8ReplacesEveryUnpairedSurrogate) {
    EXPECT_EQ(utf16_to_utf8(u"ab\u0131\u015F"), "ab\xC4\xB1\xC5\x9F");
    EXPECT_EQ(utf16_to_utf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    const std::u16string lone_high = {u'a', 0xD83D, u'b'};
    const std::u16string lone_low = {0xDE00, u'x'};
    const std::u16string reversed = {0xDE00, 0xD83D};
    const std::u16string trailing_high = {u'z', 0xD800};
    EXPECT_EQ(utf16_to_utf8(lone_high), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(utf16_to_utf8(lone_low), "\xEF\xBF\xBDx");
    EXPECT_EQ(utf16_to_utf8(reversed), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(utf16_to_utf8(trailing_high), "z\xEF\xBF\xBD");
    EXPECT_FALSE(is_valid_utf16(lone_high));
    EXPECT_FALSE(is_valid_utf16(trailing_high));
    EXPECT_TRUE(is_valid_utf16(u"\U0001F600 ok"));
}

TEST(Unicode, Utf8ToUtf16RoundTripsAndReplacesIllFormedBytes) {
    const std::string text = "Mirel'\xC4\xB1 ba\xC5\x9Flat \xF0\x9F\x98\x80 \xE2\x82\xAC";
    EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(text)), text);
    EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x98\x80"), (std::u16string{0xD83D, 0xDE00}));
    EXPECT_EQ(utf8_to_utf16("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(utf8_to_utf16("\xC0\xAF"), u"\uFFFD\uFFFD");           // overlong
    EXPECT_EQ(utf8_to_utf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
    EXPECT_EQ(utf8_to_utf16("\xE2\x82"), u"\uFFFD");                  // truncated at the end
    EXPECT_EQ(utf8_to_utf16(std::string_view("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Paths, JoinAddsOneBackslashOnlyWhenNeeded) {
    EXPECT_EQ(join_path("C:\\Temp\\", "en.msi"), "C:\\Temp\\en.msi");
    EXPECT_EQ(join_path("C:\\Temp", "en.msi"), "C:\\Temp\\en.msi");
    EXPECT_EQ(join_path("C:/Temp/", "en.msi"), "C:/Temp/en.msi");
    EXPECT_EQ(join_path("", "en.msi"), "\\en.msi");
}

TEST(Paths, ShortAbsolutePathsPassUnchangedOthersGetTheLongForm) {
    EXPECT_TRUE(passes_unprefixed(u"C:\\Temp\\x"));
    EXPECT_TRUE(passes_unprefixed(u"\\\\server\\share\\x"));
    EXPECT_FALSE(passes_unprefixed(u"Temp\\x"));
    EXPECT_FALSE(passes_unprefixed(u"C:Temp"));
    EXPECT_FALSE(passes_unprefixed(u"\\Temp"));

    const std::u16string at_limit = u"C:\\" + std::u16string(SHORT_PATH_LIMIT - 5, u'a');   // 246 units
    const std::u16string over_limit = u"C:\\" + std::u16string(SHORT_PATH_LIMIT - 4, u'a');  // 247 units
    EXPECT_TRUE(passes_unprefixed(at_limit));
    EXPECT_FALSE(passes_unprefixed(over_limit));

    EXPECT_EQ(long_path_form(u"C:\\a\\b"), u"\\\\?\\C:\\a\\b");
    EXPECT_EQ(long_path_form(u"\\\\server\\share\\b"), u"\\\\?\\UNC\\server\\share\\b");
    EXPECT_EQ(long_path_form(u"\\\\?\\C:\\a"), u"\\\\?\\C:\\a");
    EXPECT_TRUE(is_device_path(u"\\\\.\\pipe\\x"));
}

TEST(Paths, TheSystemsLongFormGoesBackToADriveOrUncPath) {
    EXPECT_EQ(drive_or_unc_form(u"\\\\?\\C:\\Users\\a"), u"C:\\Users\\a");
    EXPECT_EQ(drive_or_unc_form(u"\\\\?\\UNC\\server\\share\\t"), u"\\\\server\\share\\t");
    EXPECT_EQ(drive_or_unc_form(u"C:\\Temp"), u"C:\\Temp");
    // Only the long form can name a volume that has no drive letter.
    EXPECT_FALSE(drive_or_unc_form(u"\\\\?\\Volume{5c1e}\\Temp").has_value());
    EXPECT_FALSE(drive_or_unc_form(u"\\\\?\\UNC\\").has_value());
}

TEST(OsErrorText, MessageTrimmedThenCode) {
    EXPECT_EQ(format_os_error("The system cannot find the path specified.\r\n", 3),
              "The system cannot find the path specified. (os error 3)");
    EXPECT_EQ(format_os_error_fallback(5000, 317), "OS Error 5000 (FormatMessageW() returned error 317)");
}

using testing::split_arguments;

TEST(CommandLine, QuotesOnlyWhereNeededAndRoundTrips) {
    const std::vector<std::string> arguments = {
        "/i", "C:\\Temp\\en.msi", "C:\\Users\\Test User\\en.msi", "", "tab\there", "a\"b", "trail\\",
        "trail space\\", "\\\\\"", "quote\\\"", "T\xC3\xBC" "rk\xC3\xA7" "e \xC4\xB1", "MIREL_SETUP_LAUNCH_OWNER=1"};
    const auto line = build_command_line("C:\\Windows\\system32\\msiexec.exe", arguments);
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->starts_with("\"C:\\Windows\\system32\\msiexec.exe\" /i C:\\Temp\\en.msi "
                                  "\"C:\\Users\\Test User\\en.msi\" \"\" \"tab\there\" a\\\"b trail\\ "
                                  "\"trail space\\\\\""));
    EXPECT_EQ(split_arguments(*line), arguments);
}

TEST(CommandLine, RefusesANulCharacter) {
    const std::vector<std::string> arguments = {"ok", std::string("a\0b", 3)};
    const auto line = build_command_line("msiexec.exe", arguments);
    ASSERT_FALSE(line);
    EXPECT_EQ(line.error().text(), "nul byte found in provided data");
}

struct FakeTraits {
    using pointer = int;
    static inline std::vector<int> closed;
    static pointer empty() { return -1; }
    static bool is_empty(pointer value) { return value < 0; }
    static void close(pointer value) { closed.push_back(value); }
};

TEST(UniqueAny, ClosesExactlyOnceAcrossMovesResetsAndPut) {
    FakeTraits::closed.clear();
    {
        UniqueAny<FakeTraits> a(3);
        UniqueAny<FakeTraits> b(std::move(a));
        EXPECT_FALSE(a);
        UniqueAny<FakeTraits> c(4);
        c = std::move(b);  // 4 closed here
        *c.put() = 5;      // 3 closed, slot refilled
        UniqueAny<FakeTraits> d(6);
        EXPECT_EQ(d.release(), 6);
    }
    EXPECT_EQ(FakeTraits::closed, (std::vector<int>{4, 3, 5}));
}

}  // namespace
}  // namespace mirel
