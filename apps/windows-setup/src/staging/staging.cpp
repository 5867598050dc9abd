#include "staging/staging.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "common/path.hpp"
#include "staging/path_ancestors.hpp"
#include "staging/staging_internal.hpp"
#include "staging/staging_name.hpp"

namespace mirel {
namespace {

constexpr std::size_t TEMP_PATH_FIRST_BUFFER = 512;
// Delete, with POSIX semantics (the name goes at once), ignoring the read-only attribute.
// The extended disposition class (Windows 10 1809 on); mingw's headers hide its name.
constexpr auto FILE_DISPOSITION_INFO_EX_CLASS = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD DISPOSITION_EX_FLAGS = FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                       FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE;

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

bool has_attributes(HANDLE handle, DWORD required, DWORD forbidden) {
    const std::optional<FileFacts> facts = file_facts(handle);
    return facts && attributes_match(facts->attributes, required, forbidden);
}

// Deletes one staged file if it exists. A read-only file survives DeleteFileW; the extended
// disposition ignores the attribute, but Windows 10 before 1809 (and Wine) lacks it, so the
// attribute is then cleared through a handle and the classic disposition used.
void delete_staged_file(const std::wstring& path) noexcept {
    if (::DeleteFileW(path.c_str())) return;
    if (::GetLastError() != ERROR_ACCESS_DENIED) return;

    constexpr DWORD ALL_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    {
        UniqueHandle file(::CreateFileW(path.c_str(), DELETE, ALL_SHARING, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file) return;
        FILE_DISPOSITION_INFO_EX disposition{DISPOSITION_EX_FLAGS};
        if (::SetFileInformationByHandle(file.get(), FILE_DISPOSITION_INFO_EX_CLASS, &disposition, sizeof disposition))
            return;
    }

    UniqueHandle file(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, ALL_SHARING,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.get(), &info)) return;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        FILE_BASIC_INFO basic{};  // zero times: leave them as they are
        basic.FileAttributes = info.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
        // Zero would mean "no change"; NORMAL is the attribute set with nothing in it.
        if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        if (!::SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic)) return;
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
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
    : path_(std::exchange(other.path_, {})), held_files_(std::move(other.held_files_)) {}

StagingDirectory::~StagingDirectory() {
    // Our own read handles deny deletion to this process too: all of them go first.
    std::vector<ProtectedFile> held = std::move(held_files_);
    held_files_.clear();
    for (ProtectedFile& file : held) file.release();
    if (path_.empty()) return;

    for (const std::string_view name : STAGED_FILE_NAMES)
        delete_staged_file(file_system_path(join_path(path_, name)));
    ::RemoveDirectoryW(file_system_path(path_).c_str());
}

namespace staging_internal {

Result<StagingDirectory> create_staging_directory(const std::function<std::uint64_t()>& read_system_time) {
    const DWORD process_id = ::GetCurrentProcessId();
    for (std::uint32_t attempt = 0; attempt < STAGING_ATTEMPTS; ++attempt) {
        const std::optional<Nanoseconds> time = unix_nanoseconds(read_system_time());
        if (!time) return fail(ErrorCode::Clock);
        ASSIGN_OR_RETURN(const std::string temp, temporary_directory());
        std::string path = join_path(temp, staging_directory_name(process_id, *time, attempt));
        if (::CreateDirectoryW(file_system_path(path).c_str(), nullptr)) return StagingDirectory(std::move(path));
        const DWORD error = ::GetLastError();
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

Result<ProtectedFile> protect_file(std::string_view path) {
    const std::optional<std::vector<std::string>> ancestors = path_ancestors(path);
    if (!ancestors) return fail(ErrorCode::FileProtectionFailed);

    // Built up in place so that a failure half-way closes what is open in the documented order.
    ProtectedFile held({}, UniqueHandle());
    std::vector<UniqueHandle> directories;
    directories.reserve(ancestors->size());
    for (const std::string& directory : *ancestors) {
        // No FILE_SHARE_DELETE: nobody may rename or remove a directory on the path while it is held,
        // and FILE_FLAG_OPEN_REPARSE_POINT opens a junction or link itself, which the check refuses.
        UniqueHandle handle(::CreateFileW(file_system_path(directory).c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        const bool usable =
            handle && has_attributes(handle.get(), FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_REPARSE_POINT);
        if (handle) directories.push_back(std::move(handle));
        if (!usable) {
            held = ProtectedFile(std::move(directories), UniqueHandle());
            held.release();
            return fail(ErrorCode::FileProtectionFailed);
        }
    }

    // Reading is the only sharing granted: no writer, no deleter, no rename while this is open.
    UniqueHandle file(::CreateFileW(file_system_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    const bool usable = file && has_attributes(file.get(), 0, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    held = ProtectedFile(std::move(directories), std::move(file));
    if (!usable) {
        held.release();
        return fail(ErrorCode::FileProtectionFailed);
    }
    return held;
}

Result<std::string> write_payload(StagingDirectory& staging, std::string_view file_name,
                                  std::span<const std::byte> bytes) {
    if (bytes.size() < PAYLOAD_MINIMUM_SIZE ||
        !std::equal(COMPOUND_FILE_SIGNATURE.begin(), COMPOUND_FILE_SIGNATURE.end(), bytes.begin()))
        return fail(ErrorCode::InstallerPayloadMissing);

    std::string path = join_path(staging.path(), file_name);
    {
        // CREATE_NEW: a file that somebody placed here first is never written into or trusted.
        UniqueHandle file(::CreateFileW(file_system_path(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file || !write_all(file.get(), bytes) || !::FlushFileBuffers(file.get()))
            return fail(ErrorCode::InstallerPayloadLocked);
    }

    Result<ProtectedFile> protected_file = protect_file(path);
    if (!protected_file) return fail(ErrorCode::InstallerPayloadLocked);
    ASSIGN_OR_RETURN(ProtectedFile verified,
                     staging_internal::verify_protected_file(std::move(*protected_file), bytes));
    staging.hold_file(std::move(verified));
    return path;
}

}  // namespace mirel
