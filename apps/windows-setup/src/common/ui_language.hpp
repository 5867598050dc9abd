#pragma once

#include <optional>
#include <string_view>

namespace mirel {

enum class UiLanguage { English, Turkish };

// The two-letter code, which is also the language's member name in the translation table.
constexpr std::string_view language_code(UiLanguage language) {
    return language == UiLanguage::Turkish ? "tr" : "en";
}

// The language of a two-letter code, exactly "en" or "tr"; nothing for any other text.
constexpr std::optional<UiLanguage> language_from_code(std::string_view code) {
    if (code == "en") return UiLanguage::English;
    if (code == "tr") return UiLanguage::Turkish;
    return std::nullopt;
}

// The language's English name, for the run's log.
constexpr std::string_view language_name(UiLanguage language) {
    return language == UiLanguage::Turkish ? "Turkish" : "English";
}

// What the installer engine shows: Basic its progress only (passive), Advanced its full interface,
// Quiet nothing at all.
enum class InstallMode { Basic, Advanced, Quiet };

}  // namespace mirel
