// An interactive run on a Turkish system: the Turkish package is the one installed for real, and
// every window speaks Turkish.
#include <gtest/gtest.h>

#include <windows.h>

#include "dialogs/help_text.hpp"
#include "program_support.hpp"

namespace mirel::program_test {
namespace {

TEST(TurkishInstallation, InstallsTheTurkishPackageAndAsksInTurkish) {
    ASSERT_EQ(::GetUserDefaultUILanguage(), 0x041F) << "this test needs a Turkish prefix";
    const std::wstring title = widen("Mirel - Oruvan Kurulumu");
    const std::wstring question_text =
        widen("Mirel kuruldu. Uygulamay\xC4\xB1 \xC5\x9Fimdi ba\xC5\x9Flatmak ister misiniz?");
    ASSERT_TRUE(uninstall(ENGLISH_PRODUCT));
    ASSERT_TRUE(uninstall(TURKISH_PRODUCT));
    TestFolder folder;
    ::DeleteFileW(shell_marker().c_str());

    std::unique_ptr<td::Process> setup = start_setup(setup_program(), {}, folder);
    ASSERT_TRUE(setup);
    const HWND dialog = await_window(*setup, title);
    ASSERT_NE(dialog, nullptr) << "no Turkish mode dialog";
    ASSERT_TRUE(click_and_wait(dialog, BASIC_BUTTON));

    const std::optional<ShownBox> question = wait_for_message_box(setup->id(), title);
    ASSERT_TRUE(question.has_value()) << "no Turkish launch question";
    EXPECT_EQ(question->text, question_text) << narrow(question->text) << "\n" << folder.verifier_log();
    EXPECT_TRUE(product_installed(TURKISH_PRODUCT));
    EXPECT_FALSE(product_installed(ENGLISH_PRODUCT));
    EXPECT_EQ(product_info(TURKISH_PRODUCT, L"Language"), L"1055");
    ASSERT_TRUE(click_and_wait(question->window, IDYES));

    ASSERT_NO_FATAL_FAILURE(expect_end_without_window(*setup, 0u));
    EXPECT_NE(read_file_holding(shell_marker(), "mirel-desktop.exe", 30'000).find("mirel-desktop.exe"),
              std::string::npos)
        << "the application was not started";
    EXPECT_TRUE(folder.staging_directories().empty());
    EXPECT_TRUE(uninstall(TURKISH_PRODUCT));
}

// Asked for by a person, the list of options is the one window they expect: a box in the display
// language, before any other kind of run.
TEST(TurkishInstallation, TheListOfOptionsIsAnInformationBoxInTurkish) {
    const LanguageTexts turkish = load_language_texts(UiLanguage::Turkish);
    TestFolder folder;
    std::unique_ptr<td::Process> setup = start_setup(setup_program(), {L"--update", L"/?"}, folder);
    ASSERT_TRUE(setup);
    const std::wstring title = widen(localized_text(turkish, TextKey::title));
    const std::optional<ShownBox> box = wait_for_message_box(setup->id(), title);
    ASSERT_TRUE(box.has_value()) << "no Turkish list of options";
    EXPECT_EQ(box->text, widen(help_text(turkish))) << narrow(box->text);
    EXPECT_EQ(box->icon, td::BoxIcon::Information);
    EXPECT_EQ(box->buttons, std::vector<int>{IDOK});
    ASSERT_TRUE(click_and_wait(box->window, IDOK));
    ASSERT_NO_FATAL_FAILURE(expect_end_without_window(*setup, 0u));
}

}  // namespace
}  // namespace mirel::program_test
