#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mirel {

// "message (os error N)", the message's trailing white space removed.
[[nodiscard]] std::string format_os_error(std::string_view message, std::uint32_t code);

// "OS Error N (FormatMessageW() returned error M)", for a code without a system message.
[[nodiscard]] std::string format_os_error_fallback(std::uint32_t code, std::uint32_t format_error);

// Removes trailing tab, line feed, vertical tab, form feed, carriage return and space.
[[nodiscard]] std::string_view trim_trailing_space(std::string_view text);

}  // namespace mirel
