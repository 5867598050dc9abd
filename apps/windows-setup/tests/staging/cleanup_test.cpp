// Destroying a staging directory: the held handles go, the staged files and the directory follow.

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "staging/staging.hpp"
#include "staging/staging_name.hpp"
#include "staging_test_support.hpp"

namespace mirel::staging_test {
namespace {

using StagingCleanUp = StagingFixture;

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
    ~LateReader() {
        for (std::thread& thread : threads_) thread.join();
    }

private:
    std::vector<std::thread> threads_;
};

TEST_F(StagingCleanUp, RemovesTheStagedFilesAndTheDirectory) {
    constexpr DWORD ALL_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    LateReader reader;
    const struct {
        const char* name;
        std::function<void(StagingDirectory& staging)> fill;
    } cases[] = {
        {"nothing staged", [](StagingDirectory&) {}},
        {"both packages",
         [](StagingDirectory& staging) {
             ASSERT_TRUE(write_payload(staging, "en.msi", make_payload(40'000, 1)));
             ASSERT_TRUE(write_payload(staging, "tr.msi", make_payload(40'000, 2)));
         }},
        {"a failed write",
         [](StagingDirectory& staging) {
             ASSERT_TRUE(write_payload(staging, "en.msi", make_payload(40'000, 1)));
             ASSERT_TRUE(write_file(staging.path() + "\\tr.msi", make_payload(100, 9)));
             Result<std::string> failed = write_payload(staging, "tr.msi", make_payload(40'000, 2));
             ASSERT_FALSE(failed);
             EXPECT_EQ(failed.error().text(), "installer_payload_locked");
         }},
        // One file written and held by staging, then marked read-only (attributes are not guarded by
        // the sharing mode); one placed there read-only from the start, whose plain deletion really is
        // refused, so that the fallback is what removes them.
        {"read-only files",
         [](StagingDirectory& staging) {
             const std::string path = staging.path();
             ASSERT_TRUE(write_payload(staging, "en.msi", make_payload(40'000, 1)));
             ASSERT_TRUE(::SetFileAttributesW(to_wide(path + "\\en.msi").c_str(), FILE_ATTRIBUTE_READONLY));
             ASSERT_TRUE(write_file(path + "\\webview.exe", make_payload(600, 4), FILE_ATTRIBUTE_READONLY));
             ASSERT_FALSE(::DeleteFileW(to_wide(path + "\\webview.exe").c_str()));
             ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
         }},
        // Deleted while another handle is open, a name stays until that handle closes wherever
        // deletion is classic (Wine among them), and the directory cannot go before it.
        {"a scanner reading the packages past their deletion",
         [&](StagingDirectory& staging) {
             ASSERT_TRUE(write_payload(staging, "en.msi", make_payload(40'000, 1)));
             ASSERT_TRUE(write_payload(staging, "tr.msi", make_payload(40'000, 2)));
             ASSERT_TRUE(reader.hold(staging.path() + "\\en.msi", ALL_SHARING, 300));
             ASSERT_TRUE(reader.hold(staging.path() + "\\tr.msi", ALL_SHARING, 600));
         }},
        {"a scanner mapping a package, which makes its deletion refused as access denied",
         [&](StagingDirectory& staging) {
             ASSERT_TRUE(write_payload(staging, "en.msi", make_payload(40'000, 1)));
             ASSERT_TRUE(reader.map(staging.path() + "\\en.msi", 300));
         }},
        // Opened the usual way (reading, no delete sharing), which the held directory lets in, and
        // kept open into the clean-up, which has to wait for it.
        {"a file manager with the directories open",
         [&](StagingDirectory& staging) {
             ASSERT_TRUE(write_payload(staging, "en.msi", make_payload(40'000, 1)));
             ASSERT_TRUE(reader.hold(staging.path(), FILE_SHARE_READ | FILE_SHARE_WRITE, 400));
             ASSERT_TRUE(reader.hold(temp_, FILE_SHARE_READ | FILE_SHARE_WRITE, 400));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path;
        {
            Result<StagingDirectory> staging = create_staging_directory();
            ASSERT_TRUE(staging);
            path = staging->path();
            c.fill(*staging);
        }
        EXPECT_FALSE(exists(path));
    }
}

// A run ended from outside leaves its directories; the next staging directory made in the same
// temporary directory takes away those whose process has gone, and nothing else.
TEST_F(StagingCleanUp, RemovesDirectoriesOfRunsThatEndedWithoutTheirCleanUp) {
    LateReader reader;
    const std::string pid = std::to_string(::GetCurrentProcessId());
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    const std::string live_time =
        decimal_text(*unix_nanoseconds(std::uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime));
    enum class Left { Nothing, Foreign, All };
    const struct {
        const char* why;
        std::string name;
        Left left;
        bool held = false;  // a file still open in the killed run's child for a moment
    } cases[] = {
        {"no such process", "MirelSetup-4294967295-1700000000000000000-0", Left::Nothing},
        {"a child of the run still holds a file", "MirelSetup-4294967295-1700000000000000200-0", Left::Nothing, true},
        {"its id now belongs to a process started later", "MirelSetup-" + pid + "-1700000000000000000-3",
         Left::Nothing},
        {"a file of another name stays, with the directory", "MirelSetup-4294967295-1700000000000000100-0",
         Left::Foreign},
        {"a run that still lives", "MirelSetup-" + pid + "-" + live_time + "-0", Left::All},
        {"not the program's pattern", "MirelSetup-4294967295-01700000000000000000-0", Left::All},
        {"not the program's pattern", "MirelSetup-4294967295-1700000000000000000-0.old", Left::All},
    };
    const std::vector<std::byte> bytes = make_payload(600, 6);
    for (const auto& c : cases) {
        const std::string directory = temp_ + "\\" + c.name;
        ASSERT_TRUE(::CreateDirectoryW(to_wide(directory).c_str(), nullptr)) << c.name;
        for (const std::string_view name : STAGED_FILE_NAMES) {
            ASSERT_TRUE(write_file(directory + "\\" + std::string(name), bytes));
        }
        if (c.left == Left::Foreign) {
            ASSERT_TRUE(write_file(directory + "\\setup.log", bytes));
        }
        if (c.held) {
            ASSERT_TRUE(
                reader.hold(directory + "\\en.msi", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 300));
        }
    }
    std::string own;
    {
        Result<StagingDirectory> staging = create_staging_directory();
        ASSERT_TRUE(staging) << staging.error().text();
        own = staging->path();
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const std::string directory = temp_ + "\\" + c.name;
        switch (c.left) {
            case Left::Nothing: EXPECT_FALSE(exists(directory)); break;
            case Left::Foreign: EXPECT_EQ(list_directory(directory), std::vector<std::string>{"setup.log"}); break;
            case Left::All: EXPECT_EQ(list_directory(directory).size(), STAGED_FILE_NAMES.size()); break;
        }
        remove_tree(directory);
    }
    EXPECT_FALSE(exists(own));
}

TEST_F(StagingCleanUp, TouchesNothingButItsOwnNamesInsideTheDirectory) {
    std::string path;
    const std::vector<std::byte> other = make_payload(700, 5);
    // Files of the staged names beside the directory, where a clean-up by path would find them
    // if the directory's path came to mean another place.
    for (const std::string_view name : STAGED_FILE_NAMES) {
        ASSERT_TRUE(write_file(temp_ + "\\" + std::string(name), other));
    }
    {
        Result<StagingDirectory> staging = create_staging_directory();
        ASSERT_TRUE(staging);
        path = staging->path();
        ASSERT_TRUE(write_payload(*staging, "en.msi", make_payload(40'000, 1)));
        ASSERT_TRUE(write_file(path + "\\setup.log", other));
    }
    EXPECT_FALSE(exists(path + "\\en.msi"));
    EXPECT_EQ(read_file(path + "\\setup.log"), other);
    EXPECT_TRUE(exists(path));
    for (const std::string_view name : STAGED_FILE_NAMES) {
        EXPECT_EQ(read_file(temp_ + "\\" + std::string(name)), other) << name;
    }
    remove_tree(path);
}

// When memory runs out, Windows Installer's handles are closed before the clean-up only if the run
// has loaded msi.dll: loading it then would cost memory that is gone. And a library that the
// program finds already loaded is pinned, so that whoever loaded it cannot unload it under a
// function the program has found in it.
TEST(SystemFunctions, AreLookedUpWithoutLoadingTheirLibraryAndKeepItLoadedOnceFound) {
    constexpr const wchar_t* LIBRARY = L"wtsapi32.dll";
    ASSERT_EQ(::GetModuleHandleW(LIBRARY), nullptr) << "the test process has loaded it already";
    os::Loaded<BOOL WINAPI(ULONG, PHANDLE)> function{LIBRARY, "WTSQueryUserToken", FALSE};
    EXPECT_FALSE(function.available_if_loaded());
    EXPECT_EQ(::GetModuleHandleW(LIBRARY), nullptr);
    const HMODULE loaded = ::LoadLibraryW(LIBRARY);
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(function.available_if_loaded());
    ::FreeLibrary(loaded);
    EXPECT_EQ(::GetModuleHandleW(LIBRARY), loaded);
}

TEST_F(StagingCleanUp, HappensOnceThroughTheLastOwner) {
    Result<StagingDirectory> staging = create_staging_directory();
    ASSERT_TRUE(staging);
    const std::string path = staging->path();
    ASSERT_TRUE(write_payload(*staging, "en.msi", make_payload(40'000, 1)));
    {
        StagingDirectory owner(std::move(*staging));
        staging = fail(ErrorCode::Clock);  // destroys the moved-from object: it must not clean up
        EXPECT_TRUE(exists(path + "\\en.msi"));
        EXPECT_EQ(owner.held_files().size(), 1u);
        EXPECT_EQ(owner.path(), path);
    }
    EXPECT_FALSE(exists(path));
}

// GetTempPathW (under Wine at least) refuses a temporary directory longer than MAX_PATH, but one
// just below it puts the staging directory and its files past it: they are handed out in their
// short form, which Windows Installer and the verifier take, and removed all the same.
TEST_F(StagingCleanUp, HandsOutADeepDirectoryInItsShortFormAndRemovesIt) {
    std::string deep = temp_;
    while (deep.size() < 230) {
        deep += "\\" + std::string(16, 'd');
        ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + to_wide(deep)).c_str(), nullptr)) << ::GetLastError();
    }
    use_temp_directory(deep + "\\");
    std::string path;
    {
        Result<StagingDirectory> staging = create_staging_directory();
        ASSERT_TRUE(staging) << staging.error().text();
        path = staging->path();
        wchar_t long_form[1024];
        ASSERT_NE(::GetLongPathNameW(to_wide(path).c_str(), long_form, 1024), 0u);
        EXPECT_EQ(from_wide(long_form).substr(0, deep.size() + 12), deep + "\\MirelSetup-");
        for (const char* name : {"en.msi", "tr.msi"}) {
            Result<std::string> file = write_payload(*staging, name, make_payload(40'000, 1));
            ASSERT_TRUE(file) << file.error().text();
            EXPECT_EQ(*file, path + "\\" + name);
            EXPECT_LT(file->size(), std::size_t{MAX_PATH});
        }
        EXPECT_LT(path.size() + std::string_view("\\webview.exe").size(), std::size_t{MAX_PATH});
    }
    EXPECT_FALSE(exists(path));
    EXPECT_TRUE(exists(L"\\\\?\\" + to_wide(deep)));
    EXPECT_TRUE(list_directory(deep).empty());
    for (std::string level = deep; level.size() > temp_.size(); level.resize(level.find_last_of('\\')))
        EXPECT_TRUE(::RemoveDirectoryW((L"\\\\?\\" + to_wide(level)).c_str()));
}

}  // namespace
}  // namespace mirel::staging_test
