#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "options/launch_options.hpp"

namespace mirel {
namespace {

LaunchOptions parse(std::vector<std::string> arguments) { return parse_launch_options(arguments); }

TEST(LaunchOptions, NoArgumentsLeaveEveryFieldUnset) {
    EXPECT_EQ(parse({}), LaunchOptions{});
}

TEST(LaunchOptions, ValidateIsRecognisedOnlyAsTheWholeExactArgument) {
    for (const char* variant : {"--Validate", "--VALIDATE", "--validate=1", "-validate", "/validate",
                                "--validate ", " --validate", "--valid"}) {
        EXPECT_FALSE(parse({variant}).validate) << variant;
    }
    EXPECT_TRUE(parse({"--update", "--preview-language=tr", "--validate"}).validate);
}

TEST(LaunchOptions, FirstPreviewArgumentAloneNamesTheLanguage) {
    EXPECT_EQ(parse({"--preview-language=tr"}).forced_language, UiLanguage::Turkish);
    EXPECT_EQ(parse({"--preview-language=en"}).forced_language, UiLanguage::English);
    EXPECT_EQ(parse({"x", "--preview-language=en", "--preview-language=tr"}).forced_language,
              UiLanguage::English);

    // Any other value still makes a preview run, in the system language.
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"--preview-language=TR"}, {"--preview-language=de"}, {"--preview-language="},
             {"--preview-language=tr "}, {"--preview-language=tra"}, {"--preview-language=t"},
             {"--preview-language=de", "--preview-language=tr"}}) {
        const LaunchOptions options = parse(args);
        EXPECT_TRUE(options.preview) << args[0];
        EXPECT_FALSE(options.forced_language.has_value()) << args[0];
    }
}

TEST(LaunchOptions, PreviewPrefixMustBeComplete) {
    EXPECT_FALSE(parse({"--preview-language"}).preview);
    EXPECT_FALSE(parse({"--Preview-language=tr"}).preview);
}

TEST(LaunchOptions, UpdateIsAWholeArgumentAndRepeatsCountOnce) {
    EXPECT_TRUE(parse({"--update", "--update"}).update);
    EXPECT_FALSE(parse({"--update=1"}).update);
    EXPECT_FALSE(parse({"--UPDATE"}).update);
}

TEST(LaunchOptions, WaitPidTakesTheTextOfTheFirstArgumentWithItsPrefix) {
    EXPECT_FALSE(parse({"--update"}).wait_pid.has_value());
    EXPECT_EQ(parse({"--wait-pid="}).wait_pid, std::string());
    EXPECT_EQ(parse({"--wait-pid=abc", "--wait-pid=812"}).wait_pid, "abc");
    EXPECT_EQ(parse({"--wait-pid=+0812"}).wait_pid, "+0812");
    EXPECT_FALSE(parse({"--wait-pid"}).wait_pid.has_value());
    // Read without --update too; only the update hand-over ever looks at it.
    EXPECT_FALSE(parse({"--wait-pid=812"}).update);
}

TEST(LaunchOptions, LogTakesTheFirstArgumentWithAValue) {
    EXPECT_FALSE(parse({"--update"}).log_path.has_value());
    // Without a value it is no log option at all, and a later one counts.
    EXPECT_FALSE(parse({"--log="}).log_path.has_value());
    EXPECT_EQ(parse({"--log=", "--log=a.log", "--log=b.log"}).log_path, "a.log");
    EXPECT_FALSE(parse({"--log", "--LOG=x.log", "-log=x.log", "/log=x.log"}).log_path.has_value());
    EXPECT_EQ(parse({"--validate", "--log=C:\\Dest\xC4\xB0 \xC5\x9F\\run.log"}).log_path,
              "C:\\Dest\xC4\xB0 \xC5\x9F\\run.log");
}

TEST(LaunchOptions, QuietHelpAndLanguageAreExactAndChangeNothingElse) {
    const struct {
        std::vector<std::string> arguments;
        bool quiet;
        bool help;
        std::optional<std::string> language;
    } cases[] = {
        {{"--quiet", "--quiet"}, true, false, {}},
        // What other setup programs take is an unrecognised argument here.
        {{"--Quiet", "--quiet=1", "-quiet", "/quiet", "/q", "/S", "/VERYSILENT", "--quiet "}, false, false, {}},
        {{"--help"}, false, true, {}},
        {{"/?"}, false, true, {}},
        {{"-?", "/h", "-h", "--HELP", "/? ", "--help=1", "/??"}, false, false, {}},
        {{"--language=tr"}, false, false, "tr"},
        // The first one counts, whatever its value; it is judged only in a quiet run.
        {{"--language=de", "--language=tr"}, false, false, "de"},
        {{"--quiet", "--language=", "--help"}, true, true, ""},
        {{"--language", "--LANGUAGE=tr", "-language=tr", "/language=tr"}, false, false, {}},
    };
    for (const auto& c : cases) {
        const LaunchOptions options = parse(c.arguments);
        EXPECT_EQ(options.quiet, c.quiet) << c.arguments[0];
        EXPECT_EQ(options.help, c.help) << c.arguments[0];
        EXPECT_EQ(options.language, c.language) << c.arguments[0];
        // Not the preview's language, and no other kind of run.
        EXPECT_FALSE(options.preview || options.forced_language || options.validate || options.update)
            << c.arguments[0];
    }
}

TEST(LaunchOptions, UnknownAndMalformedArgumentsChangeNothing) {
    const std::string replaced = "--valid\xEF\xBF\xBD" "ate";  // an argument that held a lone surrogate
    EXPECT_EQ(parse({"install", "", replaced, std::string(40000, 'x'), "--"}), LaunchOptions{});

    std::vector<std::string> many(5000, "--unknown");
    many.emplace_back("--validate");
    EXPECT_TRUE(parse(many).validate);
}

TEST(LaunchOptions, HasValidateOptionMatchesTheParsedFlag) {
    const std::vector<std::string> with = {"--update", "--validate"};
    const std::vector<std::string> without = {"--validate=", "--update"};
    EXPECT_TRUE(has_validate_option(with));
    EXPECT_FALSE(has_validate_option(without));
}

}  // namespace
}  // namespace mirel
