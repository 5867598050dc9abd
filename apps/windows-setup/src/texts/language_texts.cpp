#include "texts/language_texts.hpp"

#include <cstdio>
#include <cstdlib>

#include "texts/translation_table.hpp"

namespace mirel {

UiLanguage ui_language_from_langid(std::uint16_t langid) {
    constexpr std::uint16_t PRIMARY_LANGUAGE_MASK = 0x3FF;
    constexpr std::uint16_t LANG_TURKISH_ID = 0x1F;
    return (langid & PRIMARY_LANGUAGE_MASK) == LANG_TURKISH_ID ? UiLanguage::Turkish : UiLanguage::English;
}

std::optional<LanguageTexts> parse_language_texts(std::string_view table, UiLanguage language) {
    // The parser takes a NUL byte for the end of its input; no JSON text may hold one anyway.
    if (table.find('\0') != std::string_view::npos) return std::nullopt;
    // No exceptions: a malformed table yields a "discarded" value. Strict parsing rejects
    // anything but white space after the value.
    nlohmann::json parsed = nlohmann::json::parse(table.begin(), table.end(), nullptr, false);
    if (parsed.is_discarded()) return std::nullopt;
    const std::string code(language_code(language));
    if (parsed.is_object()) {
        if (const auto member = parsed.find(code); member != parsed.end()) {
            return LanguageTexts(std::move(*member));
        }
    }
    return LanguageTexts(nullptr);
}

LanguageTexts load_language_texts(UiLanguage language) {
    std::optional<LanguageTexts> texts = parse_language_texts(TRANSLATION_TABLE, language);
    if (!texts) {
        std::fputs("internal fault: the embedded translation table does not parse\n", stderr);
        std::_Exit(3);
    }
    return std::move(*texts);
}

std::string_view localized_text(const LanguageTexts& texts, std::string_view key) {
    const nlohmann::json& value = texts.value();
    if (value.is_object()) {
        const auto member = value.find(std::string(key));
        if (member != value.end() && member->is_string()) {
            return member->get_ref<const std::string&>();
        }
    }
    return key;
}

}  // namespace mirel
