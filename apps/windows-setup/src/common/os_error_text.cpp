#include "common/os_error_text.hpp"

namespace mirel {

std::string_view trim_trailing_space(std::string_view text) {
    const auto end = text.find_last_not_of(" \t\n\v\f\r");
    return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

std::string format_os_error(std::string_view message, std::uint32_t code) {
    std::string text(trim_trailing_space(message));
    text += " (os error " + std::to_string(code) + ")";
    return text;
}

std::string format_os_error_fallback(std::uint32_t code, std::uint32_t format_error) {
    return "OS Error " + std::to_string(code) + " (FormatMessageW() returned error " +
           std::to_string(format_error) + ")";
}

}  // namespace mirel
