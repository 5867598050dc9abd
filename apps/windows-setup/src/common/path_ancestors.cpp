#include "common/path_ancestors.hpp"

#include "common/path.hpp"

namespace mirel {
namespace {

bool is_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Length of the root including its trailing separator ("C:\", "\\server\share\", "\\?\C:\",
// "\\?\UNC\server\share\", "\\?\Volume{...}\"), or none for a path that is not absolute.
std::optional<std::size_t> root_length(std::string_view path) {
    const auto separator_at = [&](std::size_t i) { return i < path.size() && is_path_separator(path[i]); };
    // Ends the root after `count` more components starting at `from`.
    const auto after_components = [&](std::size_t from, int count) -> std::optional<std::size_t> {
        std::size_t i = from;
        for (int n = 0; n < count; ++n) {
            const std::size_t start = i;
            while (i < path.size() && !is_path_separator(path[i])) ++i;
            if (i == start || i == path.size()) return std::nullopt;
            ++i;
        }
        return i;
    };

    if (path.size() >= 3 && is_letter(path[0]) && path[1] == ':' && separator_at(2)) return 3;
    if (separator_at(0) && separator_at(1)) {
        if (path.size() >= 4 && (path[2] == '?' || path[2] == '.') && separator_at(3)) {
            const std::string_view rest = path.substr(4);
            if (rest.size() >= 3 && is_letter(rest[0]) && rest[1] == ':' && is_path_separator(rest[2])) return 7;
            if (rest.size() >= 4 && (rest.substr(0, 3) == "UNC" || rest.substr(0, 3) == "unc") &&
                is_path_separator(rest[3]))
                return after_components(8, 2);
            return after_components(4, 1);  // a volume or other device name
        }
        return after_components(2, 2);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::string>> path_ancestors(std::string_view path) {
    const std::optional<std::size_t> root = root_length(path);
    if (!root) return std::nullopt;

    std::vector<std::string> ancestors{std::string(path.substr(0, *root))};
    std::size_t start = *root;
    for (;;) {
        std::size_t end = start;
        while (end < path.size() && !is_path_separator(path[end])) ++end;
        const std::string_view component = path.substr(start, end - start);
        if (component.empty() || component == "." || component == "..") return std::nullopt;
        if (end == path.size()) break;  // the last component is the file itself
        ancestors.emplace_back(path.substr(0, end));
        start = end + 1;
    }
    return ancestors;
}

}  // namespace mirel
