#include "common/held_path.hpp"

#include <optional>
#include <string>

#include "common/held_files.hpp"
#include "common/path_ancestors.hpp"
#include "common/run_log.hpp"

namespace mirel {
namespace {

// A directory above what is written, opened to be held: as itself when it is a reparse point, or
// followed through it.
UniqueHandle open_held(const std::string& directory, DWORD reparse_flag) {
    return UniqueHandle(os::CreateFileW(file_system_path(directory).c_str(), HOLD_ACCESS, HOLD_SHARING, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | reparse_flag, nullptr));
}

}  // namespace

SetupError missing_as_path_not_found(DWORD error) {
    return os_error(error == ERROR_FILE_NOT_FOUND ? DWORD{ERROR_PATH_NOT_FOUND} : error);
}

bool redirects(HANDLE reparse_point) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    return !os::GetFileInformationByHandleEx(reparse_point, FileAttributeTagInfo, &tag, sizeof tag) ||
           IsReparseTagNameSurrogate(tag.ReparseTag);
}

Result<std::vector<UniqueHandle>> hold_ancestors(std::string_view path, std::string_view topic, ErrorCode refused) {
    const std::optional<std::vector<std::string>> ancestors = path_ancestors(path);
    if (!ancestors) {
        log_event(topic, {path, " names no file below a root"});
        return fail(refused);
    }
    std::vector<UniqueHandle> held;
    held.reserve(ancestors->size() + 1);
    for (const std::string& directory : *ancestors) {
        // FILE_FLAG_OPEN_REPARSE_POINT opens a mount point or link itself, never its target.
        UniqueHandle handle = open_held(directory, FILE_FLAG_OPEN_REPARSE_POINT);
        if (!handle) return fail(missing_as_path_not_found(os::GetLastError()));
        const std::optional<FileFacts> facts = file_facts(handle.get());
        if (!facts) return fail(refused, os::GetLastError());
        const bool reparse_point = (facts->attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if ((facts->attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            log_event(topic, {directory, " is no directory"});
            return fail(refused);
        }
        if (reparse_point && is_elevated() && redirects(handle.get())) {
            log_event(topic, {directory, " is a link or mount point, which an elevated run does not write below"});
            return fail(refused);
        }
        held.push_back(std::move(handle));
        if (reparse_point && &directory == &ancestors->back()) {
            UniqueHandle followed = open_held(directory, 0);
            if (!followed) return fail(missing_as_path_not_found(os::GetLastError()));
            if (!has_attributes(followed.get(), FILE_ATTRIBUTE_DIRECTORY, 0)) return fail(refused, os::GetLastError());
            held.push_back(std::move(followed));
        }
    }
    return held;
}

}  // namespace mirel
