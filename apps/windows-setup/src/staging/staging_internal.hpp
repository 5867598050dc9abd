#pragma once

// What the parts of staging share (how directories are held and deleted, the clean-up and the
// sweep of earlier runs' directories), and the steps that tests drive on their own: a clock of
// their choosing for the directory names, the read-back comparison on a file they prepared, and
// shorter waits for other processes.

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
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
// Scanners, indexers and backup agents open new files for a moment; endpoint and data-loss agents
// hash or upload a new 14 MB file for seconds, without sharing its deletion. On volumes that delete
// the classic way (FAT, exFAT, network shares, Wine, and NTFS whenever the other handle does not
// share deletion) a deleted name stays until such a handle closes, and the directory with it. The
// clean-up waits that long, up to this in all per directory, and only while it is refused: pauses
// that start short (most holders let go at once) and grow, so that a long hold costs few tries.
inline constexpr ULONGLONG CLEANUP_PATIENCE_MS = 15000;
inline constexpr DWORD FIRST_PAUSE_MS = 10;
inline constexpr DWORD LONGEST_PAUSE_MS = 1000;

// A time budget, from its creation on.
class Patience {
public:
    explicit Patience(ULONGLONG milliseconds);
    // What is left of it, in milliseconds.
    [[nodiscard]] ULONGLONG left() const;

private:
    ULONGLONG until_;
};

// The tries of one step that another process refuses, and the pauses between them.
class Retries {
public:
    explicit Retries(const Patience& patience);
    // Pauses for `reason` while `patience` lasts, twice as long as the last pause (10 ms at first, at
    // most a second, never past the budget), and says yes; no once the budget has run out.
    [[nodiscard]] bool pause(DWORD reason);
    [[nodiscard]] std::size_t count() const noexcept { return count_; }
    // " after N retries over M ms (the last reason)", or nothing without a retry; for the run's log.
    [[nodiscard]] std::string text() const;

private:
    const Patience& patience_;
    ULONGLONG started_;
    DWORD next_ = FIRST_PAUSE_MS;
    std::size_t count_ = 0;
    DWORD last_ = ERROR_SUCCESS;
};

// Another process has the file or directory open (a scanner, say, which on Windows can also map a
// file and so have its deletion refused as access denied), or its deletion waits for one to close.
// A directory that is still not empty once its staged names are gone holds a file of another name,
// which no wait removes.
[[nodiscard]] bool worth_waiting(DWORD error);

// Which of STAGED_FILE_NAMES stayed, by their place in it.
using StagedNames = std::bitset<STAGED_FILE_NAMES.size()>;

// Deletes each staged name inside `directory` and waits, while `patience` lasts, until the name is
// gone. A link is deleted as itself. `where` names the directory in the run's log. Gives the names
// that are still there.
StagedNames remove_staged_files(HANDLE directory, const Patience& patience, std::string_view where);

// Removes the directory `name` inside `parent` if it is still the one with `id` (if known), once it
// is empty and nobody else has it open, or until `patience` runs out. ERROR_SUCCESS, or why it stays.
DWORD remove_directory(HANDLE parent, std::wstring_view name, const std::optional<FileId>& id, const Patience& patience,
                       std::string_view where);

// The clean-up of `staging` (see StagingDirectory::clean_up), waiting at most `patience_ms` for
// other processes.
void clean_up_within(StagingDirectory& staging, ULONGLONG patience_ms) noexcept;

// Removes what earlier runs that never reached their clean-up left in the temporary directory that
// `temporary_directory` is open on (`where` in the log).
void remove_earlier_runs_directories(HANDLE temporary_directory, std::string_view where);

// protect_file, waiting while `patience` lasts for another process that has the file open in a way
// that keeps it from being held.
[[nodiscard]] Result<ProtectedFile> protect_file(const StagingDirectory& staging, std::string_view file_name,
                                                 const Patience& patience);

// The checks after protection, on the file that `staging` holds last: size, then contents. A
// failure releases that file before it returns.
[[nodiscard]] Status verify_last_held_file(StagingDirectory& staging, std::span<const std::byte> bytes);

}  // namespace mirel::staging_internal
