#pragma once

// A private temporary directory per test (through TMP, which GetTempPathW reads), payload bytes,
// and small file helpers in UTF-16 for the Wine tests of staging.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

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
