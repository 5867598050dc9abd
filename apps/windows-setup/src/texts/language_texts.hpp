#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/ui_language.hpp"
#include "texts/text_keys.hpp"

namespace mirel {

// The texts of one language: for each key, the string that the table gives it, if any.
class LanguageTexts {
public:
    using Entries = std::array<std::optional<std::string>, TEXT_KEY_COUNT>;

    LanguageTexts() = default;  // no texts at all: every lookup gives its key
    explicit LanguageTexts(Entries entries) : entries_(std::move(entries)) {}
    LanguageTexts(std::initializer_list<std::pair<TextKey, std::string>> texts) {
        for (const auto& [key, text] : texts) entries_[static_cast<std::size_t>(key)] = text;
    }

    [[nodiscard]] const std::optional<std::string>& entry(TextKey key) const noexcept {
        return entries_[static_cast<std::size_t>(key)];
    }

private:
    Entries entries_;
};

// Turkish when the primary language (low 10 bits) is LANG_TURKISH, English otherwise.
[[nodiscard]] UiLanguage ui_language_from_langid(std::uint16_t langid);

// Parses `table` and copies out the string of every key from the member of `language` (a missing
// or non-object member gives no strings); nullopt when the table does not parse.
[[nodiscard]] std::optional<LanguageTexts> parse_language_texts(std::string_view table, UiLanguage language);

// The texts of `language` from the embedded table. The table is a constant of the build, so a
// table that does not parse stops the process with a report on standard error.
[[nodiscard]] LanguageTexts load_language_texts(UiLanguage language);

// The text of `key`, or the key's own name where the table has no string for it.
[[nodiscard]] std::string_view localized_text(const LanguageTexts& texts, TextKey key);

}  // namespace mirel
