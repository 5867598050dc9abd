// The dialogs on a system whose display language is Turkish.

#include <gtest/gtest.h>

#include "dialog_checks.hpp"

namespace mirel::dialog_test {
namespace {

namespace td = test_driver;
using wine_test::TempDir;

TEST(TurkishSystem, ARunWithoutArgumentsShowsTheTurkishDialog) {
    TempDir temp;
    auto setup = wine_test::start_setup({}, wine_test::temp_environment(temp.path()));
    ASSERT_TRUE(setup);
    HWND dialog = await_window(*setup, TURKISH.title);
    ASSERT_NE(dialog, nullptr);
    expect_mode_dialog(dialog, TURKISH);
    press_and_wait(dialog, td::Key::Escape);
    expect_end_without_window(*setup, 0);
    EXPECT_TRUE(temp.entries().empty());
}

TEST(TurkishSystem, AnEnglishPreviewShowsTheEnglishDialog) {
    TempDir temp;
    auto setup = wine_test::start_setup({L"--preview-language=en"}, wine_test::temp_environment(temp.path()));
    ASSERT_TRUE(setup);
    HWND dialog = await_window(*setup, ENGLISH.title);
    ASSERT_NE(dialog, nullptr);
    expect_mode_dialog(dialog, ENGLISH);
    click_and_wait(dialog, ADVANCED);
    expect_end_without_window(*setup, 0);
}

TEST(TurkishSystem, TheFailureBoxIsTurkish) {
    TempDir temp;
    auto setup = wine_test::start_setup({}, missing_temp(temp));
    ASSERT_TRUE(setup);
    HWND dialog = await_window(*setup, TURKISH.title);
    ASSERT_NE(dialog, nullptr);
    press_and_wait(dialog, td::Key::Return);
    EXPECT_FALSE(expect_failure_after_dialog(*setup, TURKISH).empty());
}

// An image without its icon, previewed in English on a Turkish system, reports in Turkish.
TEST(TurkishSystem, APreviewFailureIsReportedInTheDisplayLanguage) {
    TempDir temp;
    auto setup = wine_test::start_setup({L"--preview-language=en"}, wine_test::temp_environment(temp.path()), false,
                                         wine_test::built_program(L"mirel-setup-without-icon.exe"));
    ASSERT_TRUE(setup);
    HWND box = td::wait_for_any_window(setup->id(), wine_test::WINDOW_TIMEOUT_MS);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(td::narrow(expect_failure_box(box, TURKISH)), "setup_icon");
    click_and_wait(box, IDOK);
    expect_end_without_window(*setup, 1);
}

}  // namespace
}  // namespace mirel::dialog_test
