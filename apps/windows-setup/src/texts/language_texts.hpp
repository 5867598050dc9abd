#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

#include "common/ui_language.hpp"

namespace mirel {

// The texts of one language: the "en" or "tr" member of the table, or null when it is missing.
class LanguageTexts {
public:
    explicit LanguageTexts(nlohmann::json value) : value_(std::move(value)) {}
    const nlohmann::json& value() const noexcept { return value_; }

private:
    nlohmann::json value_;
};

// Turkish when the primary language (low 10 bits) is LANG_TURKISH, English otherwise.
UiLanguage ui_language_from_langid(std::uint16_t langid);

// Parses `table` and copies out the member of `language`; nullopt when the table does not parse.
std::optional<LanguageTexts> parse_language_texts(std::string_view table, UiLanguage language);

// The texts of `language` from the embedded table. The table is a constant of the build, so a
// table that does not parse stops the process with a report on standard error.
LanguageTexts load_language_texts(UiLanguage language);

// The text of `key`, or the key itself where there is no such string.
std::string_view localized_text(const LanguageTexts& texts, std::string_view key);

}  // namespace mirel
