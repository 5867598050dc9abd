#pragma once

#include <string>

#include "texts/language_texts.hpp"

namespace mirel {

// The options, one line each after a heading: the option as it is typed, a dash, what it does.
[[nodiscard]] std::string help_text(const LanguageTexts& texts);

}  // namespace mirel
