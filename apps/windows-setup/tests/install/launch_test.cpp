// Starting the installed program through the shell, under Wine: the start of the program itself,
// which an elevated run (every run under Wine) falls back to where the desktop's shell cannot
// start it. A thread in the multithreaded apartment is one such place.
#include "install/engine.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include "common/win32.hpp"
#include "wine_files.hpp"

namespace mirel {
namespace {

using wine_test::read_file_holding;

TEST(LaunchApplication, StartsTheProgramFileThroughTheGivenPathInItsFolderOrGivesTheRunsText) {
    const wine_test::TempDir scratch(L"launch");
    const std::wstring record = scratch.child(L"record.txt");
    const std::wstring directory = scratch.child(L"cwd.txt");
    // The started program inherits these and leaves its records there.
    ::SetEnvironmentVariableW(L"MIREL_STANDIN_RECORD", record.c_str());
    ::SetEnvironmentVariableW(L"MIREL_STANDIN_CWD", directory.c_str());
    const std::wstring folder = scratch.child(L"Mirel \u00C7al\u0131\u015Fma");
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring program = folder + L"\\mirel-desktop.exe";
    ASSERT_TRUE(
        ::CopyFileW((wine_test::own_directory() + L"\\install_standin_engine.exe").c_str(), program.c_str(), TRUE));
    const LanguageTexts texts{{TextKey::launchFailed, "Could not start."}};

    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    const Status launched = launch_application(from_wide(program), texts);
    ASSERT_TRUE(launched.has_value()) << launched.error().text();
    const std::string started = read_file_holding(record, "\n", 10'000);
    ASSERT_NE(started.find('\n'), std::string::npos) << "the program did not start";
    EXPECT_TRUE(wine_test::same_path(wine_test::widen(started.substr(started.find('\n') + 1)), program)) << started;
    // The record of the current directory is written before the start record's second line.
    EXPECT_TRUE(wine_test::same_path(wine_test::widen(wine_test::read_file(directory)), folder))
        << wine_test::read_file(directory);

    const std::string missing = from_wide(scratch.child(L"absent\\mirel-desktop.exe"));
    const Status not_launched = launch_application(missing, texts);
    ASSERT_FALSE(not_launched.has_value());
    EXPECT_EQ(not_launched.error().text(), "Could not start.");
    const LanguageTexts english = load_language_texts(UiLanguage::English);
    const Status english_launch = launch_application(missing, english);
    ASSERT_FALSE(english_launch.has_value());
    EXPECT_EQ(english_launch.error().text(), localized_text(english, TextKey::launchFailed));
    EXPECT_NE(english_launch.error().text(), "launchFailed") << "the table has no launchFailed text";
    ::CoUninitialize();
    ::SetEnvironmentVariableW(L"MIREL_STANDIN_RECORD", nullptr);
    ::SetEnvironmentVariableW(L"MIREL_STANDIN_CWD", nullptr);
    // The started program keeps its folder as long as it runs there: the folder goes once it has ended.
    for (int i = 0; i < 100 && !wine_test::remove_tree(folder); ++i) ::Sleep(100);
}

}  // namespace
}  // namespace mirel
