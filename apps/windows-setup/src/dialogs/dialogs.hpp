#pragma once

#include <windows.h>

#include <string_view>

#include "common/setup_error.hpp"
#include "common/ui_language.hpp"
#include "texts/language_texts.hpp"

namespace mirel {

inline constexpr WORD SETUP_ICON_ID = 32512;
inline constexpr const char* SETUP_ICON_ERROR = "setup_icon";
inline constexpr int BASIC_BUTTON_ID = 100;
inline constexpr int ADVANCED_BUTTON_ID = 101;

enum class ModeChoice { Basic, Advanced, Cancelled };

// The program's own icon group 32512; shared by the system and never destroyed.
Result<HICON> load_setup_icon();

// The task dialog that asks for Basic or Advanced installation.
Result<ModeChoice> choose_install_mode(const LanguageTexts& texts);

// Yes/No box with the text of `question_key`; true only for Yes.
bool ask_launch_question(const LanguageTexts& texts, std::string_view question_key);

// The error box in the display language: "failed", two line feeds, the detail.
void show_failure_box(std::string_view detail);

// Reports the failure (standard error in a validation run, else the box) and exits with 1.
[[noreturn]] void report_failure(const SetupError& error);

// The detail text of a failed HRESULT, from the thread's error object or the system.
std::string hresult_text(HRESULT hresult);

}  // namespace mirel
