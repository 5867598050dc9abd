#pragma once

// Files and directories reached through a directory handle that the program holds, never through
// a path looked up again: once a directory is held, no other process can rename it or put
// something else in its place, so a name opened relative to it is always the one meant.

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/os.hpp"
#include "common/unique_any.hpp"
#include "common/win32.hpp"

namespace mirel {

// How to open a name inside a held directory.
struct RelativeOpen {
    ACCESS_MASK access = 0;
    ULONG share = 0;
    ULONG disposition = 0;  // FILE_CREATE (a new name only) or FILE_OPEN
    ULONG options = 0;      // FILE_DIRECTORY_FILE or FILE_NON_DIRECTORY_FILE
    // Applied to a created file or directory; null: inherited from `directory`.
    PSECURITY_DESCRIPTOR security = nullptr;
    // Through a reparse point at the name rather than to the point itself: only for one known to
    // redirect nothing (a cloud file's placeholder), which its file system must see opened as usual.
    bool follow_reparse_point = false;
};

// Opens or creates `name`, a single path component, inside `directory`: synchronously, and never
// through a reparse point at `name` (a link is opened as itself) unless `how` follows one. The
// Windows error on failure; a name whose deletion waits for another process to close it gives
// ERROR_DELETE_PENDING.
[[nodiscard]] std::expected<UniqueHandle, DWORD> open_in_directory(HANDLE directory, std::wstring_view name,
                                                                   const RelativeOpen& how);

// Opens what `handle` is open on once more, with the access and sharing of `how` (its
// disposition is always FILE_OPEN). No path is looked up.
[[nodiscard]] std::expected<UniqueHandle, DWORD> reopen(HANDLE handle, const RelativeOpen& how);

// Deletes what the handle is open on (it must carry DELETE, and FILE_WRITE_ATTRIBUTES for a
// read-only file): at once where the system knows POSIX deletion, else when its last handle
// closes. ERROR_SUCCESS, or why it cannot be deleted (ERROR_DIR_NOT_EMPTY, for one).
[[nodiscard]] DWORD delete_through_handle(HANDLE handle) noexcept;

// Calls `visit` with the name and attributes of each entry of the directory that `listing` is open
// on (with FILE_LIST_DIRECTORY, on a fresh handle) whose name matches `mask` (the system's wildcards,
// "*" and "?"). The system does the matching and hands the entries over a buffer at a time: however
// many a folder holds, no more than one buffer of them is in memory. ERROR_SUCCESS once all have
// been visited, else the system's error.
[[nodiscard]] DWORD visit_entries(HANDLE listing, std::wstring_view mask,
                                  const std::function<void(std::wstring_view name, DWORD attributes)>& visit);

// True when what `handle` is open on lies on a volume reached through the network.
[[nodiscard]] bool is_remote_volume(HANDLE handle);

// True when this process runs with an elevated token.
[[nodiscard]] bool is_elevated();

struct SecurityDescriptorTraits {
    using pointer = PSECURITY_DESCRIPTOR;
    static pointer empty() noexcept { return nullptr; }
    static bool is_empty(pointer value) noexcept { return value == nullptr; }
    static void close(pointer value) noexcept {
        const LastErrorKeeper keep;
        os::LocalFree(value);
    }
};
using UniqueSecurityDescriptor = UniqueAny<SecurityDescriptorTraits>;

// Full control for SYSTEM, the Administrators and the process's own user; nothing inherited from
// the parent, everything inherited by what is created inside. The user is left out when the token
// holds the Administrators group (it runs elevated), so that the user's other, unelevated processes
// stay out, but never on a network volume (`remote`), where the groups named are the server's.
// The system's error when the token or the list cannot be read or made.
[[nodiscard]] std::expected<UniqueSecurityDescriptor, DWORD> private_directory_security(bool remote);

}  // namespace mirel
