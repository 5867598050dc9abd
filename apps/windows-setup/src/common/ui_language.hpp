#pragma once

#include <string_view>

namespace mirel {

enum class UiLanguage { English, Turkish };

// The two-letter code, which is also the language's member name in the translation table.
constexpr std::string_view language_code(UiLanguage language) {
    return language == UiLanguage::Turkish ? "tr" : "en";
}

enum class InstallMode { Basic, Advanced };

}  // namespace mirel
