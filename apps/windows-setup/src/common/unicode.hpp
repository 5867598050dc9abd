#pragma once

#include <string>
#include <string_view>

namespace mirel {

constexpr char32_t REPLACEMENT_CHARACTER = U'\uFFFD';

// UTF-8 to UTF-16. Ill-formed UTF-8 (which the program never produces itself) becomes U+FFFD.
[[nodiscard]] std::u16string utf8_to_utf16(std::string_view text);

// UTF-16 to UTF-8; every unpaired surrogate becomes U+FFFD.
[[nodiscard]] std::string utf16_to_utf8(std::u16string_view text);

// True when the UTF-8 text is well-formed.
[[nodiscard]] bool is_valid_utf8(std::string_view text);

// True when the UTF-16 text holds no unpaired surrogate.
[[nodiscard]] bool is_valid_utf16(std::u16string_view text);

}  // namespace mirel
