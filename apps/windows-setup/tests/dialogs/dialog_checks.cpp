#include "dialog_checks.hpp"

#include <gtest/gtest.h>

namespace mirel::dialog_test {

namespace td = test_driver;

const ModeDialogTexts ENGLISH = {
    L"Mirel - Oruvan Setup",
    L"Choose an installation mode",
    L"After installation, you will be asked whether to launch Mirel.",
    L"Basic installation\nInstall with default settings. No folder or installation options are requested.",
    L"Advanced installation\nChoose the installation folder and existing installation options yourself.",
    L"Cancel",
    L"Mirel installation could not be completed.",
};

const ModeDialogTexts TURKISH = {
    L"Mirel - Oruvan Kurulumu",
    L"Kurulum türünü seçin",
    L"Kurulum tamamlandığında Mirel'ı başlatmak için onayınız sorulacak.",
    L"Temel kurulum\nVarsayılan ayarlarla kurar. Klasör ve kurulum seçenekleri sorulmaz.",
    L"Gelişmiş kurulum\nKurulum klasörünü ve mevcut kurulum seçeneklerini kendiniz belirleyin.",
    L"İptal",
    L"Mirel kurulumu tamamlanamadı.",
};

namespace {

std::string visible_windows_report(DWORD process_id) {
    std::string report;
    for (HWND window : td::visible_windows(process_id)) report += td::describe_window(window);
    return report.empty() ? "no window is visible" : report;
}

}  // namespace

bool ends_with(std::wstring_view text, std::wstring_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

wine_test::Environment missing_temp(const wine_test::TempDir& temp) {
    return wine_test::temp_environment(temp.child(L"missing"));
}

HWND await_window(td::Process& process, const std::wstring& caption) {
    HWND window = td::wait_for_window(process.id(), caption, wine_test::WINDOW_TIMEOUT_MS);
    if (window == nullptr) {
        ADD_FAILURE() << "no window \"" << td::narrow(caption) << "\"; "
                      << (process.has_exited() ? "the program has ended; " : "")
                      << visible_windows_report(process.id());
    }
    return window;
}

void expect_mode_dialog(HWND dialog, const ModeDialogTexts& texts) {
    EXPECT_EQ(td::narrow(td::window_text(dialog)), td::narrow(texts.title));
    std::vector<std::string> statics;
    for (const td::Control& control : td::controls(dialog)) {
        if (control.visible && control.class_name == L"Static" && !control.text.empty()) {
            statics.push_back(td::narrow(control.text));
        }
    }
    EXPECT_EQ(statics, (std::vector<std::string>{td::narrow(texts.instruction), td::narrow(texts.content)}));

    std::vector<std::pair<int, std::string>> links;
    for (const td::Control& button : td::buttons(dialog)) links.emplace_back(button.id, td::narrow(button.text));
    EXPECT_EQ(links, (std::vector<std::pair<int, std::string>>{{BASIC, td::narrow(texts.basic)},
                                                              {ADVANCED, td::narrow(texts.advanced)},
                                                              {CANCEL, td::narrow(texts.cancel)}}));
}

void click_and_wait(HWND window, int id) {
    ASSERT_TRUE(td::click_button(window, id)) << "no button " << id;
    EXPECT_TRUE(td::wait_for_window_gone(window, wine_test::WINDOW_TIMEOUT_MS)) << "button " << id;
}

void press_and_wait(HWND window, td::Key key) {
    ASSERT_TRUE(td::press_key(window, key));
    EXPECT_TRUE(td::wait_for_window_gone(window, wine_test::WINDOW_TIMEOUT_MS));
}

void expect_end_without_window(td::Process& process, std::uint32_t exit_code, HWND ignored) {
    const td::ExitWatch end = td::wait_for_exit_without_window(process, wine_test::EXIT_TIMEOUT_MS, ignored);
    if (end.window != nullptr) {
        td::settle(process.handle(), end.window);
        ADD_FAILURE() << "a further window appeared: " << td::describe_window(end.window);
        return;
    }
    ASSERT_TRUE(end.exit_code.has_value()) << "the program did not end";
    EXPECT_EQ(*end.exit_code, exit_code);
}

std::wstring expect_failure_box(HWND box, const ModeDialogTexts& texts) {
    EXPECT_EQ(td::narrow(td::window_text(box)), td::narrow(texts.title));
    const std::optional<std::wstring> text = td::message_box_text(box);
    if (!text) {
        ADD_FAILURE() << "not a message box: " << td::describe_window(box);
        return {};
    }
    const std::wstring heading = texts.failed + L"\n\n";
    if (text->substr(0, heading.size()) != heading) {
        ADD_FAILURE() << "box text \"" << td::escape(*text) << "\" does not begin with \"" << td::escape(heading)
                      << "\"";
        return {};
    }
    std::vector<int> ids;
    for (const td::Control& button : td::buttons(box)) ids.push_back(button.id);
    EXPECT_EQ(ids, std::vector<int>{IDOK});
    return text->substr(heading.size());
}

std::wstring expect_failure_after_dialog(td::Process& process, const ModeDialogTexts& texts) {
    HWND box = await_window(process, texts.title);
    if (box == nullptr) return {};  // reported by await_window
    const std::wstring detail = expect_failure_box(box, texts);
    click_and_wait(box, IDOK);
    expect_end_without_window(process, 1);
    return detail;
}

}  // namespace mirel::dialog_test
