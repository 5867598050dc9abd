#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mirel::fuzzing {

// Cuts the fuzzer's bytes into arguments at each separator.
inline std::vector<std::string> split_input(const std::uint8_t* data, std::size_t size, char separator) {
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (static_cast<char>(data[i]) == separator) {
            parts.emplace_back();
        } else {
            parts.back().push_back(static_cast<char>(data[i]));
        }
    }
    return parts;
}

}  // namespace mirel::fuzzing
