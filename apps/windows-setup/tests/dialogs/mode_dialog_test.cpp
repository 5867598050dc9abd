// The installation mode dialog on an English system, worked from outside like a user would.

#include <gtest/gtest.h>

#include "dialog_checks.hpp"

namespace mirel::dialog_test {
namespace {

namespace td = test_driver;
using wine_test::TempDir;

TEST(ModeDialog, ShowsTheEnglishTextsAndLinksOnAnEnglishSystem) {
    TempDir temp;
    auto setup = wine_test::start_setup({}, wine_test::temp_environment(temp.path()));
    ASSERT_TRUE(setup);
    HWND dialog = await_window(*setup, ENGLISH.title);
    ASSERT_NE(dialog, nullptr);
    expect_mode_dialog(dialog, ENGLISH);
    click_and_wait(dialog, CANCEL);
    expect_end_without_window(*setup, 0);
}

TEST(ModeDialog, ReturnChoosesBasicAndTheRunGoesOn) {
    TempDir temp;
    auto setup = wine_test::start_setup({}, missing_temp(temp));
    ASSERT_TRUE(setup);
    HWND dialog = await_window(*setup, ENGLISH.title);
    ASSERT_NE(dialog, nullptr);
    press_and_wait(dialog, td::Key::Return);
    // Past the dialog the run fails at its first step on disk: the failure box proves that
    // Return did not cancel.
    expect_failure_after_dialog(*setup, ENGLISH);
}

TEST(ModeDialog, TheAdvancedLinkGoesOnToo) {
    TempDir temp;
    auto setup = wine_test::start_setup({}, missing_temp(temp));
    ASSERT_TRUE(setup);
    HWND dialog = await_window(*setup, ENGLISH.title);
    ASSERT_NE(dialog, nullptr);
    click_and_wait(dialog, ADVANCED);
    expect_failure_after_dialog(*setup, ENGLISH);
}

// Every way of cancelling ends the run at once: exit code 0, no further window, and nothing
// written to the temporary directory (the packages are never inspected).
TEST(ModeDialog, EscapeAltF4AndTheCancelLinkEndTheRunQuietly) {
    const struct {
        const char* name;
        bool click;
        td::Key key;
    } ways[] = {
        {"Escape", false, td::Key::Escape},
        {"Alt+F4", false, td::Key::AltF4},
        {"the Cancel link", true, td::Key::Escape},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        TempDir temp;
        auto setup = wine_test::start_setup({}, wine_test::temp_environment(temp.path()));
        ASSERT_TRUE(setup);
        HWND dialog = await_window(*setup, ENGLISH.title);
        ASSERT_NE(dialog, nullptr);
        if (way.click) {
            click_and_wait(dialog, CANCEL);
        } else {
            press_and_wait(dialog, way.key);
        }
        expect_end_without_window(*setup, 0);
        EXPECT_TRUE(temp.entries().empty());
    }
}

TEST(PreviewRun, TurkishPreviewOnAnEnglishSystemEndsWithZeroWhicheverLinkIsPressed) {
    for (const int link : {BASIC, ADVANCED, CANCEL}) {
        SCOPED_TRACE(link);
        TempDir temp;
        auto setup = wine_test::start_setup({L"--preview-language=tr"}, wine_test::temp_environment(temp.path()));
        ASSERT_TRUE(setup);
        HWND dialog = await_window(*setup, TURKISH.title);
        ASSERT_NE(dialog, nullptr);
        expect_mode_dialog(dialog, TURKISH);
        click_and_wait(dialog, link);
        expect_end_without_window(*setup, 0);
        EXPECT_TRUE(temp.entries().empty()) << "a preview run wrote to the temporary directory";
    }
}

TEST(PreviewRun, ReturnInAPreviewEndsWithZero) {
    TempDir temp;
    auto setup = wine_test::start_setup({L"--preview-language=en"}, missing_temp(temp));
    ASSERT_TRUE(setup);
    HWND dialog = await_window(*setup, ENGLISH.title);
    ASSERT_NE(dialog, nullptr);
    press_and_wait(dialog, td::Key::Return);
    expect_end_without_window(*setup, 0);
}

TEST(PreviewRun, AnUnknownPreviewValueKeepsTheSystemLanguage) {
    TempDir temp;
    auto setup = wine_test::start_setup({L"--preview-language=TR", L"--preview-language=tr"},
                                        wine_test::temp_environment(temp.path()));
    ASSERT_TRUE(setup);
    HWND dialog = await_window(*setup, ENGLISH.title);
    ASSERT_NE(dialog, nullptr);
    expect_mode_dialog(dialog, ENGLISH);
    click_and_wait(dialog, BASIC);
    expect_end_without_window(*setup, 0);
}

TEST(PreviewRun, AnUpdateRunWithAPreviewArgumentShowsNothing) {
    for (const wchar_t* preview : {L"--preview-language=en", L"--preview-language=tr"}) {
        SCOPED_TRACE(td::narrow(preview));
        TempDir temp;
        auto setup = wine_test::start_setup({L"--update", preview}, wine_test::temp_environment(temp.path()));
        ASSERT_TRUE(setup);
        expect_end_without_window(*setup, 0);
        EXPECT_TRUE(temp.entries().empty());
    }
}

}  // namespace
}  // namespace mirel::dialog_test
