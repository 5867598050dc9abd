#include "texts/language_texts.hpp"

#include <cstdio>
#include <cstdlib>

#include <nlohmann/json.hpp>

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
    const nlohmann::json parsed = nlohmann::json::parse(table.begin(), table.end(), nullptr, false);
    if (parsed.is_discarded()) return std::nullopt;

    LanguageTexts::Entries entries;
    const auto member = parsed.is_object() ? parsed.find(std::string(language_code(language))) : parsed.end();
    if (member != parsed.end() && member->is_object()) {
        for (std::size_t i = 0; i < TEXT_KEY_COUNT; ++i) {
            const auto value = member->find(std::string(TEXT_KEY_NAMES[i]));
            if (value != member->end() && value->is_string()) entries[i] = value->get<std::string>();
        }
    }
    return LanguageTexts(std::move(entries));
}

LanguageTexts load_language_texts(UiLanguage language) {
    std::optional<LanguageTexts> texts = parse_language_texts(TRANSLATION_TABLE, language);
    if (!texts) {
        std::fputs("internal fault: the embedded translation table does not parse\n", stderr);
        std::_Exit(3);
    }
    return std::move(*texts);
}

std::string_view localized_text(const LanguageTexts& texts, TextKey key) {
    const std::optional<std::string>& text = texts.entry(key);
    return text ? std::string_view(*text) : text_key_name(key);
}

}  // namespace mirel
