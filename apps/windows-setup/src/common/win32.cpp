#include "common/win32.hpp"

#include <shellapi.h>

#include <cstring>
#include <limits>

#include "common/os_error_text.hpp"
#include "common/path.hpp"
#include "common/unicode.hpp"

namespace mirel {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring to_wide(std::string_view text) {
    const std::u16string wide = utf8_to_utf16(text);
    return std::wstring(wide.begin(), wide.end());
}

std::string from_wide(std::wstring_view text) {
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

Result<std::vector<std::string>> process_arguments() {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** argv = os::CommandLineToArgvW(os::GetCommandLineW(), &count);
    if (argv == nullptr) return fail(last_os_error());
    for (int i = 1; i < count; ++i) arguments.push_back(from_wide(argv[i]));
    os::LocalFree(argv);
    return arguments;
}

std::wstring system_message(DWORD code, HMODULE source) {
    // With a source its table is searched first, then the system's.
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM |
                        (source != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : 0);
    wchar_t* buffer = nullptr;
    const DWORD length = os::FormatMessageW(flags, source, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0) return {};
    std::wstring message(buffer, length);
    os::LocalFree(buffer);
    return message;
}

std::string os_error_text(DWORD code) {
    const std::wstring message = system_message(code);
    if (message.empty()) return format_os_error_fallback(code, os::GetLastError());
    return format_os_error(from_wide(message), code);
}

SetupError os_error(DWORD code) {
    return SetupError::from_os_error(code, os_error_text(code));
}

std::optional<std::wstring> system_directory() {
    return query_string([](wchar_t* buffer, DWORD units) { return os::GetSystemDirectoryW(buffer, units); });
}

std::optional<std::wstring> system_windows_directory() {
    return query_string([](wchar_t* buffer, DWORD units) { return os::GetSystemWindowsDirectoryW(buffer, units); });
}

std::wstring file_system_path(std::string_view path) {
    const std::wstring wide = to_wide(path);
    const std::u16string_view view(reinterpret_cast<const char16_t*>(wide.c_str()), wide.size());
    if (passes_unprefixed(view) || is_device_path(view)) return wide;

    const std::optional<std::wstring> full = query_string(
        [&](wchar_t* buffer, DWORD units) { return os::GetFullPathNameW(wide.c_str(), units, buffer, nullptr); },
        wide.size() + MAX_PATH);
    if (!full) return wide;  // let the file-system call itself report the failure
    const std::u16string prefixed =
        long_path_form(std::u16string_view(reinterpret_cast<const char16_t*>(full->data()), full->size()));
    return std::wstring(prefixed.begin(), prefixed.end());
}

bool write_all(HANDLE file, std::span<const std::byte> bytes) {
    while (!bytes.empty()) {
        const auto request = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), std::numeric_limits<DWORD>::max()));
        DWORD written = 0;
        if (!os::WriteFile(file, bytes.data(), request, &written, nullptr)) return false;
        if (written == 0) {
            os::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        bytes = bytes.subspan(written);
    }
    return true;
}

ReadBack compare_file_with(HANDLE file, std::span<const std::byte> bytes, std::size_t chunk_size) {
    std::vector<std::byte> buffer(chunk_size);
    const ChunkReader read = [file](std::span<std::byte> into) -> std::optional<std::size_t> {
        DWORD count = 0;
        if (!os::ReadFile(file, into.data(), static_cast<DWORD>(into.size()), &count, nullptr)) return std::nullopt;
        return count;
    };
    return compare_read_back(read, bytes, buffer);
}

std::optional<FileFacts> file_facts(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!os::GetFileInformationByHandle(file, &information)) return std::nullopt;
    return FileFacts{(std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow,
                     information.dwFileAttributes, information.nNumberOfLinks};
}

std::optional<FileId> file_identity(HANDLE handle) {
    FILE_ID_INFO id{};
    if (os::GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
        FileId identity{id.VolumeSerialNumber, {}};
        std::memcpy(identity.file.data(), id.FileId.Identifier, identity.file.size());
        return identity;
    }
    const DWORD error = os::GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information{};
    if (!os::GetFileInformationByHandle(handle, &information)) return std::nullopt;
    FileId identity{information.dwVolumeSerialNumber, {}};
    const std::uint64_t index = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
    std::memcpy(identity.file.data(), &index, sizeof index);
    return identity;
}

std::optional<std::wstring> final_path(HANDLE handle) {
    return query_string([handle](wchar_t* buffer, DWORD units) {
        return os::GetFinalPathNameByHandleW(handle, buffer, units, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    });
}

std::expected<std::wstring, DWORD> short_path(const std::wstring& path) {
    std::optional<std::wstring> shortened = query_string(
        [&path](wchar_t* buffer, DWORD units) { return os::GetShortPathNameW(path.c_str(), buffer, units); },
        path.size() + 1);
    if (!shortened) return std::unexpected(os::GetLastError());
    return std::move(*shortened);
}

bool has_attributes(HANDLE file, DWORD required, DWORD forbidden) {
    const std::optional<FileFacts> facts = file_facts(file);
    return facts && (facts->attributes & required) == required && (facts->attributes & forbidden) == 0;
}

Result<HICON> load_setup_icon() {
    HMODULE module = os::GetModuleHandleW(nullptr);
    if (module == nullptr) return fail(ErrorCode::SetupIcon);
    HICON icon = os::LoadIconW(module, MAKEINTRESOURCEW(SETUP_ICON_ID));
    if (icon == nullptr || icon == reinterpret_cast<HICON>(INVALID_HANDLE_VALUE)) return fail(ErrorCode::SetupIcon);
    return icon;
}

}  // namespace mirel
