#include "dialogs/failure_texts.hpp"

#include <array>
#include <cstdio>

#include "common/os_error_text.hpp"

namespace mirel {

std::string installer_failure_text(const LanguageTexts& texts, std::int32_t exit_code) {
    // ERROR_INSTALL_ALREADY_RUNNING says what to do about it: try again later.
    const TextKey key = exit_code == 1618 ? TextKey::installationInProgress : TextKey::failed;
    return std::string(localized_text(texts, key)) + " (" + std::to_string(exit_code) + ")";
}

std::string hresult_code_text(std::int32_t hresult) {
    std::array<char, 11> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "0x%08X", static_cast<std::uint32_t>(hresult));
    return buffer.data();
}

std::string compose_hresult_text(std::string_view description, std::int32_t hresult) {
    const std::string_view trimmed = trim_trailing_space(description);
    if (trimmed.empty()) return hresult_code_text(hresult);
    return std::string(trimmed) + " (" + hresult_code_text(hresult) + ")";
}

std::string unknown_language_text(const LanguageTexts& texts, std::string_view value) {
    constexpr std::string_view PLACE = "{language}";
    std::string text(localized_text(texts, TextKey::languageUnknown));
    if (const std::size_t at = text.find(PLACE); at != std::string::npos) text.replace(at, PLACE.size(), value);
    return text;
}

std::string failure_box_text(const LanguageTexts& texts, std::string_view detail) {
    return std::string(localized_text(texts, TextKey::failed)) + "\n\n" + std::string(detail);
}

}  // namespace mirel
