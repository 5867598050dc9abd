#include "staging/staging_name.hpp"

#include <algorithm>

namespace mirel {

std::optional<Nanoseconds> unix_nanoseconds(std::uint64_t filetime) {
    if (filetime < UNIX_EPOCH_AS_FILETIME) return std::nullopt;
    return static_cast<Nanoseconds>(filetime - UNIX_EPOCH_AS_FILETIME) * 100;
}

std::string decimal_text(Nanoseconds value) {
    std::string digits;
    do {
        digits.push_back(static_cast<char>('0' + static_cast<int>(value % 10)));
        value /= 10;
    } while (value != 0);
    std::reverse(digits.begin(), digits.end());
    return digits;
}

std::string staging_directory_name(std::uint32_t process_id, Nanoseconds time, std::uint32_t attempt) {
    return "MirelSetup-" + decimal_text(process_id) + "-" + decimal_text(time) + "-" + decimal_text(attempt);
}

}  // namespace mirel
