#pragma once

// A private temporary directory per test (through TMP, which GetTempPathW reads), payload bytes,
// and small file helpers in UTF-16 for the Wine tests of staging.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/run_log.hpp"
#include "common/win32.hpp"
#include "staging/staging.hpp"
#include "wine_files.hpp"

namespace mirel::staging_test {

// Signature, then bytes that differ from one position to the next.
inline std::vector<std::byte> make_payload(std::size_t size, unsigned seed = 1) {
    std::vector<std::byte> bytes(size);
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<std::byte>(state >> 24);
    }
    for (std::size_t i = 0; i < COMPOUND_FILE_SIGNATURE.size() && i < size; ++i) bytes[i] = COMPOUND_FILE_SIGNATURE[i];
    return bytes;
}

using wine_test::exists;
inline bool exists(const std::string& path) {
    return exists(to_wide(path));
}

inline std::optional<std::vector<std::byte>> read_file(const std::string& path) {
    UniqueHandle file(::CreateFileW(to_wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!file) return std::nullopt;
    std::vector<std::byte> bytes;
    std::byte chunk[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0)
        bytes.insert(bytes.end(), chunk, chunk + read);
    return bytes;
}

inline bool write_file(const std::string& path, std::span<const std::byte> bytes, DWORD attributes = 0) {
    UniqueHandle file(
        ::CreateFileW(to_wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// Names in `directory` matching `pattern`, "." and ".." left out.
inline std::vector<std::string> list_directory(const std::string& directory, const char* pattern = "*") {
    std::vector<std::string> names;
    for (const std::wstring& name : wine_test::entries(to_wide(directory), to_wide(pattern))) {
        names.push_back(from_wide(name));
    }
    return names;
}

// Removes a tree, read-only files included; the test's own debris only.
inline void remove_tree(const std::string& directory) {
    wine_test::remove_tree(to_wide(directory));
}

inline std::string current_temp_path() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    return from_wide(std::wstring_view(buffer, length));
}

// What a scanner, an indexer or a file manager does: opens a file or a folder the usual way and
// lets go a while later, here well into the clean-up. Sharing checks and deletions that wait for
// the last handle are the same whichever process holds it.
class LateReader {
public:
    // False when the open was refused.
    bool hold(const std::string& path, DWORD share, DWORD milliseconds) {
        HANDLE handle = ::CreateFileW(to_wide(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return false;
        threads_.emplace_back([handle, milliseconds] {
            ::Sleep(milliseconds);
            ::CloseHandle(handle);
        });
        return true;
    }
    // Maps the file into memory, as a scanner may: the system then refuses its deletion (access
    // denied) until the view is gone.
    bool map(const std::string& path, DWORD milliseconds) {
        const UniqueHandle file(::CreateFileW(to_wide(path).c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
        const UniqueHandle mapping(file ? ::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr)
                                        : nullptr);
        void* view = mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr;
        if (view == nullptr) return false;
        threads_.emplace_back([view, milliseconds] {
            ::Sleep(milliseconds);
            ::UnmapViewOfFile(view);
        });
        return true;
    }
    // The same from another process, as an endpoint agent does: true once it has the file open.
    bool hold_elsewhere(const std::string& path, DWORD share, DWORD milliseconds) {
        wine_test::LaunchRequest request;
        request.program = wine_test::own_directory() + L"\\staging_hostile.exe";
        request.arguments = {L"--hold", to_wide(path), std::to_wstring(share), std::to_wstring(milliseconds)};
        request.capture_standard_output = true;
        std::unique_ptr<wine_test::Process> agent = wine_test::start_process(request);
        if (!agent) return false;
        // It has the file open once it says so; it says nothing if it cannot open it.
        while (agent->standard_output().empty() && !agent->has_exited()) ::Sleep(10);
        const bool held = agent->standard_output().starts_with("held");
        agents_.push_back(std::move(agent));
        return held;
    }
    ~LateReader() {
        for (std::thread& thread : threads_) thread.join();
        for (const auto& agent : agents_) agent->wait_for_exit(60'000);
    }

private:
    std::vector<std::thread> threads_;
    std::vector<std::unique_ptr<wine_test::Process>> agents_;
};

// The run's log lines ("topic: text") for as long as it exists.
class LogCapture {
public:
    LogCapture() {
        lines().clear();
        set_run_log_sink([](std::string_view topic, std::string_view text) {
            lines().push_back(std::string(topic) + ": " + std::string(text));
        });
    }
    ~LogCapture() { set_run_log_sink(nullptr); }
    static std::vector<std::string>& lines() {
        static std::vector<std::string> captured;
        return captured;
    }
};

// Each test gets an empty temporary directory of its own. Afterwards, pass or fail, no staging
// directory may be left in it.
class StagingFixture : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        original_tmp_ = wine_test::environment_variable(L"TMP");
        original_temp_ = wine_test::environment_variable(L"TEMP");
        temp_ = current_temp_path() + "staging-tests-" + std::to_string(::GetCurrentProcessId()) + "-" +
                std::to_string(counter++);
        ASSERT_TRUE(::CreateDirectoryW(to_wide(temp_).c_str(), nullptr)) << ::GetLastError();
        use_temp_directory(temp_ + "\\");
        ASSERT_EQ(current_temp_path(), temp_ + "\\");
    }

    void TearDown() override {
        for (const std::string& name : list_directory(temp_, "MirelSetup-*")) ADD_FAILURE() << "left behind: " << name;
        remove_tree(temp_);
        restore(L"TMP", original_tmp_);
        restore(L"TEMP", original_temp_);
    }

    static void use_temp_directory(const std::string& path) {
        ::SetEnvironmentVariableW(L"TMP", to_wide(path).c_str());
        ::SetEnvironmentVariableW(L"TEMP", to_wide(path).c_str());
    }

    std::string temp_;  // no trailing separator

private:
    static void restore(const wchar_t* name, const std::optional<std::wstring>& value) {
        ::SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
    }

    std::optional<std::wstring> original_tmp_;
    std::optional<std::wstring> original_temp_;
};

}  // namespace mirel::staging_test
