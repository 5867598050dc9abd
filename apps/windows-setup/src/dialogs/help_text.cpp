#include "dialogs/help_text.hpp"

#include <array>
#include <string_view>

namespace mirel {
namespace {

struct HelpLine {
    std::string_view typed;
    TextKey text;
};

// What an administrator deploying the program looks for first comes first.
constexpr std::array<HelpLine, 7> HELP_LINES = {{
    {"--quiet", TextKey::helpQuiet},
    {"--language=en|tr", TextKey::helpLanguage},
    {"--log=PATH", TextKey::helpLog},
    {"--update --wait-pid=PID", TextKey::helpUpdate},
    {"--validate", TextKey::helpValidate},
    {"--preview-language=en|tr", TextKey::helpPreview},
    {"--help, /?", TextKey::helpHelp},
}};

constexpr std::string_view EM_DASH = "\xE2\x80\x94";

}  // namespace

std::string help_text(const LanguageTexts& texts) {
    std::string text(localized_text(texts, TextKey::helpHeading));
    for (const HelpLine& line : HELP_LINES) {
        text.append("\n").append(line.typed).append(" ").append(EM_DASH).append(" ");
        text.append(localized_text(texts, line.text));
    }
    return text;
}

}  // namespace mirel
