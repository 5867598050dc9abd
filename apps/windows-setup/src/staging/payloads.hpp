#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "common/ui_language.hpp"

namespace mirel {

inline constexpr std::size_t PAYLOAD_SIZE = 14'065'664;

// One embedded installer package: a read-only view into the program image, never copied.
struct Payload {
    std::string_view file_name;
    std::span<const std::byte, PAYLOAD_SIZE> bytes;
    UiLanguage language;
};

// English first, then Turkish; the index of a language is its place here.
extern const std::array<Payload, 2> PAYLOADS;

[[nodiscard]] const Payload& payload_for(UiLanguage language);

}  // namespace mirel
