#include "dialog_checks.hpp"

#include <gtest/gtest.h>

#include <regex>

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

wine_test::Environment missing_temp(const wine_test::TempDir& temp) {
    return wine_test::temp_environment(temp.child(L"missing"));
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
    EXPECT_EQ(td::message_box_icon(box), td::BoxIcon::Error);
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

void expect_run(const DialogRun& run) {
    SCOPED_TRACE(run.name);
    wine_test::TempDir temp;
    auto setup = wine_test::start_setup(
        run.arguments, run.missing_temp ? missing_temp(temp) : wine_test::temp_environment(temp.path()), false,
        run.program ? wine_test::built_program(run.program) : std::wstring());
    ASSERT_TRUE(setup);
    if (run.dialog != nullptr) {
        HWND dialog = await_window(*setup, run.dialog->title);
        ASSERT_NE(dialog, nullptr);
        expect_mode_dialog(dialog, *run.dialog);
        if (const int* id = std::get_if<int>(&run.answer)) {
            click_and_wait(dialog, *id);
        } else {
            press_and_wait(dialog, std::get<td::Key>(run.answer));
        }
    }
    if (run.failure == nullptr) {
        expect_end_without_window(*setup, 0);
    } else {
        const std::string detail = td::narrow(expect_failure_after_dialog(*setup, *run.failure));
        EXPECT_TRUE(std::regex_match(detail, std::regex(run.detail))) << detail;
    }
    EXPECT_TRUE(temp.entries().empty());
}

}  // namespace mirel::dialog_test
