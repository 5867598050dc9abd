#pragma once

// What the parts of staging share (how directories are held and deleted, the clean-up and the
// sweep of earlier runs' directories), and the steps that tests drive on their own: a clock of
// their choosing for the directory names, and the read-back comparison on a file they prepared.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "common/held_files.hpp"
#include "common/held_path.hpp"
#include "staging/staging.hpp"

namespace mirel::staging_internal {

inline constexpr DWORD ALL_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
using mirel::HOLD_ACCESS;
using mirel::HOLD_SHARING;
// Deletion shares no deletion: while it is under way nobody else may rename what is being deleted
// (on volumes that delete when the last handle closes, a name moved meanwhile could outlive it).
// Readers, such as scanners, are let in.
inline constexpr DWORD DELETION_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE;
// Scanners, indexers and backup agents open new files for a moment. On volumes that delete the
// classic way (FAT, exFAT, network shares, Wine, and NTFS whenever the other handle does not share
// deletion) a deleted name stays until such a handle closes, and the directory with it: the
// clean-up waits that long, in short pauses, up to this in all per directory.
inline constexpr ULONGLONG CLEANUP_PATIENCE_MS = 2000;
inline constexpr DWORD CLEANUP_PAUSE_MS = 10;

// A time budget for the clean-up of one directory.
class Patience {
public:
    explicit Patience(ULONGLONG milliseconds);
    // Pauses and says yes while time is left; no once it has run out.
    [[nodiscard]] bool wait() const;

private:
    ULONGLONG until_;
};

// Another process has the file or directory open (a scanner, say, which on Windows can also map a
// file and so have its deletion refused as access denied), or its deletion waits for one to close.
[[nodiscard]] bool worth_waiting(DWORD error);

// Deletes each staged name inside `directory` and waits, while `patience` lasts, until the name is
// gone. A link is deleted as itself. `where` names the directory in the run's log.
void remove_staged_files(HANDLE directory, const Patience& patience, std::string_view where);

// Removes the directory `name` inside `parent` if it is still the one with `id` (if known), once it
// is empty and nobody else has it open, or until `patience` runs out.
void remove_directory(HANDLE parent, std::wstring_view name, const std::optional<FileId>& id, const Patience& patience,
                      std::string_view where);

// Removes what earlier runs that never reached their clean-up left in the temporary directory that
// `temporary_directory` is open on (`where` in the log).
void remove_earlier_runs_directories(HANDLE temporary_directory, std::string_view where);

// The checks after protection: size, then contents. A failure releases `file` before it returns.
[[nodiscard]] Result<ProtectedFile> verify_protected_file(ProtectedFile file, std::span<const std::byte> bytes);

}  // namespace mirel::staging_internal
