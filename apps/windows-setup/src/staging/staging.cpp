#include "staging/staging.hpp"

#include <algorithm>
#include <optional>
#include <utility>

#include "common/held_files.hpp"
#include "common/held_path.hpp"
#include "common/path.hpp"
#include "common/run_log.hpp"
#include "common/unicode.hpp"
#include "staging/staging_internal.hpp"
#include "staging/staging_name.hpp"

namespace mirel {
namespace {

using staging_internal::ALL_SHARING;
using staging_internal::HOLD_ACCESS;
using staging_internal::HOLD_SHARING;

constexpr std::size_t TEMP_PATH_FIRST_BUFFER = 512;

std::u16string_view as_utf16(std::wstring_view text) {
    return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}

std::uint64_t precise_system_time() {
    FILETIME now{};
    os::GetSystemTimePreciseAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
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

std::optional<UniqueHandle> duplicate(HANDLE handle) {
    UniqueHandle copy;
    const HANDLE process = os::GetCurrentProcess();
    if (!os::DuplicateHandle(process, handle, process, copy.put(), 0, FALSE, DUPLICATE_SAME_ACCESS))
        return std::nullopt;
    return copy;
}

}  // namespace

namespace staging_internal {

Result<StagingDirectory> create_staging_directory(const std::function<std::uint64_t()>& read_system_time) {
    const DWORD process_id = os::GetCurrentProcessId();
    for (std::uint32_t attempt = 0; attempt < STAGING_ATTEMPTS; ++attempt) {
        const std::optional<Nanoseconds> time = unix_nanoseconds(read_system_time());
        if (!time) return fail(ErrorCode::Clock);
        ASSIGN_OR_RETURN(const std::string resolved, resolved_temporary_directory());
        const std::string name = staging_directory_name(process_id, *time, attempt);
        std::string path = join_path(resolved, name);
        ASSIGN_OR_RETURN(std::vector<UniqueHandle> ancestors,
                         hold_ancestors(path, "staging", ErrorCode::InstallerPayloadLocked));
        const HANDLE parent = ancestors.back().get();
        const std::expected<UniqueSecurityDescriptor, DWORD> security =
            private_directory_security(is_remote_volume(parent));
        if (!security) return fail(os_error(security.error()));

        // Created and opened in one step, inside the held parent: there is no instant at which
        // the directory exists and is not held.
        std::wstring wide_name = to_wide(name);
        auto directory = open_in_directory(
            parent, wide_name, {HOLD_ACCESS, HOLD_SHARING, FILE_CREATE, FILE_DIRECTORY_FILE, security->get()});
        if (!directory) {
            const DWORD error = directory.error();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return fail(os_error(error));
            log_event("staging", {path, " exists already: another name is tried"});
            continue;
        }
        // Fails on a handle just opened only when the system is in trouble. The directory is ours all
        // the same (held since its first instant, nobody can have put another in its place) and goes
        // with the failure, its identity unchecked: at worst the clean-up removes an empty directory
        // of this run's own name that somebody put there in the instant before it.
        const std::optional<FileId> id = file_identity(directory->get());
        const DWORD identity_error = id ? DWORD{ERROR_SUCCESS} : os::GetLastError();
        StagingDirectory staging(std::move(path), std::move(wide_name), id, std::move(ancestors),
                                 std::move(*directory));
        if (!id) return fail(os_error(identity_error));
        // Once a run for each temporary directory: what earlier runs left there does not grow back.
        static std::vector<std::string> swept;
        if (std::ranges::find(swept, resolved) == swept.end()) {
            swept.push_back(resolved);
            remove_earlier_runs_directories(parent, resolved);
        }

        // The programs that get a staged file by path take none of MAX_PATH or more; the staging
        // directory's short form is theirs where the full path is too long. Where the volume keeps
        // no short names, the run ends here, before anything is written (and the directory goes),
        // with the system's reason when the short form cannot be read.
        const std::u16string full = utf8_to_utf16(staging.path());
        const auto short_form = [&staging]() -> std::expected<std::u16string, std::uint32_t> {
            const std::expected<std::wstring, DWORD> shortened = short_path(file_system_path(staging.path()));
            if (!shortened) return std::unexpected(shortened.error());
            std::optional<std::u16string> usual = drive_or_unc_form(as_utf16(*shortened));
            if (!usual) return std::unexpected(FILENAME_TOO_LONG);
            return std::move(*usual);
        };
        const std::size_t longest_name = std::ranges::max(STAGED_FILE_NAMES, {}, &std::string_view::size).size();
        const std::expected<std::u16string, std::uint32_t> handed =
            handed_directory_path(full, short_form, longest_name);
        if (!handed) return fail(os_error(handed.error()));
        std::string handed_path = utf16_to_utf8(*handed);
        const bool shortened = *handed != full;
        log_event("staging", {"created ", staging.path_, shortened ? ", handed on in its short form " : "",
                              shortened ? LogPart(handed_path) : LogPart("")});
        staging.path_ = std::move(handed_path);
        return staging;
    }
    return fail(ErrorCode::TemporaryDirectory);
}

Result<ProtectedFile> protect_file(const StagingDirectory& staging, std::string_view file_name,
                                   const Patience& patience) {
    // Whatever allocates comes first: memory that runs out while the copies below are open ends the
    // run where it stands, and a copy of the staging directory's handle left open would keep the
    // clean-up from removing the directory.
    const std::wstring name = to_wide(file_name);
    const std::string shown = run_log_enabled() ? join_path(staging.path(), file_name) : std::string();
    // Handles of its own on the directories that the staging directory already holds, so that the
    // record stands for the whole path however long it is kept.
    std::vector<UniqueHandle> directories;
    directories.reserve(staging.ancestors().size() + 1);
    for (const UniqueHandle& ancestor : staging.ancestors()) {
        std::optional<UniqueHandle> copy = duplicate(ancestor.get());
        if (!copy) return fail(ErrorCode::FileProtectionFailed, os::GetLastError());
        directories.push_back(std::move(*copy));
    }
    std::optional<UniqueHandle> own = duplicate(staging.handle());
    if (!own) return fail(ErrorCode::FileProtectionFailed, os::GetLastError());
    directories.push_back(std::move(*own));

    // Reading is the only sharing granted: no writer, no deleter, no rename while this is open. An
    // agent that hashes or uploads the new file may keep it from being opened so for seconds (not
    // sharing reading, or writing itself).
    Retries retries(patience);
    std::expected<UniqueHandle, DWORD> file;
    do {
        file = open_in_directory(staging.handle(), name,
                                 {GENERIC_READ, FILE_SHARE_READ, FILE_OPEN, FILE_NON_DIRECTORY_FILE});
    } while (!file && (file.error() == ERROR_SHARING_VIOLATION || file.error() == ERROR_LOCK_VIOLATION) &&
             retries.pause(file.error()));
    if (retries.count() > 0) {
        log_event("staging", {shown, file ? " could be held" : " could not be held", retries.text()});
    }
    if (!file) return fail(ErrorCode::FileProtectionFailed, file.error());
    ProtectedFile held(std::move(directories), std::move(*file));
    if (!has_attributes(held.file(), 0, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        return fail(ErrorCode::FileProtectionFailed, os::GetLastError());
    return held;
}

Status verify_last_held_file(StagingDirectory& staging, std::span<const std::byte> bytes) {
    const auto give_up = [&staging](ErrorCode code, DWORD os_error = 0) {
        staging.release_last_file();
        return fail(code, os_error);
    };
    const HANDLE file = staging.held_files().back().file();
    const std::optional<FileFacts> facts = file_facts(file);
    if (!facts) return give_up(ErrorCode::InstallerPayloadLocked, os::GetLastError());
    if (facts->size != bytes.size()) return give_up(ErrorCode::InstallerPayloadChanged);
    switch (compare_file_with(file, bytes, VERIFY_CHUNK_SIZE)) {
        case ReadBack::Same: return {};
        case ReadBack::Different: return give_up(ErrorCode::InstallerPayloadChanged);
        case ReadBack::ReadFailed: break;
    }
    return give_up(ErrorCode::InstallerPayloadLocked, os::GetLastError());
}

}  // namespace staging_internal

Result<StagingDirectory> create_staging_directory() {
    return staging_internal::create_staging_directory(precise_system_time);
}

Result<std::string> resolved_temporary_directory() {
    ASSIGN_OR_RETURN(const std::string temp, temporary_directory());
    return resolved_directory(temp);
}

std::expected<UniqueHandle, DWORD> create_staged_file(const StagingDirectory& staging, std::string_view file_name) {
    // A new file only: one that somebody placed here first is never written into or trusted.
    return open_in_directory(staging.handle(), to_wide(file_name),
                             {GENERIC_WRITE, FILE_SHARE_READ, FILE_CREATE, FILE_NON_DIRECTORY_FILE});
}

Result<ProtectedFile> protect_file(const StagingDirectory& staging, std::string_view file_name) {
    return staging_internal::protect_file(staging, file_name,
                                          staging_internal::Patience(staging_internal::CLEANUP_PATIENCE_MS));
}

Result<std::string> write_payload(StagingDirectory& staging, std::string_view file_name,
                                  std::span<const std::byte> bytes) {
    if (bytes.size() < PAYLOAD_MINIMUM_SIZE ||
        !std::equal(COMPOUND_FILE_SIGNATURE.begin(), COMPOUND_FILE_SIGNATURE.end(), bytes.begin()))
        return fail(ErrorCode::InstallerPayloadMissing);

    // The system's reason stays with the code, for the run's log.
    {
        auto file = create_staged_file(staging, file_name);
        if (!file) return fail(ErrorCode::InstallerPayloadLocked, file.error());
        if (!write_all(file->get(), bytes) || !os::FlushFileBuffers(file->get()))
            return fail(ErrorCode::InstallerPayloadLocked, os::GetLastError());
    }

    Result<ProtectedFile> protected_file = protect_file(staging, file_name);
    if (!protected_file) return fail(ErrorCode::InstallerPayloadLocked, protected_file.error().os_error());
    // Held by the staging directory before it is read back: memory that runs out meanwhile ends
    // the run through the clean-up, which can delete only what it can release first.
    staging.hold_file(std::move(*protected_file));
    RETURN_IF_ERROR(staging_internal::verify_last_held_file(staging, bytes));
    std::string path = join_path(staging.path(), file_name);
    log_event("staging", {"wrote ", path, ", ", bytes.size(), " bytes, verified and held"});
    return path;
}

}  // namespace mirel
