#include "common/held_files.hpp"

#include <cstring>

#include <string>
#include <vector>

#include "common/os.hpp"

namespace mirel {
namespace {

// The extended disposition class (Windows 10 1809 on); mingw's headers hide its name.
constexpr auto FILE_DISPOSITION_INFO_EX_CLASS = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
// Delete with POSIX semantics (the name goes at once), ignoring the read-only attribute.
constexpr DWORD DISPOSITION_EX_FLAGS = FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                       FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE;
// The device characteristic of a network redirector's volumes (ntddk.h).
constexpr ULONG FILE_REMOTE_DEVICE_CHARACTERISTIC = 0x10;
constexpr NTSTATUS STATUS_DELETE_PENDING_VALUE = static_cast<NTSTATUS>(0xC0000056);
constexpr NTSTATUS STATUS_NO_MORE_FILES_VALUE = static_cast<NTSTATUS>(0x80000006);
constexpr NTSTATUS STATUS_NO_SUCH_FILE_VALUE = static_cast<NTSTATUS>(0xC000000F);

template <typename Information>
std::optional<Information> token_information(HANDLE token, TOKEN_INFORMATION_CLASS type,
                                             std::vector<std::byte>& storage) {
    DWORD size = 0;
    os::GetTokenInformation(token, type, nullptr, 0, &size);
    storage.resize(size > sizeof(Information) ? size : sizeof(Information));
    if (!os::GetTokenInformation(token, type, storage.data(), static_cast<DWORD>(storage.size()), &size))
        return std::nullopt;
    Information information{};
    std::memcpy(&information, storage.data(), sizeof information);
    return information;
}

// NtCreateFile relative to `root`; an empty name opens `root`'s own file once more. It allocates
// nothing, so that the clean-up can still run when memory has run out.
std::expected<UniqueHandle, DWORD> nt_open(HANDLE root, std::wstring_view name, const RelativeOpen& how) {
    // Without the translation of its status, a failure could not be told from another: an open
    // without it fails at once, before anything is created, rather than in a clean-up.
    if (!os::RtlNtStatusToDosError.available()) return std::unexpected(DWORD{ERROR_PROC_NOT_FOUND});
    UNICODE_STRING object_name{};
    // The system only reads the name.
    object_name.Buffer = const_cast<wchar_t*>(name.data());
    object_name.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    object_name.MaximumLength = object_name.Length;
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE, root, how.security);
    IO_STATUS_BLOCK status_block{};
    UniqueHandle handle;
    const NTSTATUS status = os::NtCreateFile(
        handle.put(), how.access | SYNCHRONIZE, &attributes, &status_block, nullptr, FILE_ATTRIBUTE_NORMAL, how.share,
        how.disposition,
        how.options | FILE_SYNCHRONOUS_IO_NONALERT | (how.follow_reparse_point ? 0 : FILE_OPEN_REPARSE_POINT), nullptr,
        0);
    if (status < 0) {
        handle.release();  // never set on failure
        // Mapped to "access denied" otherwise, which would hide that waiting helps.
        if (status == STATUS_DELETE_PENDING_VALUE) return std::unexpected(DWORD{ERROR_DELETE_PENDING});
        return std::unexpected(os::RtlNtStatusToDosError(status));
    }
    return handle;
}

}  // namespace

std::expected<UniqueHandle, DWORD> open_in_directory(HANDLE directory, std::wstring_view name,
                                                     const RelativeOpen& how) {
    // A name, not a path: nothing but the held directory may be walked through.
    if (name.empty() || name.find_first_of(L"\\/") != std::wstring_view::npos || name == L"." || name == L"..")
        return std::unexpected(DWORD{ERROR_INVALID_NAME});
    return nt_open(directory, name, how);
}

std::expected<UniqueHandle, DWORD> reopen(HANDLE handle, const RelativeOpen& how) {
    RelativeOpen again = how;
    again.disposition = FILE_OPEN;
    again.security = nullptr;
    return nt_open(handle, {}, again);
}

DWORD delete_through_handle(HANDLE handle) noexcept {
    FILE_DISPOSITION_INFO_EX extended{DISPOSITION_EX_FLAGS};
    if (os::SetFileInformationByHandle(handle, FILE_DISPOSITION_INFO_EX_CLASS, &extended, sizeof extended))
        return ERROR_SUCCESS;

    // Windows 10 before 1809 (and Wine) lack the extended class: the classic disposition, after
    // clearing a read-only attribute, which it does not ignore.
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (os::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition))
        return ERROR_SUCCESS;
    const DWORD refused = os::GetLastError();
    const std::optional<FileFacts> facts = file_facts(handle);
    if (!facts || (facts->attributes & FILE_ATTRIBUTE_READONLY) == 0) return refused;
    FILE_BASIC_INFO basic{};  // zero times: leave them as they are
    basic.FileAttributes = facts->attributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
    // Zero would mean "no change"; NORMAL is the attribute set with nothing in it.
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (os::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) &&
        os::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition))
        return ERROR_SUCCESS;
    return os::GetLastError();
}

