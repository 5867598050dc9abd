#pragma once

#include <string_view>

#include "common/os.hpp"
#include "common/setup_error.hpp"
#include "common/ui_language.hpp"
#include "texts/language_texts.hpp"

namespace mirel {

inline constexpr int BASIC_BUTTON_ID = 100;
inline constexpr int ADVANCED_BUTTON_ID = 101;

enum class ModeChoice { Basic, Advanced, Cancelled };

// The task dialog that asks for Basic or Advanced installation.
[[nodiscard]] Result<ModeChoice> choose_install_mode(const LanguageTexts& texts);

// Yes/No box with the text of `question_key`; true only for Yes.
[[nodiscard]] bool ask_launch_question(const LanguageTexts& texts, TextKey question_key);

// The error box in the display language: "failed", two line feeds, the detail.
void show_failure_box(std::string_view detail);

// Where a run's failure (or its list of options) is told: a validation run and a quiet run write
// it to standard error, every other run shows it in a box.
enum class FailureReport { StandardError, Box };

// Reports the failure and ends the process with the error's exit code (1 unless it says otherwise).
[[noreturn]] void report_failure(const SetupError& error, FailureReport where);

// The list of options in the display language: in an information box, or to standard error.
void show_help(FailureReport where);

// The detail text of a failed HRESULT, from the thread's error object or the system.
[[nodiscard]] std::string hresult_text(HRESULT hresult);

}  // namespace mirel
