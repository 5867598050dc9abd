// Starting the installed program through the shell, under Wine.
#include "install/engine.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include "common/win32.hpp"
#include "wine_files.hpp"

namespace mirel {
namespace {

class LaunchApplication : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = wine_test::make_temp_directory(L"launch");
        record_ = scratch_ + L"\\record.txt";
        // The started program inherits this and leaves its record there.
        ::SetEnvironmentVariableW(L"MIREL_STANDIN_RECORD", record_.c_str());
        ::SetEnvironmentVariableW(L"MIREL_STANDIN_EXIT", nullptr);
        ::SetEnvironmentVariableW(L"MIREL_STANDIN_STDOUT", nullptr);
    }
    void TearDown() override {
        // The started program may still be writing its record.
        for (int i = 0; i < 50 && !wine_test::exists(record_); ++i) ::Sleep(100);
        ::Sleep(200);
        wine_test::remove_tree(scratch_);
    }

    std::wstring scratch_;
    std::wstring record_;
};

TEST_F(LaunchApplication, StartsTheProgramFileThroughTheGivenPath) {
    const std::wstring folder = scratch_ + L"\\Mirel \u00C7al\u0131\u015Fma";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring program = folder + L"\\mirel-desktop.exe";
    ASSERT_TRUE(
        ::CopyFileW((wine_test::own_directory() + L"\\install_standin_engine.exe").c_str(), program.c_str(), TRUE));

    const LanguageTexts texts{{TextKey::launchFailed, "Could not start."}};
    const Status launched = launch_application(from_wide(program), texts);
    ASSERT_TRUE(launched.has_value()) << launched.error().text();

    for (int i = 0; i < 100 && wine_test::read_file(record_).find('\n') == std::string::npos; ++i) ::Sleep(100);
    const std::string record = wine_test::read_file(record_);
    ASSERT_NE(record.find('\n'), std::string::npos) << "the program did not start";
    EXPECT_EQ(::CompareStringOrdinal(wine_test::widen(record.substr(record.find('\n') + 1)).c_str(), -1,
                                     program.c_str(), -1, TRUE),
              CSTR_EQUAL)
        << record;
}

TEST_F(LaunchApplication, AMissingProgramGivesTheRunsLaunchFailedText) {
    const std::string missing = from_wide(scratch_) + "\\absent\\mirel-desktop.exe";
    const LanguageTexts texts{{TextKey::launchFailed, "Could not start."}};
    const Status launched = launch_application(missing, texts);
    ASSERT_FALSE(launched.has_value());
    EXPECT_EQ(launched.error().text(), "Could not start.");

    const LanguageTexts english = load_language_texts(UiLanguage::English);
    const Status english_launch = launch_application(missing, english);
    ASSERT_FALSE(english_launch.has_value());
    EXPECT_EQ(english_launch.error().text(), localized_text(english, TextKey::launchFailed));
    EXPECT_NE(english_launch.error().text(), "launchFailed") << "the table has no launchFailed text";
}

}  // namespace
}  // namespace mirel
