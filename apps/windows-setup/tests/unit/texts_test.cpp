#include <gtest/gtest.h>

#include <string>

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

TEST(EmbeddedTable, IsCompactSortedUtf8WithTwentySixKeysPerLanguage) {
    const std::string_view table = TRANSLATION_TABLE;
    EXPECT_TRUE(table.starts_with("{\"en\":{\"advanced\":\"Advanced installation\","));
    EXPECT_TRUE(table.ends_with("\"title\":\"Mirel - Oruvan Kurulumu\"}}"));
    // Compact, keys in byte order and non-ASCII as plain UTF-8: exactly what a compact
    // serialisation of its own parse gives.
    const auto parsed = nlohmann::json::parse(table.begin(), table.end(), nullptr, false);
    ASSERT_FALSE(parsed.is_discarded());
    EXPECT_EQ(parsed.dump(), table);
    EXPECT_EQ(parsed.size(), 2u);

    for (const UiLanguage language : {UiLanguage::English, UiLanguage::Turkish}) {
        const LanguageTexts texts = load_language_texts(language);
        ASSERT_TRUE(texts.value().is_object());
        EXPECT_EQ(texts.value().size(), 26u);
        std::string previous;
        for (const auto& [key, value] : texts.value().items()) {
            EXPECT_LT(previous, key);
            EXPECT_TRUE(value.is_string()) << key;
            previous = key;
        }
    }
}

TEST(EmbeddedTable, GivesTheShippedSentences) {
    const LanguageTexts english = load_language_texts(UiLanguage::English);
    const LanguageTexts turkish = load_language_texts(UiLanguage::Turkish);
    EXPECT_EQ(localized_text(english, "failed"), "Mirel installation could not be completed.");
    EXPECT_EQ(localized_text(turkish, "failed"), "Mirel kurulumu tamamlanamad\xC4\xB1.");
    EXPECT_EQ(localized_text(english, "title"), "Mirel - Oruvan Setup");
    EXPECT_EQ(localized_text(turkish, "title"), "Mirel - Oruvan Kurulumu");
    EXPECT_EQ(localized_text(turkish, "cancel"), "\xC4\xB0ptal");
    EXPECT_EQ(localized_text(turkish, "msiLaunchApp"), "Mirel'\xC4\xB1 ba\xC5\x9Flat");
    EXPECT_EQ(localized_text(english, "rebootQuestion"),
              "Mirel is installed. Windows requires a restart. Would you like to launch it now?");
}

TEST(Lookup, FallsBackToTheKeyForMissingOrNonStringEntries) {
    const auto texts = parse_language_texts(
        R"({"en":{"n":1,"b":true,"a":[],"o":{},"z":null,"s":"text"}})", UiLanguage::English);
    ASSERT_TRUE(texts);
    EXPECT_EQ(localized_text(*texts, "s"), "text");
    for (const char* key : {"n", "b", "a", "o", "z", "missing", "S", "s "}) {
        EXPECT_EQ(localized_text(*texts, key), key);
    }
    const LanguageTexts english = load_language_texts(UiLanguage::English);
    EXPECT_EQ(localized_text(english, "Title"), "Title");
    EXPECT_EQ(localized_text(english, ""), "");
}

TEST(Lookup, AMissingOrNonObjectLanguageGivesEveryKeyAsItself) {
    const auto missing = parse_language_texts(R"({"en":{"title":"x"}})", UiLanguage::Turkish);
    ASSERT_TRUE(missing);
    EXPECT_TRUE(missing->value().is_null());
    EXPECT_EQ(localized_text(*missing, "title"), "title");

    for (const char* table : {R"({"tr":"flat"})", R"({"tr":[1,2]})", R"([{"tr":{}}])", R"("tr")", "7"}) {
        const auto texts = parse_language_texts(table, UiLanguage::Turkish);
        ASSERT_TRUE(texts) << table;
        EXPECT_EQ(localized_text(*texts, "title"), "title") << table;
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

TEST(Parsing, CopiesTheMemberWhateverItsType) {
    const auto texts = parse_language_texts(R"({"en":42})", UiLanguage::English);
    ASSERT_TRUE(texts);
    EXPECT_EQ(texts->value(), 42);
}

}  // namespace
}  // namespace mirel
