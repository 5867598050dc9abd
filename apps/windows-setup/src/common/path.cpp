#include "common/path.hpp"

namespace mirel {
namespace {

constexpr bool is_separator16(char16_t c) { return c == u'\\' || c == u'/'; }

bool is_drive_absolute(std::u16string_view path) {
    const auto letter = [](char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); };
    return path.size() >= 3 && letter(path[0]) && path[1] == u':' && is_separator16(path[2]);
}

bool is_unc(std::u16string_view path) {
    return path.size() >= 3 && is_separator16(path[0]) && is_separator16(path[1]) &&
           !is_separator16(path[2]) && path[2] != u'?' && path[2] != u'.';
}

}  // namespace

std::string join_path(std::string_view left, std::string_view right) {
    std::string joined(left);
    if (joined.empty() || !is_path_separator(joined.back())) joined.push_back('\\');
    joined.append(right);
    return joined;
}

bool is_device_path(std::u16string_view path) {
    return path.size() >= 4 && is_separator16(path[0]) && is_separator16(path[1]) &&
           (path[2] == u'?' || path[2] == u'.') && is_separator16(path[3]);
}

bool passes_unprefixed(std::u16string_view path) {
    return (is_drive_absolute(path) || is_unc(path)) && path.size() + 1 < SHORT_PATH_LIMIT;
}

std::u16string long_path_form(std::u16string_view absolute_path) {
    if (is_device_path(absolute_path)) return std::u16string(absolute_path);
    if (is_unc(absolute_path)) return u"\\\\?\\UNC\\" + std::u16string(absolute_path.substr(2));
    return u"\\\\?\\" + std::u16string(absolute_path);
}

std::optional<std::u16string> drive_or_unc_form(std::u16string_view path) {
    if (!is_device_path(path)) return std::u16string(path);
    const std::u16string_view rest = path.substr(4);
    if (is_drive_absolute(rest)) return std::u16string(rest);
    if (rest.size() > 4 && (rest.substr(0, 3) == u"UNC" || rest.substr(0, 3) == u"unc") && is_separator16(rest[3]) &&
        !is_separator16(rest[4]))
        return u"\\\\" + std::u16string(rest.substr(4));
    return std::nullopt;
}

}  // namespace mirel
