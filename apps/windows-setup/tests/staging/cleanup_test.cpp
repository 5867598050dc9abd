// Destroying a staging directory: the held handles go, the staged files and the directory follow.

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "staging/staging.hpp"
#include "staging/staging_internal.hpp"
#include "staging/staging_name.hpp"
#include "staging_test_support.hpp"

namespace mirel::staging_test {
namespace {

using StagingCleanUp = StagingFixture;

constexpr const wchar_t* SESSION_MANAGER = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* PENDING_OPERATIONS = L"PendingFileRenameOperations";

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
        // An endpoint agent hashing a new package for seconds, without sharing its deletion: the
        // clean-up waits it out within the run.
        {"an agent in another process holding a package for 5 seconds",
         [&](StagingDirectory& staging) {
             ASSERT_TRUE(write_payload(staging, "en.msi", make_payload(40'000, 1)));
             ASSERT_TRUE(reader.hold_elsewhere(staging.path() + "\\en.msi", FILE_SHARE_READ, 5000));
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
        // A staged file still open in another process for a moment, shared so: the killed run's child
        // shares its deletion, an agent does not.
        std::optional<DWORD> held = {};
    } cases[] = {
        {"no such process", "MirelSetup-4294967295-1700000000000000000-0", Left::Nothing},
        {"a child of the run still holds a file", "MirelSetup-4294967295-1700000000000000200-0", Left::Nothing,
         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
        {"its id now belongs to a process started later", "MirelSetup-" + pid + "-1700000000000000000-3",
         Left::Nothing},
        {"a file of another name stays, with the directory", "MirelSetup-4294967295-1700000000000000100-0",
         Left::Foreign},
        {"a held staged name is waited for, a file of another name is not",
         "MirelSetup-4294967295-1700000000000000300-0", Left::Foreign, FILE_SHARE_READ},
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
            ASSERT_TRUE(reader.hold_elsewhere(directory + "\\en.msi", *c.held, 1000));
        }
    }
    std::string own;
    {
        const LogCapture log;
        Result<StagingDirectory> staging = create_staging_directory();
        ASSERT_TRUE(staging) << staging.error().text();
        own = staging->path();
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const std::string directory = temp_ + "\\" + c.name;
        // Left at once: the wait is for other processes, which a file of another name is not.
        const auto left_line =
            std::ranges::find(LogCapture::lines(),
                              "earlier runs: left " + directory + ": os error " + std::to_string(ERROR_DIR_NOT_EMPTY));
        switch (c.left) {
            case Left::Nothing: EXPECT_FALSE(exists(directory)); break;
            case Left::Foreign:
                EXPECT_EQ(list_directory(directory), std::vector<std::string>{"setup.log"});
                EXPECT_NE(left_line, LogCapture::lines().end());
                break;
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

// The system's list of deletions at the next restart, as the registry holds it (a REG_MULTI_SZ of
// "\??\path" and empty targets); none when there is no list.
std::optional<std::wstring> pending_deletions() {
    std::vector<wchar_t> data(65536);
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, SESSION_MANAGER, PENDING_OPERATIONS, RRF_RT_REG_MULTI_SZ, nullptr,
                       data.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(data.data(), size / sizeof(wchar_t));
}

// Past its wait, an elevated run leaves what another process still holds to the system, the staged
// file first, then the directory. Wine's token is always elevated, and Wine deletes them at the
// prefix's next start: the test takes its entries out again, so that nothing of it is done then.
TEST_F(StagingCleanUp, LeavesWhatIsHeldPastItsWaitToTheNextRestartInAnElevatedRun) {
    if (!is_elevated()) GTEST_SKIP() << "only an elevated run may schedule deletions";
    const std::optional<std::wstring> before = pending_deletions();
    std::string path;
    {
        LateReader agent;
        Result<StagingDirectory> staging = create_staging_directory();
        ASSERT_TRUE(staging);
        path = staging->path();
        ASSERT_TRUE(write_payload(*staging, "en.msi", make_payload(40'000, 1)));
        ASSERT_TRUE(agent.hold_elsewhere(path + "\\en.msi", FILE_SHARE_READ, 2000));
        const LogCapture log;
        staging_internal::clean_up_within(*staging, 300);
        EXPECT_TRUE(exists(path + "\\en.msi"));
        EXPECT_NE(std::ranges::find(LogCapture::lines(), "clean-up: " + path + " is to be deleted at the next restart"),
                  LogCapture::lines().end());
    }
    const std::optional<std::wstring> after = pending_deletions();
    if (before) {
        ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, SESSION_MANAGER, PENDING_OPERATIONS, REG_MULTI_SZ, before->data(),
                          static_cast<DWORD>(before->size() * sizeof(wchar_t)));
    } else {
        ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, SESSION_MANAGER, PENDING_OPERATIONS);
    }
    const std::wstring directory = L"\\??\\" + to_wide(path);
    ASSERT_TRUE(after);
    EXPECT_NE(after->find(directory + L"\\en.msi" + L'\0' + L'\0' + directory + L'\0' + L'\0'), std::wstring::npos);
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
