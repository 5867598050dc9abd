#include "wine_test_support.hpp"

#include <gtest/gtest.h>

#include <atomic>

namespace mirel::wine_test {

std::wstring windows_path(std::string_view linux_path) {
    std::wstring path = L"Z:" + test_driver::widen(linux_path);
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    return path;
}

std::wstring setup_program() {
    wchar_t value[4096];
    const DWORD length = ::GetEnvironmentVariableW(L"MIREL_SETUP_PROGRAM", value, 4096);
    if (length > 0 && length < 4096) return std::wstring(value, length);
    return windows_path(MIREL_SETUP_PROGRAM);
}

std::wstring built_program(std::wstring_view file_name) {
    return windows_path(MIREL_PROGRAM_DIR) + L"\\" + std::wstring(file_name);
}

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    wchar_t base[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
    std::wstring root(base, length);
    if (!root.empty() && root.back() != L'\\') root.push_back(L'\\');
    for (;;) {
        path_ = root + L"mirel-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(::GetTickCount64()) + L"-" + std::to_wstring(counter++);
        if (::CreateDirectoryW(path_.c_str(), nullptr)) return;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create a temporary directory, error " << ::GetLastError();
            return;
        }
    }
}

TempDir::~TempDir() {
    if (!remove_tree(path_)) ADD_FAILURE() << "the test left " << test_driver::narrow(path_) << " behind";
}

std::vector<std::wstring> TempDir::entries() const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((path_ + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

bool remove_tree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(child);
            } else {
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    return ::RemoveDirectoryW(path.c_str()) || ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

Environment temp_environment(const std::wstring& directory) {
    return {{L"TMP", directory}, {L"TEMP", directory}};
}

std::unique_ptr<test_driver::Process> start_setup(std::vector<std::wstring> arguments, Environment environment,
                                                  bool capture_standard_error, std::wstring program) {
    test_driver::LaunchRequest request;
    request.program = program.empty() ? setup_program() : std::move(program);
    request.arguments = std::move(arguments);
    request.environment = std::move(environment);
    request.capture_standard_error = capture_standard_error;
    auto [process, error] = test_driver::Process::start(request);
    if (!process) ADD_FAILURE() << "cannot start " << test_driver::narrow(request.program) << ": " << error;
    return std::move(process);
}

}  // namespace mirel::wine_test
