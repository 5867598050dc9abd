#include "staging/staging.hpp"

#include <algorithm>
#include <optional>
#include <utility>

#include "common/held_files.hpp"
#include "common/path.hpp"
#include "staging/path_ancestors.hpp"
#include "staging/staging_internal.hpp"
#include "staging/staging_name.hpp"

namespace mirel {
namespace {

constexpr std::size_t TEMP_PATH_FIRST_BUFFER = 512;
constexpr DWORD ALL_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::uint64_t precise_system_time() {
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// GetTempPath2W gives SYSTEM processes a private folder; systems before it only have GetTempPathW.
Result<std::string> temporary_directory() {
    using GetTempPathFunction = DWORD WINAPI(DWORD, LPWSTR);
    static GetTempPathFunction* const get_temp_path2 =
        system_function<GetTempPathFunction>(L"kernel32.dll", "GetTempPath2W");
    GetTempPathFunction* const get_temp_path = get_temp_path2 != nullptr ? get_temp_path2 : &::GetTempPathW;
    const std::optional<std::wstring> path = query_string(
        [&](wchar_t* buffer, DWORD units) { return get_temp_path(units, buffer); }, TEMP_PATH_FIRST_BUFFER);
    if (!path) return fail(last_os_error());
    return from_wide(*path);
}

// Every directory above a new staging directory, root first, held so that none can be renamed,
// removed or replaced while the staging directory exists. A directory on the way that is a link
// or no directory at all is refused as a staged package is (the file's protection would refuse
// it later anyway); one that does not exist says so in the system's words.
Result<std::vector<UniqueHandle>> hold_ancestors(std::string_view staging_path) {
    const std::optional<std::vector<std::string>> ancestors = path_ancestors(staging_path);
    if (!ancestors) return fail(ErrorCode::InstallerPayloadLocked);
    std::vector<UniqueHandle> held;
    held.reserve(ancestors->size());
    for (const std::string& directory : *ancestors) {
        // No FILE_SHARE_DELETE: nobody may rename or remove a directory on the path while it is held,
        // and FILE_FLAG_OPEN_REPARSE_POINT opens a junction or link itself, which is refused below.
        UniqueHandle handle(::CreateFileW(file_system_path(directory).c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!handle) {
            const DWORD error = ::GetLastError();
            // The new directory's path is what is missing, whichever of its parts it is.
            return fail(os_error(error == ERROR_FILE_NOT_FOUND ? DWORD{ERROR_PATH_NOT_FOUND} : error));
        }
        if (!has_attributes(handle.get(), FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_REPARSE_POINT))
            return fail(ErrorCode::InstallerPayloadLocked);
        held.push_back(std::move(handle));
    }
    return held;
}

std::optional<UniqueHandle> duplicate(HANDLE handle) {
    UniqueHandle copy;
    const HANDLE process = ::GetCurrentProcess();
    if (!::DuplicateHandle(process, handle, process, copy.put(), 0, FALSE, DUPLICATE_SAME_ACCESS)) return std::nullopt;
    return copy;
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
    for (const std::string_view name : STAGED_FILE_NAMES) {
        const RelativeOpen removal{DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, ALL_SHARING, FILE_OPEN,
                                   FILE_NON_DIRECTORY_FILE};
        if (const auto file = open_in_directory(directory_.get(), to_wide(name), removal)) {
            static_cast<void>(delete_through_handle(file->get()));
        }
    }
    // Fails while a file of another name is inside; the directory then stays with it.
    static_cast<void>(delete_through_handle(directory_.get()));
    directory_.reset();
    for (UniqueHandle& ancestor : ancestors_) ancestor.reset();
}

namespace staging_internal {

Result<StagingDirectory> create_staging_directory(const std::function<std::uint64_t()>& read_system_time) {
    const DWORD process_id = ::GetCurrentProcessId();
    const std::optional<UniqueSecurityDescriptor> security = private_directory_security();
    if (!security) return fail(last_os_error());
    for (std::uint32_t attempt = 0; attempt < STAGING_ATTEMPTS; ++attempt) {
        const std::optional<Nanoseconds> time = unix_nanoseconds(read_system_time());
        if (!time) return fail(ErrorCode::Clock);
        ASSIGN_OR_RETURN(const std::string temp, temporary_directory());
        const std::string name = staging_directory_name(process_id, *time, attempt);
        std::string path = join_path(temp, name);
        ASSIGN_OR_RETURN(std::vector<UniqueHandle> ancestors, hold_ancestors(path));

        // Created and opened in one step, inside the held parent: there is no instant at which
        // the directory exists and is not held. Without FILE_SHARE_DELETE nobody else can rename
        // or remove it, and its own DELETE access lets the clean-up remove it through this handle.
        constexpr ACCESS_MASK HELD_ACCESS =
            FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | DELETE;
        const RelativeOpen creation{HELD_ACCESS, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE, FILE_DIRECTORY_FILE,
                                    security->get()};
        auto directory = open_in_directory(ancestors.back().get(), to_wide(name), creation);
        if (directory) return StagingDirectory(std::move(path), std::move(ancestors), std::move(*directory));
        const DWORD error = directory.error();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return fail(os_error(error));
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
        if (!file || !write_all(file->get(), bytes) || !::FlushFileBuffers(file->get()))
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
