#include "staging/staging.hpp"

#include <algorithm>
#include <optional>
#include <utility>

#include "common/held_files.hpp"
#include "common/path.hpp"
#include "common/process.hpp"
#include "common/unicode.hpp"
#include "staging/path_ancestors.hpp"
#include "staging/staging_internal.hpp"
#include "staging/staging_name.hpp"

namespace mirel {
namespace {

constexpr std::size_t TEMP_PATH_FIRST_BUFFER = 512;
constexpr DWORD ALL_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// How a directory is held: traverse counts as reading in the system's sharing checks, so without
// FILE_SHARE_DELETE nobody else can rename or remove it; and holding no more than that, the
// handle refuses nobody's ordinary open (for reading, listing, or as a current directory). Traverse
// is also all that an ancestor has to grant: a folder that lets its users pass but not list
// (C:\Windows\Temp for a standard user) can still be held.
constexpr ACCESS_MASK HOLD_ACCESS = FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD HOLD_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE;
// Scanners, indexers and backup agents open new files for a moment. On volumes that delete the
// classic way (FAT, exFAT, network shares, Wine, and NTFS whenever the other handle does not share
// deletion) a deleted name stays until such a handle closes, and the directory with it: the
// clean-up waits that long, in short pauses, up to this in all per directory.
constexpr ULONGLONG CLEANUP_PATIENCE_MS = 2000;
constexpr DWORD CLEANUP_PAUSE_MS = 10;
// Deletion shares no deletion: while it is under way nobody else may rename what is being deleted
// (on volumes that delete when the last handle closes, a name moved meanwhile could outlive it).
// Readers, such as scanners, are let in.
constexpr DWORD DELETION_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr RelativeOpen REMOVAL{DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, DELETION_SHARING, FILE_OPEN,
                               FILE_NON_DIRECTORY_FILE};

std::u16string_view as_utf16(std::wstring_view text) {
    return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}

std::uint64_t precise_system_time() {
    FILETIME now{};
    os::GetSystemTimePreciseAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// The new directory's path is what is missing, whichever of its parts it is.
SetupError missing_as_path_not_found(DWORD error) {
    return os_error(error == ERROR_FILE_NOT_FOUND ? DWORD{ERROR_PATH_NOT_FOUND} : error);
}

// GetTempPath2W gives SYSTEM processes a private folder; systems before it only have GetTempPathW.
Result<std::string> temporary_directory() {
    const bool version2 = os::GetTempPath2W.available();
    const std::optional<std::wstring> path = query_string(
        [&](wchar_t* buffer, DWORD units) {
            return version2 ? os::GetTempPath2W(units, buffer) : os::GetTempPathW(units, buffer);
        },
        TEMP_PATH_FIRST_BUFFER);
    if (!path) return fail(last_os_error());
    return from_wide(*path);
}

// The temporary directory as the system names it once every junction, symbolic link, substituted
// drive and short name on its way has been followed: profiles reached through a link (profile
// containers, folder redirection) are staged in, and their programs handed, the place they lead
// to. A directory that only a volume name can name keeps the path it was given.
Result<std::string> resolved_directory(const std::string& path) {
    const UniqueHandle directory(os::CreateFileW(file_system_path(path).c_str(), FILE_READ_ATTRIBUTES, ALL_SHARING,
                                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!directory) return fail(missing_as_path_not_found(os::GetLastError()));
    const std::optional<std::wstring> final = final_path(directory.get());
    if (!final) return path;
    const std::optional<std::u16string> usual = drive_or_unc_form(as_utf16(*final));
    if (!usual) return path;
    return utf16_to_utf8(*usual);
}

// Every directory above a new staging directory, root first, held so that none can be renamed,
// removed or replaced while the staging directory exists. One that is no directory is refused as a
// staged package is. A reparse point still on the resolved path is a volume mounted in a folder
// (or a link made since): its owner can point it elsewhere whatever is held, which gives an
// unelevated process power over an elevated run that it does not otherwise have. An elevated run
// refuses it; any other goes on.
Result<std::vector<UniqueHandle>> hold_ancestors(std::string_view staging_path) {
    const std::optional<std::vector<std::string>> ancestors = path_ancestors(staging_path);
    if (!ancestors) return fail(ErrorCode::InstallerPayloadLocked);
    std::vector<UniqueHandle> held;
    held.reserve(ancestors->size());
    for (const std::string& directory : *ancestors) {
        // FILE_FLAG_OPEN_REPARSE_POINT opens a mount point or link itself, never its target.
        UniqueHandle handle(os::CreateFileW(file_system_path(directory).c_str(), HOLD_ACCESS, HOLD_SHARING, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                            nullptr));
        if (!handle) return fail(missing_as_path_not_found(os::GetLastError()));
        const std::optional<FileFacts> facts = file_facts(handle.get());
        if (!facts || (facts->attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            ((facts->attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && is_elevated()))
            return fail(ErrorCode::InstallerPayloadLocked);
        held.push_back(std::move(handle));
    }
    return held;
}

std::optional<UniqueHandle> duplicate(HANDLE handle) {
    UniqueHandle copy;
    const HANDLE process = os::GetCurrentProcess();
    if (!os::DuplicateHandle(process, handle, process, copy.put(), 0, FALSE, DUPLICATE_SAME_ACCESS))
        return std::nullopt;
    return copy;
}

// A time budget for the clean-up of one directory.
class Patience {
public:
    explicit Patience(ULONGLONG milliseconds) : until_(os::GetTickCount64() + milliseconds) {}
    // Pauses and says yes while time is left; no once it has run out.
    bool wait() const {
        if (os::GetTickCount64() >= until_) return false;
        os::Sleep(CLEANUP_PAUSE_MS);
        return true;
    }

private:
    ULONGLONG until_;
};

// Another process has the file or directory open, or its deletion is waiting for one to close.
bool worth_waiting(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_DELETE_PENDING || error == ERROR_DIR_NOT_EMPTY;
}

// Deletes each staged name inside `directory` and waits, while `patience` lasts, until the name is
// gone. A link is deleted as itself.
void remove_staged_files(HANDLE directory, const Patience& patience) {
    for (const std::string_view staged : STAGED_FILE_NAMES) {
        const std::wstring name = to_wide(staged);
        do {
            std::expected<UniqueHandle, DWORD> file = open_in_directory(directory, name, REMOVAL);
            if (file) {
                const DWORD refused = delete_through_handle(file->get());
                file->reset();
                if (refused != ERROR_SUCCESS && !worth_waiting(refused)) break;
                // Gone at once, unless another process still has it open.
                file = open_in_directory(directory, name, REMOVAL);
            }
            // Gone (or never there), or not ours to delete.
            if (!file && !worth_waiting(file.error())) break;
        } while (patience.wait());
    }
}

// Removes the directory `name` inside `parent` if it is still the one with `id`, once it is empty
// and nobody else has it open, or until `patience` runs out.
void remove_directory(HANDLE parent, std::wstring_view name, FileId id, const Patience& patience) {
    do {
        const std::expected<UniqueHandle, DWORD> directory = open_in_directory(
            parent, name, {DELETE | FILE_READ_ATTRIBUTES, DELETION_SHARING, FILE_OPEN, FILE_DIRECTORY_FILE});
        if (!directory) {
            // Somebody has it open; or, in the instant it was not held, moved it away (and perhaps
            // back) or removed it.
            if (directory.error() != ERROR_SHARING_VIOLATION && directory.error() != ERROR_FILE_NOT_FOUND) return;
            continue;
        }
        // Never a directory that somebody else has put under the name meanwhile.
        const std::optional<FileFacts> facts = file_facts(directory->get());
        if (!facts || facts->id != id) return;
        const DWORD refused = delete_through_handle(directory->get());
        if (refused == ERROR_SUCCESS || !worth_waiting(refused)) return;
    } while (patience.wait());
}

// Staging directories of earlier runs that never reached their clean-up (ended from outside,
// crashed, or cut off by a power loss) are removed as a clean-up would have removed them: only
// names of this program's exact pattern whose process is gone (or whose id now belongs to a
// process started after the name's time), only the staged names inside them, nothing through a
// link, everything relative to the held temporary directory. A run that still lives keeps its
// own; any failure leaves a directory as it is.
void remove_abandoned_directories(HANDLE temporary_directory) {
    std::optional<std::vector<DirectoryEntry>> entries;
    if (const auto listing =
            reopen(temporary_directory, {FILE_LIST_DIRECTORY, ALL_SHARING, FILE_OPEN, FILE_DIRECTORY_FILE})) {
        entries = directory_entries(listing->get());
    }
    if (!entries) return;
    for (const DirectoryEntry& entry : *entries) {
        if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            continue;
        const std::optional<StagingNameParts> parts =
            parse_staging_directory_name(from_wide(entry.name), STAGING_ATTEMPTS);
        if (!parts) continue;
        // The name's time as a FILETIME: the run's process was started before it.
        const Nanoseconds since = parts->time / 100 + UNIX_EPOCH_AS_FILETIME;
        if (process_running_since(parts->process_id,
                                  since > UINT64_MAX ? UINT64_MAX : static_cast<std::uint64_t>(since)))
            continue;
        const std::expected<UniqueHandle, DWORD> directory = open_in_directory(
            temporary_directory, entry.name, {DELETE | HOLD_ACCESS, DELETION_SHARING, FILE_OPEN, FILE_DIRECTORY_FILE});
        if (!directory || !has_attributes(directory->get(), FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        remove_staged_files(directory->get(), Patience(0));
        static_cast<void>(delete_through_handle(directory->get()));
    }
}

}  // namespace

ProtectedFile& ProtectedFile::operator=(ProtectedFile&& other) noexcept {
    if (this != &other) {
        release();
        directories_ = std::move(other.directories_);
        file_ = std::move(other.file_);
    }
    return *this;
}

void ProtectedFile::release() noexcept {
    file_.reset();
    for (UniqueHandle& directory : directories_) directory.reset();
    directories_.clear();
}

StagingDirectory::StagingDirectory(StagingDirectory&& other) noexcept
    : path_(std::move(other.path_)),
      name_(std::move(other.name_)),
      id_(other.id_),
      ancestors_(std::move(other.ancestors_)),
      directory_(std::move(other.directory_)),
      held_files_(std::move(other.held_files_)) {}

StagingDirectory::~StagingDirectory() {
    // Our own read handles deny deletion to this process too: all of them go first.
    std::vector<ProtectedFile> held = std::move(held_files_);
    held_files_.clear();
    for (ProtectedFile& file : held) file.release();
    if (!directory_) return;

    // Through the held directory only: whatever happens elsewhere, these names are inside it.
    const Patience patience(CLEANUP_PATIENCE_MS);
    remove_staged_files(directory_.get(), patience);
    // The held handle shares no deletion, so it has to go before the directory can be opened for
    // it; from here until it is deleted the emptied directory is no longer held.
    directory_.reset();
    // A file of another name inside keeps it; the directory then stays with it.
    remove_directory(ancestors_.back().get(), name_, id_, patience);
    for (UniqueHandle& ancestor : ancestors_) ancestor.reset();
}

namespace staging_internal {

Result<StagingDirectory> create_staging_directory(const std::function<std::uint64_t()>& read_system_time) {
    const DWORD process_id = os::GetCurrentProcessId();
    for (std::uint32_t attempt = 0; attempt < STAGING_ATTEMPTS; ++attempt) {
        const std::optional<Nanoseconds> time = unix_nanoseconds(read_system_time());
        if (!time) return fail(ErrorCode::Clock);
        ASSIGN_OR_RETURN(const std::string temp, temporary_directory());
        ASSIGN_OR_RETURN(const std::string resolved, resolved_directory(temp));
        const std::string name = staging_directory_name(process_id, *time, attempt);
        std::string path = join_path(resolved, name);
        ASSIGN_OR_RETURN(std::vector<UniqueHandle> ancestors, hold_ancestors(path));
        const HANDLE parent = ancestors.back().get();
        const std::optional<UniqueSecurityDescriptor> security = private_directory_security(is_remote_volume(parent));
        if (!security) return fail(last_os_error());

        // Created and opened in one step, inside the held parent: there is no instant at which
        // the directory exists and is not held.
        const std::wstring wide_name = to_wide(name);
        auto directory = open_in_directory(
            parent, wide_name, {HOLD_ACCESS, HOLD_SHARING, FILE_CREATE, FILE_DIRECTORY_FILE, security->get()});
        if (!directory) {
            const DWORD error = directory.error();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return fail(os_error(error));
            continue;
        }
        // Never fails on a handle just opened; if it did, the empty directory would stay, since
        // nothing is deleted that is not known to be ours.
        const std::optional<FileFacts> facts = file_facts(directory->get());
        if (!facts) return fail(last_os_error());
        StagingDirectory staging(std::move(path), wide_name, facts->id, std::move(ancestors), std::move(*directory));
        // Once a run for each temporary directory: what earlier runs left there does not grow back.
        static std::vector<std::string> swept;
        if (std::ranges::find(swept, resolved) == swept.end()) {
            swept.push_back(resolved);
            remove_abandoned_directories(parent);
        }

        // The programs that get a staged file by path take none of MAX_PATH or more; the staging
        // directory's short form is theirs where the full path is too long. Where the volume keeps
        // no short names, the run ends here, before anything is written (and the directory goes).
        const std::u16string full = utf8_to_utf16(staging.path());
        const auto short_form = [&staging]() -> std::optional<std::u16string> {
            const std::optional<std::wstring> shortened = short_path(file_system_path(staging.path()));
            if (!shortened) return std::nullopt;
            return drive_or_unc_form(as_utf16(*shortened));
        };
        const std::size_t longest_name = std::ranges::max(STAGED_FILE_NAMES, {}, &std::string_view::size).size();
        const std::optional<std::u16string> handed = handed_directory_path(full, short_form, longest_name);
        if (!handed) return fail(os_error(ERROR_FILENAME_EXCED_RANGE));
        staging.path_ = utf16_to_utf8(*handed);
        return staging;
    }
    return fail(ErrorCode::TemporaryDirectory);
}

Result<ProtectedFile> verify_protected_file(ProtectedFile file, std::span<const std::byte> bytes) {
    const auto give_up = [&file](ErrorCode code) {
        file.release();
        return fail(code);
    };
    const std::optional<FileFacts> facts = file_facts(file.file());
    if (!facts) return give_up(ErrorCode::InstallerPayloadLocked);
    if (facts->size != bytes.size()) return give_up(ErrorCode::InstallerPayloadChanged);
    switch (compare_file_with(file.file(), bytes, VERIFY_CHUNK_SIZE)) {
        case ReadBack::Same: return file;
        case ReadBack::Different: return give_up(ErrorCode::InstallerPayloadChanged);
        case ReadBack::ReadFailed: break;
    }
    return give_up(ErrorCode::InstallerPayloadLocked);
}

}  // namespace staging_internal

Result<StagingDirectory> create_staging_directory() {
    return staging_internal::create_staging_directory(precise_system_time);
}

std::expected<UniqueHandle, DWORD> create_staged_file(const StagingDirectory& staging, std::string_view file_name) {
    // A new file only: one that somebody placed here first is never written into or trusted.
    return open_in_directory(staging.handle(), to_wide(file_name),
                             {GENERIC_WRITE, FILE_SHARE_READ, FILE_CREATE, FILE_NON_DIRECTORY_FILE});
}

Result<ProtectedFile> protect_file(const StagingDirectory& staging, std::string_view file_name) {
    // Handles of its own on the directories that the staging directory already holds, so that the
    // record stands for the whole path however long it is kept.
    std::vector<UniqueHandle> directories;
    directories.reserve(staging.ancestors().size() + 1);
    for (const UniqueHandle& ancestor : staging.ancestors()) {
        std::optional<UniqueHandle> copy = duplicate(ancestor.get());
        if (!copy) return fail(ErrorCode::FileProtectionFailed);
        directories.push_back(std::move(*copy));
    }
    std::optional<UniqueHandle> own = duplicate(staging.handle());
    if (!own) return fail(ErrorCode::FileProtectionFailed);
    directories.push_back(std::move(*own));

    // Reading is the only sharing granted: no writer, no deleter, no rename while this is open.
    auto file = open_in_directory(staging.handle(), to_wide(file_name),
                                  {GENERIC_READ, FILE_SHARE_READ, FILE_OPEN, FILE_NON_DIRECTORY_FILE});
    if (!file) return fail(ErrorCode::FileProtectionFailed);
    ProtectedFile held(std::move(directories), std::move(*file));
    if (!has_attributes(held.file(), 0, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        return fail(ErrorCode::FileProtectionFailed);
    return held;
}

Result<std::string> write_payload(StagingDirectory& staging, std::string_view file_name,
                                  std::span<const std::byte> bytes) {
    if (bytes.size() < PAYLOAD_MINIMUM_SIZE ||
        !std::equal(COMPOUND_FILE_SIGNATURE.begin(), COMPOUND_FILE_SIGNATURE.end(), bytes.begin()))
        return fail(ErrorCode::InstallerPayloadMissing);

    {
        auto file = create_staged_file(staging, file_name);
        if (!file || !write_all(file->get(), bytes) || !os::FlushFileBuffers(file->get()))
            return fail(ErrorCode::InstallerPayloadLocked);
    }

    Result<ProtectedFile> protected_file = protect_file(staging, file_name);
    if (!protected_file) return fail(ErrorCode::InstallerPayloadLocked);
    ASSIGN_OR_RETURN(ProtectedFile verified,
                     staging_internal::verify_protected_file(std::move(*protected_file), bytes));
    staging.hold_file(std::move(verified));
    return join_path(staging.path(), file_name);
}

}  // namespace mirel
