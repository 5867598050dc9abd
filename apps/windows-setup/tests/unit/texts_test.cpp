#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "texts/language_texts.hpp"
#include "texts/translation_table.hpp"

namespace mirel {
namespace {

TEST(LanguageChoice, TurkishOnlyForThePrimaryLanguageTurkish) {
    EXPECT_EQ(ui_language_from_langid(0x041F), UiLanguage::Turkish);
    EXPECT_EQ(ui_language_from_langid(0x001F), UiLanguage::Turkish);
    EXPECT_EQ(ui_language_from_langid(0xFC1F), UiLanguage::Turkish);  // any sublanguage
    EXPECT_EQ(ui_language_from_langid(0x0409), UiLanguage::English);
    EXPECT_EQ(ui_language_from_langid(0x0000), UiLanguage::English);
    EXPECT_EQ(ui_language_from_langid(0x0400), UiLanguage::English);
    EXPECT_EQ(ui_language_from_langid(0x041E), UiLanguage::English);  // Thai, one below Turkish
}

TEST(EmbeddedTable, IsCompactSortedUtf8WithThirtySevenKeysPerLanguage) {
    const std::string_view table = TRANSLATION_TABLE;
    EXPECT_TRUE(table.starts_with("{\"en\":{\"advanced\":\"Advanced installation\","));
    EXPECT_TRUE(table.ends_with("\"title\":\"Mirel - Oruvan Kurulumu\"}}"));
    // Compact, keys in byte order and non-ASCII as plain UTF-8: exactly what a compact
    // serialisation of its own parse gives.
    const auto parsed = nlohmann::json::parse(table.begin(), table.end(), nullptr, false);
    ASSERT_FALSE(parsed.is_discarded());
    EXPECT_EQ(parsed.dump(), table);
    ASSERT_EQ(parsed.size(), 2u);
    for (const char* language : {"en", "tr"}) {
        ASSERT_TRUE(parsed[language].is_object());
        EXPECT_EQ(parsed[language].size(), 37u);
        for (const auto& [key, value] : parsed[language].items()) EXPECT_TRUE(value.is_string()) << key;
    }
    // Every key the program reads comes from the table, in both languages.
    for (const UiLanguage language : {UiLanguage::English, UiLanguage::Turkish}) {
        const LanguageTexts texts = load_language_texts(language);
        for (std::size_t i = 0; i < TEXT_KEY_COUNT; ++i) {
            const auto key = static_cast<TextKey>(i);
            EXPECT_EQ(localized_text(texts, key), parsed[std::string(language_code(language))][TEXT_KEY_NAMES[i]])
                << TEXT_KEY_NAMES[i];
        }
    }
}

TEST(EmbeddedTable, GivesTheShippedSentences) {
    const LanguageTexts english = load_language_texts(UiLanguage::English);
    const LanguageTexts turkish = load_language_texts(UiLanguage::Turkish);
    EXPECT_EQ(localized_text(english, TextKey::failed), "Mirel installation could not be completed.");
    EXPECT_EQ(localized_text(turkish, TextKey::failed), "Mirel kurulumu tamamlanamad\xC4\xB1.");
    EXPECT_EQ(localized_text(english, TextKey::title), "Mirel - Oruvan Setup");
    EXPECT_EQ(localized_text(turkish, TextKey::title), "Mirel - Oruvan Kurulumu");
    EXPECT_EQ(localized_text(turkish, TextKey::cancel), "\xC4\xB0ptal");
    EXPECT_EQ(localized_text(turkish, TextKey::msiLaunchApp), "Mirel'\xC4\xB1 ba\xC5\x9Flat");
    EXPECT_EQ(localized_text(english, TextKey::rebootQuestion),
              "Mirel is installed. Windows requires a restart. Would you like to launch it now?");
}

TEST(Lookup, FallsBackToTheKeyForMissingOrNonStringEntries) {
    const auto texts = parse_language_texts(
        R"({"en":{"title":1,"failed":true,"cancel":[],"basic":{},"advanced":null,"msiLaunchApp":"text","Title":"x"}})",
        UiLanguage::English);
    ASSERT_TRUE(texts);
    EXPECT_EQ(localized_text(*texts, TextKey::msiLaunchApp), "text");
    for (const TextKey key : {TextKey::title, TextKey::failed, TextKey::cancel, TextKey::basic, TextKey::advanced,
                              TextKey::launchQuestion}) {
        EXPECT_EQ(localized_text(*texts, key), text_key_name(key));
    }
    EXPECT_EQ(localized_text(LanguageTexts(), TextKey::launchFailed), "launchFailed");
}

TEST(Lookup, AMissingOrNonObjectLanguageGivesEveryKeyAsItself) {
    for (const char* table : {R"({"en":{"title":"x"}})", R"({"tr":"flat"})", R"({"tr":[1,2]})", R"([{"tr":{}}])",
                              R"("tr")", "7", R"({"tr":42})"}) {
        const auto texts = parse_language_texts(table, UiLanguage::Turkish);
        ASSERT_TRUE(texts) << table;
        EXPECT_EQ(localized_text(*texts, TextKey::title), "title") << table;
    }
}

TEST(Parsing, AcceptsOnlyWhiteSpaceAfterTheValue) {
    const std::string table(TRANSLATION_TABLE);
    EXPECT_TRUE(parse_language_texts(table + " \t\r\n", UiLanguage::English));
    for (const char* tail : {"x", "{}", ",", "\v", "\f"}) {
        EXPECT_FALSE(parse_language_texts(table + tail, UiLanguage::English)) << tail;
    }
    EXPECT_FALSE(parse_language_texts(table + std::string(1, '\0'), UiLanguage::English));
    EXPECT_FALSE(parse_language_texts("", UiLanguage::English));
    EXPECT_FALSE(parse_language_texts(R"({"en":{"title":"x"})", UiLanguage::English));
}

}  // namespace
}  // namespace mirel
