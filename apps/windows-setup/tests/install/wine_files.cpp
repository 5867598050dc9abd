#include "wine_files.hpp"

#include <vector>

namespace mirel::test {

std::wstring system_directory() {
    wchar_t buffer[MAX_PATH + 1];
    return std::wstring(buffer, ::GetSystemDirectoryW(buffer, MAX_PATH + 1));
}

std::wstring windows_directory() {
    wchar_t buffer[MAX_PATH + 1];
    return std::wstring(buffer, ::GetWindowsDirectoryW(buffer, MAX_PATH + 1));
}

std::wstring own_directory() {
    std::vector<wchar_t> buffer(32768);
    std::wstring path(buffer.data(), ::GetModuleFileNameW(nullptr, buffer.data(), 32768));
    return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring make_scratch_directory(const wchar_t* tag) {
    wchar_t temp[MAX_PATH + 1];
    const std::wstring base(temp, ::GetTempPathW(MAX_PATH + 1, temp));
    for (unsigned attempt = 0;; ++attempt) {
        const std::wstring path = base + L"mirel-" + tag + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(attempt);
        if (::CreateDirectoryW(path.c_str(), nullptr)) return path;
    }
}

void remove_tree(const std::wstring& directory) {
    WIN32_FIND_DATAW entry;
    const HANDLE find = ::FindFirstFileW((directory + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = directory + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(path);
            } else {
                ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(find, &entry));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(directory.c_str());
}

bool file_exists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string read_file(const std::wstring& path) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) bytes.append(chunk, read);
    ::CloseHandle(file);
    return bytes;
}

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}

}  // namespace mirel::test
