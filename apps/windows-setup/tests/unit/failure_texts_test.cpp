#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "dialogs/failure_texts.hpp"
#include "dialogs/help_text.hpp"

namespace mirel {
namespace {

TEST(InstallerFailureText, QuotesTheExitCodeInSignedDecimal) {
    const LanguageTexts english = load_language_texts(UiLanguage::English);
    EXPECT_EQ(installer_failure_text(english, 1603), "Mirel installation could not be completed. (1603)");
    EXPECT_EQ(installer_failure_text(english, static_cast<std::int32_t>(0xC0000005u)),
              "Mirel installation could not be completed. (-1073741819)");
    EXPECT_EQ(installer_failure_text(english, INT32_MIN), "Mirel installation could not be completed. (-2147483648)");
    EXPECT_EQ(installer_failure_text(english, 1000000), "Mirel installation could not be completed. (1000000)");

    const LanguageTexts turkish = load_language_texts(UiLanguage::Turkish);
    EXPECT_EQ(installer_failure_text(turkish, 1), "Mirel kurulumu tamamlanamad\xC4\xB1. (1)");
    // Another installation in progress: what to do about it, in place of the general sentence.
    for (const LanguageTexts* texts : {&english, &turkish})
        EXPECT_EQ(installer_failure_text(*texts, 1618),
                  std::string(localized_text(*texts, TextKey::installationInProgress)) + " (1618)");

    const LanguageTexts none;
    EXPECT_EQ(installer_failure_text(none, 2), "failed (2)");
}

TEST(FailureBox, HeadingTwoLineFeedsThenTheDetailUnchanged) {
    const LanguageTexts english = load_language_texts(UiLanguage::English);
    EXPECT_EQ(failure_box_text(english, "installer_payload_changed"),
              "Mirel installation could not be completed.\n\ninstaller_payload_changed");
    const std::string long_detail(100000, 'd');
    EXPECT_EQ(failure_box_text(english, long_detail).size(),
              std::string("Mirel installation could not be completed.\n\n").size() + long_detail.size());
}

TEST(UnknownLanguageText, PutsTheValueGivenInTheSentenceThatNamesBothAcceptedOnes) {
    for (const UiLanguage language : {UiLanguage::English, UiLanguage::Turkish}) {
        const LanguageTexts texts = load_language_texts(language);
        std::string sentence(localized_text(texts, TextKey::languageUnknown));
        EXPECT_NE(sentence.find("--language=en"), std::string::npos);
        EXPECT_NE(sentence.find("--language=tr"), std::string::npos);
        ASSERT_NE(sentence.find("{language}"), std::string::npos);
        EXPECT_EQ(unknown_language_text(texts, "{language}"), sentence);
        EXPECT_EQ(unknown_language_text(texts, ""), sentence.replace(sentence.find("{language}"), 10, ""));
    }
}

TEST(HelpText, TheHeadingThenOneLinePerOptionWithItsText) {
    const TextKey keys[] = {TextKey::helpHeading, TextKey::helpQuiet,    TextKey::helpLanguage, TextKey::helpLog,
                            TextKey::helpUpdate,  TextKey::helpValidate, TextKey::helpPreview,  TextKey::helpHelp};
    for (const UiLanguage language : {UiLanguage::English, UiLanguage::Turkish}) {
        const LanguageTexts texts = load_language_texts(language);
        std::istringstream lines(help_text(texts));
        for (std::string line; const TextKey key : keys) {
            ASSERT_TRUE(std::getline(lines, line)) << text_key_name(key);
            EXPECT_TRUE(line.ends_with(localized_text(texts, key))) << line;
            EXPECT_EQ(line.starts_with("--") || line.starts_with("/?"), key != TextKey::helpHeading) << line;
        }
        EXPECT_TRUE(lines.eof());
    }
}

TEST(HresultText, CodeInEightUpperCaseHexDigits) {
    EXPECT_EQ(hresult_code_text(static_cast<std::int32_t>(0x80070057u)), "0x80070057");
    EXPECT_EQ(hresult_code_text(static_cast<std::int32_t>(0x8000000Au)), "0x8000000A");
    EXPECT_EQ(hresult_code_text(static_cast<std::int32_t>(0xC0000005u)), "0xC0000005");
    EXPECT_EQ(hresult_code_text(1), "0x00000001");
}

TEST(HresultText, DescriptionTrimmedThenCodeInParentheses) {
    const auto hr = static_cast<std::int32_t>(0x80004005u);
    EXPECT_EQ(compose_hresult_text("Unspecified error\r\n", hr), "Unspecified error (0x80004005)");
    EXPECT_EQ(compose_hresult_text(" lead kept \t\v\f ", hr), " lead kept (0x80004005)");
    EXPECT_EQ(compose_hresult_text("", hr), "0x80004005");
    EXPECT_EQ(compose_hresult_text("\r\n \t", hr), "0x80004005");
}

}  // namespace
}  // namespace mirel
