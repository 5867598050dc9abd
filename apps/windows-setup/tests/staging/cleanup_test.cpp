// Destroying a staging directory: the held handles go, the staged files and the directory follow.

#include <windows.h>

#include <gtest/gtest.h>

#include "staging/staging.hpp"
#include "staging_test_support.hpp"

namespace mirel::staging_test {
namespace {

using StagingCleanUp = StagingFixture;

TEST_F(StagingCleanUp, RemovesTheStagedFilesAndTheDirectory) {
    const struct {
        const char* name;
        void (*fill)(StagingDirectory& staging);
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
// just below it puts the staging directory and its files past the limit of unprefixed paths.
TEST_F(StagingCleanUp, WorksInATemporaryDirectoryBeyondTheShortPathLimit) {
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
        ASSERT_EQ(path.substr(0, deep.size() + 1), deep + "\\");
        ASSERT_GT(path.size(), 260u);  // well past the 248 units that go unprefixed
        ASSERT_TRUE(write_payload(*staging, "en.msi", make_payload(40'000, 1)));
        ASSERT_TRUE(write_payload(*staging, "tr.msi", make_payload(40'000, 2)));
        EXPECT_TRUE(exists(L"\\\\?\\" + to_wide(path) + L"\\tr.msi"));
    }
    EXPECT_FALSE(exists(L"\\\\?\\" + to_wide(path)));
    EXPECT_TRUE(exists(L"\\\\?\\" + to_wide(deep)));
    for (std::string level = deep; level.size() > temp_.size(); level.resize(level.find_last_of('\\')))
        EXPECT_TRUE(::RemoveDirectoryW((L"\\\\?\\" + to_wide(level)).c_str()));
}

}  // namespace
}  // namespace mirel::staging_test
