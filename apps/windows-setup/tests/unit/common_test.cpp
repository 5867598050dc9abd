#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "argv_split.hpp"
#include "common/command_line.hpp"
#include "common/os_error_text.hpp"
#include "common/path.hpp"
#include "common/run_log.hpp"
#include "common/unicode.hpp"
#include "common/unique_any.hpp"

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

TEST(RunLog, TimesAreUtcToTheMillisecond) {
    constexpr std::uint64_t EPOCH = 116'444'736'000'000'000;
    const struct {
        std::uint64_t unix_milliseconds;
        const char* text;
    } times[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {951'782'400'000, "2000-02-29T00:00:00.000Z"},
        {1'796'829'103'123, "2026-12-09T15:11:43.123Z"},
        {4'107'542'399'999, "2100-02-28T23:59:59.999Z"},
        {4'107'542'400'000, "2100-03-01T00:00:00.000Z"},
    };
    for (const auto& time : times) {
        EXPECT_EQ(utc_timestamp(EPOCH + time.unix_milliseconds * 10'000 + 9'999), time.text);
    }
}

TEST(RunLog, OutsideTextStaysOnOneLineAndValidUtf8) {
    EXPECT_EQ(one_line("a\r\nb\tc\x01\x7F"), "a\\r\\nb\\tc\\x01\\x7f");
    EXPECT_EQ(one_line("C:\\Users\\\xC4\xB0\xC5\x9F \xE4\xB8\xAD"), "C:\\Users\\\xC4\xB0\xC5\x9F \xE4\xB8\xAD");
    EXPECT_EQ(one_line("\xFF"
                       "ok\xC4"),
              "\xEF\xBF\xBD"
              "ok\xEF\xBF\xBD");
}

TEST(RunLog, EventsAreComposedOnlyForALog) {
    static std::vector<std::string> lines;
    const std::byte digest[] = {std::byte{0x00}, std::byte{0xAB}, std::byte{0x0F}};
    const std::vector<std::string> rows = {"Installed", "a\nb"};
    const std::vector<std::string> none;
    const SetupError error(ErrorCode::Clock);
    const auto event = [&] {
        log_event("topic", {"n=", -42, " u=", 4294967295u, " ", LogPart::hex(digest), " ", LogPart::rows(rows), " ",
                            LogPart::rows(none), " ", LogPart::error(error), " ", LogPart::outside("x\ty"), " ",
                            LogPart::os_error(5)});
    };
    event();
    set_run_log_sink([](std::string_view topic, std::string_view text) {
        lines.push_back(std::string(topic) + ": " + std::string(text));
    });
    event();
    set_run_log_sink([](std::string_view, std::string_view text) { lines.push_back(std::string(text)); },
                     [](std::uint32_t code) { return "error " + std::to_string(code); });
    log_event("topic", {LogPart::os_error(5)});
    set_run_log_sink(nullptr);
    event();
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "topic: n=-42 u=4294967295 00ab0f \"Installed\", \"a\\nb\" no row clock x\\ty os error 5",
                         "error 5"}));
}

}  // namespace
}  // namespace mirel