DWORD visit_entries(HANDLE listing, std::wstring_view mask,
                    const std::function<void(std::wstring_view name, DWORD attributes)>& visit) {
    UNICODE_STRING pattern{};
    // The system only reads the mask.
    pattern.Buffer = const_cast<wchar_t*>(mask.data());
    pattern.Length = static_cast<USHORT>(mask.size() * sizeof(wchar_t));
    pattern.MaximumLength = pattern.Length;
    alignas(FILE_DIRECTORY_INFORMATION) std::byte buffer[16 * 1024];
    // The mask counts on the first call of a handle only, and stays with it for the later ones.
    for (bool first = true;; first = false) {
        IO_STATUS_BLOCK status_block{};
        const NTSTATUS status =
            os::NtQueryDirectoryFile(listing, nullptr, nullptr, nullptr, &status_block, buffer, sizeof buffer,
                                     FileDirectoryInformation, FALSE, first ? &pattern : nullptr, first ? TRUE : FALSE);
        // No name matches at all (the first call), or every one has been handed over.
        if (status == STATUS_NO_MORE_FILES_VALUE || (first && status == STATUS_NO_SUCH_FILE_VALUE))
            return ERROR_SUCCESS;
        if (status < 0) return os::RtlNtStatusToDosError(status);
        for (std::size_t offset = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_DIRECTORY_INFORMATION*>(buffer + offset);
            visit(std::wstring_view(entry->FileName, entry->FileNameLength / sizeof(wchar_t)), entry->FileAttributes);
            if (entry->NextEntryOffset == 0) break;
            offset += entry->NextEntryOffset;
        }
    }
}

bool is_remote_volume(HANDLE handle) {
    FILE_FS_DEVICE_INFORMATION device{};
    IO_STATUS_BLOCK status_block{};
    return os::NtQueryVolumeInformationFile(handle, &status_block, &device, sizeof device, FileFsDeviceInformation) >=
               0 &&
           (device.Characteristics & FILE_REMOTE_DEVICE_CHARACTERISTIC) != 0;
}

bool is_elevated() {
    UniqueHandle token;
    if (!os::OpenProcessToken(os::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    std::vector<std::byte> storage;
    const std::optional<TOKEN_ELEVATION> elevation =
        token_information<TOKEN_ELEVATION>(token.get(), TokenElevation, storage);
    return elevation && elevation->TokenIsElevated != 0;
}

std::expected<UniqueSecurityDescriptor, DWORD> private_directory_security(bool remote) {
    // The token's user and groups are the same for the whole life of the process: read once they
    // are read at all, and read again after a failure, which then reports its own error.
    struct Token {
        bool administrator = false;
        std::wstring user;
    };
    static std::optional<Token> token;
    if (!token) {
        // By group, not by elevation: an elevated token outside the Administrators (a backup
        // operator, say) would otherwise be named nowhere in the list and could not reopen its own
        // files. An administrator's filtered token holds the group for denial only, which does not
        // count here.
        BYTE administrators[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof administrators;
        BOOL member = FALSE;
        UniqueHandle handle;
        std::vector<std::byte> storage;
        if (!os::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) ||
            !os::CheckTokenMembership(nullptr, administrators, &member) ||
            !os::OpenProcessToken(os::GetCurrentProcess(), TOKEN_QUERY, handle.put()))
            return std::unexpected(os::GetLastError());
        const std::optional<TOKEN_USER> user = token_information<TOKEN_USER>(handle.get(), TokenUser, storage);
        wchar_t* sid_text = nullptr;
        if (!user || !os::ConvertSidToStringSidW(user->User.Sid, &sid_text)) return std::unexpected(os::GetLastError());
        token = Token{member != FALSE, sid_text};
        os::LocalFree(sid_text);
    }

    std::wstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    if (!token->administrator || remote) sddl += L"(A;OICI;FA;;;" + token->user + L")";
    UniqueSecurityDescriptor descriptor;
    if (!os::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor.put(),
                                                                  nullptr))
        return std::unexpected(os::GetLastError());
    return descriptor;
}

}  // namespace mirel
