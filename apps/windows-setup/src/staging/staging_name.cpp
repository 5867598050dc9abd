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

std::optional<StagingNameParts> parse_staging_directory_name(std::string_view name, std::uint32_t attempts) {
    constexpr std::string_view PREFIX = "MirelSetup-";
    if (!name.starts_with(PREFIX)) return std::nullopt;
    // Up to the next hyphen (or the end), refusing anything that is not a digit or would overflow.
    const auto number = [&name](std::size_t& at, Nanoseconds limit) -> std::optional<Nanoseconds> {
        Nanoseconds value = 0;
        const std::size_t start = at;
        for (; at < name.size() && name[at] != '-'; ++at) {
            if (name[at] < '0' || name[at] > '9') return std::nullopt;
            const auto digit = static_cast<unsigned>(name[at] - '0');
            if (value > (limit - digit) / 10) return std::nullopt;
            value = value * 10 + digit;
        }
        if (at == start) return std::nullopt;
        return value;
    };
    std::size_t at = PREFIX.size();
    const std::optional<Nanoseconds> process_id = number(at, UINT32_MAX);
    if (!process_id || at == name.size()) return std::nullopt;
    const std::optional<Nanoseconds> time = number(++at, ~Nanoseconds{0});
    if (!time || at == name.size()) return std::nullopt;
    const std::optional<Nanoseconds> attempt = number(++at, UINT32_MAX);
    if (!attempt || at != name.size() || *attempt >= attempts || *time % 100 != 0) return std::nullopt;

    const StagingNameParts parts{static_cast<std::uint32_t>(*process_id), *time, static_cast<std::uint32_t>(*attempt)};
    // Leading zeros, and nothing else, make the written name differ.
    if (staging_directory_name(parts.process_id, parts.time, parts.attempt) != name) return std::nullopt;
    return parts;
}

std::expected<std::u16string, std::uint32_t> handed_directory_path(
    std::u16string_view full, const std::function<std::expected<std::u16string, std::uint32_t>()>& short_form,
    std::size_t longest_name) {
    // The directory, a separator, the name and the terminator.
    const auto fits = [longest_name](std::u16string_view directory) {
        return directory.size() + 1 + longest_name + 1 <= HANDED_PATH_LIMIT;
    };
    if (fits(full)) return std::u16string(full);
    std::expected<std::u16string, std::uint32_t> shortened = short_form();
    if (!shortened || fits(*shortened)) return shortened;
    return std::unexpected(FILENAME_TOO_LONG);
}

}  // namespace mirel
