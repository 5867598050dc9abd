#pragma once

// Small file helpers for the tests that run under Wine.

#include <windows.h>

#include <string>

namespace mirel::test {

std::wstring system_directory();
std::wstring windows_directory();
// The folder of the running test program, without a trailing backslash.
std::wstring own_directory();

// A new empty folder under the temporary directory; removed with its files by `remove_tree`.
std::wstring make_scratch_directory(const wchar_t* tag);
void remove_tree(const std::wstring& directory);

bool file_exists(const std::wstring& path);
// The whole file as bytes; empty when it cannot be read.
std::string read_file(const std::wstring& path);

std::wstring widen(const std::string& utf8);

}  // namespace mirel::test
