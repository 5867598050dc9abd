#pragma once

// The directories above something the program writes (a staging directory, a log), held open so
// that none of them can be renamed, removed or replaced while it is written: what is then created
// or opened relative to the last of them is in the place its path named when the run began.

#include <string_view>
#include <vector>

#include "common/setup_error.hpp"
#include "common/win32.hpp"

namespace mirel {

// How a directory is held: traverse counts as reading in the system's sharing checks, so without
// FILE_SHARE_DELETE nobody else can rename or remove it; and holding no more than that, the
// handle refuses nobody's ordinary open (for reading, listing, or as a current directory). Traverse
// is also all that an ancestor has to grant: a folder that lets its users pass but not list
// (C:\Windows\Temp for a standard user) can still be held.
inline constexpr ACCESS_MASK HOLD_ACCESS = FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
inline constexpr DWORD HOLD_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE;

// A path that is missing, whichever of its parts it is: the system's text for "path not found".
[[nodiscard]] SetupError missing_as_path_not_found(DWORD error);

// True when the reparse point that `handle` is open on redirects a path to another place (a
// junction, a mount point, a symbolic link), or when its tag cannot be read.
[[nodiscard]] bool redirects(HANDLE reparse_point);

// Every directory above `path` (an absolute path), root first, held so that none can be renamed,
// removed or replaced while the handles are open; the last is the parent to create or open in.
// One that is no directory is refused. A reparse point on the path is a volume mounted in a folder,
// a link, or a cloud folder: the owner of a link can point it elsewhere whatever is held, which
// gives an unelevated process power over an elevated run that it does not otherwise have. An
// elevated run refuses one that redirects a path; tags that redirect nothing (cloud-file
// placeholders, container layers) pass, and any other run goes on. When the parent itself is a
// reparse point, the place it leads to is held as well and is the parent: the point itself is
// nothing to create in. A refusal, and a path that names nothing below a root, is logged under
// `topic` and fails with `refused`; a directory that cannot be opened fails with the system's error.
[[nodiscard]] Result<std::vector<UniqueHandle>> hold_ancestors(std::string_view path, std::string_view topic,
                                                               ErrorCode refused);

}  // namespace mirel
