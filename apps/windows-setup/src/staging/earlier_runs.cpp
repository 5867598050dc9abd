// Staging directories of earlier runs that never reached their clean-up (ended from outside,
// crashed, or cut off by a power loss) are removed as a clean-up would have removed them: only
// names of this program's exact pattern whose process is gone (or whose id now belongs to a
// process started after the name's time), only the staged names inside them, nothing through a
// link, everything relative to the held temporary directory. A run that still lives keeps its
// own. The killed run's children (the verifier, the engine) may still hold a file for a moment,
// which is waited for as the clean-up waits; a file of another name is not, and any other failure
// leaves a directory as it is.

#include <string>

#include "common/process.hpp"
#include "common/run_log.hpp"
#include "staging/staging_internal.hpp"
#include "staging/staging_name.hpp"

namespace mirel::staging_internal {
namespace {

// What every staging directory's name starts with. The system picks these out of the temporary
// directory, which on many machines holds a hundred thousand other names.
constexpr std::wstring_view STAGING_NAME_MASK = L"MirelSetup-*";

void remove_if_left(HANDLE temporary_directory, std::string_view where, std::wstring_view entry, DWORD attributes,
                    const Patience& patience) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return;
    const std::string name = from_wide(entry);
    const std::optional<StagingNameParts> parts = parse_staging_directory_name(name, STAGING_ATTEMPTS);
    if (!parts) return;
    // The name's time as a FILETIME: the run's process was started before it.
    const Nanoseconds since = parts->time / 100 + UNIX_EPOCH_AS_FILETIME;
    if (process_running_since(parts->process_id, since > UINT64_MAX ? UINT64_MAX : static_cast<std::uint64_t>(since)))
        return;
    const std::string path = std::string(where) + "\\" + name;
    log_event("earlier runs", {path, " was left by process ", parts->process_id, ", which has ended"});
    const std::expected<UniqueHandle, DWORD> directory = open_in_directory(
        temporary_directory, entry, {DELETE | HOLD_ACCESS, DELETION_SHARING, FILE_OPEN, FILE_DIRECTORY_FILE});
    if (!directory || !has_attributes(directory->get(), FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_REPARSE_POINT)) {
        log_event("earlier runs",
                  {"left ", path, ": ",
                   directory ? LogPart("it is no plain directory") : LogPart::os_error(directory.error())});
        return;
    }
    static_cast<void>(remove_staged_files(directory->get(), patience, path));
    // Once its staged names are gone, a directory that is still not empty holds a file of another
    // name: it stays at once, rather than costing every later run the wait.
    Retries retries(patience);
    DWORD refused = ERROR_SUCCESS;
    do {
        refused = delete_through_handle(directory->get());
    } while (worth_waiting(refused) && retries.pause(refused));
    log_event("earlier runs", {refused == ERROR_SUCCESS ? "removed " : "left ", path, retries.text(),
                               refused == ERROR_SUCCESS ? "" : ": ",
                               refused == ERROR_SUCCESS ? LogPart("") : LogPart::os_error(refused)});
}

}  // namespace

void remove_earlier_runs_directories(HANDLE temporary_directory, std::string_view where) {
    // One wait for all of them: however many directories killed runs left, a run waits for other
    // processes no longer than its own clean-up would.
    const Patience patience(CLEANUP_PATIENCE_MS);
    const std::expected<UniqueHandle, DWORD> listing =
        reopen(temporary_directory, {FILE_LIST_DIRECTORY, ALL_SHARING, FILE_OPEN, FILE_DIRECTORY_FILE});
    const auto sweep = [&](std::wstring_view entry, DWORD attributes) {
        remove_if_left(temporary_directory, where, entry, attributes, patience);
    };
    const DWORD error = listing ? visit_entries(listing->get(), STAGING_NAME_MASK, sweep) : listing.error();
    if (error != ERROR_SUCCESS) log_event("earlier runs", {where, " cannot be listed: ", LogPart::os_error(error)});
}

}  // namespace mirel::staging_internal
