#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "texts/language_texts.hpp"

namespace mirel {

// The run's "failed" text (for 1618, its "installationInProgress" text), then " (", the exit code in
// signed decimal, and ")".
[[nodiscard]] std::string installer_failure_text(const LanguageTexts& texts, std::int32_t exit_code);

// "0x" and the HRESULT in eight upper-case hexadecimal digits.
[[nodiscard]] std::string hresult_code_text(std::int32_t hresult);

// "description (0x8XXXXXXX)", or the code text alone for an empty description.
[[nodiscard]] std::string compose_hresult_text(std::string_view description, std::int32_t hresult);

// The "languageUnknown" sentence with the value given in place of "{language}".
[[nodiscard]] std::string unknown_language_text(const LanguageTexts& texts, std::string_view value);

// The failure box's body: the "failed" heading, two line feeds, the detail.
[[nodiscard]] std::string failure_box_text(const LanguageTexts& texts, std::string_view detail);

}  // namespace mirel
