#pragma once

// File, folder and process helpers for the tests that run under Wine. Paths are Windows paths.

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "process.hpp"

namespace mirel::wine_test {

// Starts the program; fails the calling test, naming the operating system's error, and returns
// null when it cannot.
std::unique_ptr<Process> start_process(const LaunchRequest& request);

// A Linux path ("/a/b", as the build knows it) as Wine's Z: drive shows it ("Z:\a\b").
std::wstring windows_path(std::string_view linux_path);

std::wstring system_directory();
std::wstring windows_directory();
// The folder of the running program, without a trailing backslash.
std::wstring own_directory();

// True when a file or a directory is there.
bool exists(const std::wstring& path);
// The whole file, empty when it cannot be read; a writer may still hold it open.
std::string read_file(const std::wstring& path);
// The whole file once it holds `part`, or what it holds (perhaps nothing) after `timeout_ms`: for
// a record that another process may still be writing.
std::string read_file_holding(const std::wstring& path, std::string_view part, DWORD timeout_ms);
// Two paths of one file as the file system compares them: without regard to case.
bool same_path(std::wstring_view a, std::wstring_view b);
// The names in the directory that match the pattern, sorted, "." and ".." left out.
std::vector<std::wstring> entries(const std::wstring& directory, std::wstring_view pattern = L"*");
// Removes a directory tree, read-only files included; false when something stayed.
bool remove_tree(const std::wstring& path);
// A new `file` holding `bytes`, and each of `names` as another name for it (a hard link); false when
// one cannot be made.
bool make_hard_links(const std::wstring& file, std::string_view bytes, const std::vector<std::wstring>& names);

// A link at `link` to the existing directory `target`, and its removal (the link alone): under Wine,
// which makes no reparse points, a Unix symbolic link is the nearest thing to a junction or a
// profile container's link.
bool make_directory_link(const std::wstring& link, const std::wstring& target);
bool remove_directory_link(const std::wstring& link);

// A new, empty directory "mirel-<tag>-..." under the prefix's temporary directory; fails the
// calling test when none can be made.
std::wstring make_temp_directory(std::wstring_view tag);

// A directory of `make_temp_directory`, removed with everything in it when the object goes; the
// test fails when something stays.
class TempDir {
public:
    explicit TempDir(std::wstring_view tag = L"test") : path_(make_temp_directory(tag)) {}
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const noexcept { return path_; }
    std::wstring child(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }
    std::vector<std::wstring> entries() const { return wine_test::entries(path_); }

private:
    std::wstring path_;
};

}  // namespace mirel::wine_test
