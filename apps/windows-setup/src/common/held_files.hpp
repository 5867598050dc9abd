#pragma once

// Files and directories reached through a directory handle that the program holds, never through
// a path looked up again: once a directory is held, no other process can rename it or put
// something else in its place, so a name opened relative to it is always the one meant.

#include <windows.h>

#include <expected>
#include <optional>
#include <string_view>

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
};

// Opens or creates `name`, a single path component, inside `directory`: synchronously, and never
// through a reparse point at `name` (a link is opened as itself). The Windows error on failure.
[[nodiscard]] std::expected<UniqueHandle, DWORD> open_in_directory(HANDLE directory, std::wstring_view name,
                                                                   const RelativeOpen& how);

// Deletes what the handle is open on (it must carry DELETE, and FILE_WRITE_ATTRIBUTES for a
// read-only file): at once where the system knows POSIX deletion, else when its last handle
// closes. False when it cannot be deleted, for example a directory that is not empty.
bool delete_through_handle(HANDLE handle) noexcept;

struct SecurityDescriptorTraits {
    using pointer = PSECURITY_DESCRIPTOR;
    static pointer empty() noexcept { return nullptr; }
    static bool is_empty(pointer value) noexcept { return value == nullptr; }
    static void close(pointer value) noexcept {
        const LastErrorKeeper keep;
        ::LocalFree(value);
    }
};
using UniqueSecurityDescriptor = UniqueAny<SecurityDescriptorTraits>;

// Full control for SYSTEM, the Administrators and, unless the process runs elevated, its own
// user; nothing inherited from the parent, everything inherited by what is created inside.
// Elevated, the user's other, unelevated processes are left out on purpose.
[[nodiscard]] std::optional<UniqueSecurityDescriptor> private_directory_security();

}  // namespace mirel
