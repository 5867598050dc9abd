#include "inspection/web_runtime_core.hpp"

#include <algorithm>

#include "common/path.hpp"

namespace mirel {
namespace {

// Environment names are compared the way the system compares them, by upper-casing each unit.
// Besides ASCII, two letters upper-case into ASCII and so can spell the same name.
char16_t upcase(char16_t unit) {
    if (unit >= u'a' && unit <= u'z') return static_cast<char16_t>(unit - u'a' + u'A');
    if (unit == u'\u0131') return u'I';  // dotless i
    if (unit == u'\u017F') return u'S';  // long s
    return unit;
}

// Negative, zero or positive as `a` sorts before, with or after `b`, letter case ignored.
int compare_names(std::u16string_view a, std::u16string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const char16_t x = upcase(a[i]);
        const char16_t y = upcase(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

// The name of an entry. Entries such as "=C:=C:\dir" (a drive's current directory) start with
// the equals sign, which is then part of the name.
std::u16string_view entry_name(std::u16string_view entry) {
    const std::size_t equals = entry.find(u'=', 1);
    return equals == std::u16string_view::npos ? entry : entry.substr(0, equals);
}

}  // namespace

Result<std::vector<std::byte>> copy_runtime_stream(const ChunkReader& read, const ChunkWriter& write,
                                                   const std::function<bool()>& flush) {
    std::vector<std::byte> copy;
    std::vector<std::byte> buffer(RUNTIME_CHUNK_SIZE);
    for (;;) {
        std::ranges::fill(buffer, std::byte{0});
        const std::optional<std::size_t> count = read(buffer);
        if (!count || *count > buffer.size()) return fail(ErrorCode::InstallerRuntimePayload);
        if (*count == 0) break;
        // Checked before anything is written, so an oversized stream is never read to its end.
        if (copy.size() + *count > RUNTIME_MAXIMUM_SIZE) return fail(ErrorCode::InstallerRuntimePayload);
        const std::span<const std::byte> chunk(buffer.data(), *count);
        if (!write(chunk)) return fail(ErrorCode::InstallerRuntimePayload);
        copy.insert(copy.end(), chunk.begin(), chunk.end());
    }
    if (!flush()) return fail(ErrorCode::InstallerRuntimePayload);
    if (copy.size() < RUNTIME_MINIMUM_SIZE) return fail(ErrorCode::InstallerRuntimePayload);
    return copy;
}

Result<VerifierLocations> verifier_locations(std::string_view system_directory) {
    VerifierLocations locations;
    locations.program = join_path(system_directory, VERIFIER_RELATIVE_PATH);
    const std::size_t separator = locations.program.find_last_of("\\/");
    if (separator == std::string::npos || separator == 0) return fail(ErrorCode::InstallerRuntimeSignature);
    locations.module_directory = join_path(std::string_view(locations.program).substr(0, separator), "Modules");
    return locations;
}

std::string powershell_literal(std::string_view path) {
    // U+2018 to U+2019 and U+201A to U+201B are E2 80 98 to E2 80 9B in UTF-8.
    const auto quote_length = [&](std::size_t i) -> std::size_t {
        if (path[i] == '\'') return 1;
        if (path.substr(i, 2) == "\xE2\x80" && i + 2 < path.size()) {
            const auto third = static_cast<unsigned char>(path[i + 2]);
            if (third >= 0x98 && third <= 0x9B) return 3;
        }
        return 0;
    };
    std::string literal = "'";
    for (std::size_t i = 0; i < path.size();) {
        const std::size_t quote = quote_length(i);
        if (quote == 0) {
            literal.push_back(path[i++]);
            continue;
        }
        literal.append(path.substr(i, quote));
        literal.append(path.substr(i, quote));
        i += quote;
    }
    literal.push_back('\'');
    return literal;
}

std::vector<std::string> verifier_arguments(std::string_view file_path) {
    return {"-NoProfile", "-NonInteractive", "-Command", std::string(SIGNATURE_SCRIPT), powershell_literal(file_path)};
}

std::vector<std::u16string> environment_entries(std::u16string_view block) {
    std::vector<std::u16string> entries;
    while (!block.empty() && block.front() != u'\0') {
        const std::size_t end = block.find(u'\0');
        entries.emplace_back(block.substr(0, end));
        if (end == std::u16string_view::npos) break;
        block.remove_prefix(end + 1);
    }
    return entries;
}

std::u16string environment_block_with(const std::vector<std::u16string>& entries, std::u16string_view name,
                                      std::u16string_view value) {
    std::u16string setting(name);
    setting.push_back(u'=');
    setting.append(value);

    std::vector<std::u16string_view> result;
    bool placed = false;
    for (const std::u16string& entry : entries) {
        const int order = compare_names(entry_name(entry), name);
        if (order == 0) {
            if (!placed) result.emplace_back(setting);
            placed = true;
            continue;
        }
        // Drive entries ("=C:=...") lead a sorted block; they are never passed by.
        if (!placed && order > 0 && !entry.starts_with(u'=')) {
            result.emplace_back(setting);
            placed = true;
        }
        result.emplace_back(entry);
    }
    if (!placed) result.emplace_back(setting);

    std::u16string block;
    for (const std::u16string_view entry : result) {
        block.append(entry);
        block.push_back(u'\0');
    }
    block.push_back(u'\0');
    return block;
}

}  // namespace mirel
