// What holding a staged file guarantees against other processes, and the read-back comparison.

#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "common/held_files.hpp"
#include "common/run_log_file.hpp"
#include "staging/staging.hpp"
#include "staging/staging_internal.hpp"
#include "staging_test_support.hpp"

namespace mirel::staging_test {
namespace {

struct Tally {
    long attempts = 0;
    long successes = 0;
    unsigned long last_error = 0;
};

// attack -> target -> tally, as the hostile process counted them.
using Report = std::map<std::string, std::map<std::string, Tally>>;

// Runs the hostile process against `file` for `rounds` rounds and collects its report.
Report run_hostile(const std::string& file, int rounds) {
    wine_test::LaunchRequest request;
    request.program = wine_test::own_directory() + L"\\staging_hostile.exe";
    request.arguments = {to_wide(file), std::to_wstring(rounds)};
    request.capture_standard_output = true;
    const auto hostile = wine_test::start_process(request);
    if (!hostile) return {};
    const std::optional<std::uint32_t> exit_code = hostile->wait_for_exit(120'000);
    const std::string output = hostile->standard_output();
    EXPECT_EQ(exit_code, std::optional<std::uint32_t>(0)) << output;

    Report report;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream fields(line);
        std::string attack, target;
        Tally tally;
        std::getline(fields, attack, '\t');
        std::getline(fields, target, '\t');
        fields >> tally.attempts >> tally.successes >> tally.last_error;
        report[attack][target] = tally;
    }
    return report;
}

// The directories above `file` that the hostile process attacks: all but the volume root.
std::vector<std::string> attackable_directories(const std::string& file) {
    std::vector<std::string> directories;
    for (std::string path = file;;) {
        const std::size_t separator = path.find_last_of('\\');
        if (separator == std::string::npos || separator <= 2) break;
        path.resize(separator);
        directories.push_back(path);
    }
    return directories;
}

DWORD handle_count() {
    DWORD count = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &count);
    return count;
}

using HeldPackage = StagingFixture;

TEST_F(HeldPackage, CannotBeWrittenDeletedOrMovedByAnotherProcessButCanBeRead) {
    Result<StagingDirectory> staging = create_staging_directory();
    ASSERT_TRUE(staging);
    const std::vector<std::byte> bytes = make_payload(50'000);
    Result<std::string> file = write_payload(*staging, "en.msi", bytes);
    ASSERT_TRUE(file);

    const Report report = run_hostile(*file, 1);
    for (const char* attack : {"open_write", "open_delete", "delete_file", "move_file"}) {
        ASSERT_TRUE(report.contains(attack) && report.at(attack).contains(*file)) << attack;
        const Tally& tally = report.at(attack).at(*file);
        EXPECT_EQ(tally.attempts, 1) << attack;
        EXPECT_EQ(tally.successes, 0) << attack;
        EXPECT_EQ(tally.last_error, ERROR_SHARING_VIOLATION) << attack;
    }
    const std::vector<std::string> directories = attackable_directories(*file);
    ASSERT_GE(directories.size(), 4u);  // C:\users\<user>\Temp\<test>\<staging>
    for (const std::string& directory : directories) {
        for (const char* attack : {"move_directory", "remove_directory"}) {
            ASSERT_TRUE(report.contains(attack) && report.at(attack).contains(directory)) << attack << directory;
            const Tally& tally = report.at(attack).at(directory);
            EXPECT_EQ(tally.successes, 0) << attack << " " << directory;
            EXPECT_NE(tally.last_error, 0u) << attack << " " << directory;
        }
        EXPECT_EQ(report.at("move_directory").at(directory).last_error, ERROR_SHARING_VIOLATION) << directory;
    }
    EXPECT_EQ(report.at("read").at(*file).successes, 1);
    EXPECT_EQ(read_file(*file), bytes);
}

TEST_F(HeldPackage, WithstandsAHostileProcessForItsWholeLife) {
    constexpr int ROUNDS = 300;
    std::string directory;
    std::string file;
    const std::vector<std::byte> bytes = make_payload(200'000);
    Report report;
    {
        Result<StagingDirectory> staging = create_staging_directory();
        ASSERT_TRUE(staging);
        directory = staging->path();
        Result<std::string> written = write_payload(*staging, "en.msi", bytes);
        ASSERT_TRUE(written);
        file = *written;
        // The staging directory lives until the attacker has finished all its rounds.
        report = run_hostile(file, ROUNDS);
        EXPECT_EQ(read_file(file), bytes);
    }
    long attempts = 0;
    long successes = 0;
    for (const auto& [attack, targets] : report) {
        if (attack == "read") continue;
        for (const auto& [target, tally] : targets) {
            EXPECT_EQ(tally.attempts, ROUNDS) << attack << " " << target;
            EXPECT_EQ(tally.successes, 0) << attack << " " << target;
            attempts += tally.attempts;
            successes += tally.successes;
        }
    }
    const long expected = ROUNDS * (4 + 2 * static_cast<long>(attackable_directories(file).size()));
    EXPECT_EQ(attempts, expected);
    EXPECT_EQ(successes, 0);
    EXPECT_EQ(report["read"][file].successes, ROUNDS);
    std::printf("hostile process: %ld attempts, %ld successes, %ld reads\n", attempts, successes,
                report["read"][file].successes);
    EXPECT_FALSE(exists(directory));
}

using FileReadBack = StagingFixture;

constexpr std::size_t COMPARED_SIZE = 3 * 32768 + 100;

// Writes `on_disk` by hand and compares it with `expected` through a fresh handle.
ReadBack compare(const std::string& path, const std::vector<std::byte>& on_disk,
                 const std::vector<std::byte>& expected) {
    EXPECT_TRUE(write_file(path, on_disk));
    UniqueHandle file(
        ::CreateFileW(to_wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(file);
    return compare_file_with(file.get(), expected, VERIFY_CHUNK_SIZE);
}

TEST_F(FileReadBack, AcceptsOnlyTheSameBytes) {
    const std::vector<std::byte> payload = make_payload(COMPARED_SIZE);
    const std::string path = temp_ + "\\compared.msi";
    EXPECT_EQ(compare(path, payload, payload), ReadBack::Same);

    for (const std::size_t position : {std::size_t{0}, std::size_t{32767}, std::size_t{32768}, COMPARED_SIZE - 1}) {
        std::vector<std::byte> changed = payload;
        changed[position] ^= std::byte{0x01};
        EXPECT_EQ(compare(path, changed, payload), ReadBack::Different) << position;
    }
    const std::vector<std::vector<std::byte>> wrong_sizes = {
        std::vector<std::byte>(payload.begin(), payload.end() - 1),        // a short read
        std::vector<std::byte>(payload.begin(), payload.begin() + 32768),  // ends on a chunk boundary
        {},
        [&] {
            auto longer = payload;
            longer.push_back(std::byte{0});
            return longer;
        }(),
    };
    for (const std::vector<std::byte>& on_disk : wrong_sizes) {
        EXPECT_EQ(compare(path, on_disk, payload), ReadBack::Different) << on_disk.size();
    }
}

TEST_F(FileReadBack, ReleasesTheProtectionOfAFileThatDiffers) {
    const std::vector<std::byte> payload = make_payload(COMPARED_SIZE);
    Result<StagingDirectory> staging = create_staging_directory();
    ASSERT_TRUE(staging);
    const std::string path = staging->path() + "\\en.msi";
    std::vector<std::byte> other_byte = payload;
    other_byte[COMPARED_SIZE / 2] ^= std::byte{0x80};
    const std::vector<std::byte> shorter(payload.begin(), payload.end() - 512);

    for (const std::vector<std::byte>* on_disk : {static_cast<const std::vector<std::byte>*>(&other_byte), &shorter}) {
        ASSERT_TRUE(write_file(path, *on_disk));
        const DWORD handles_before = handle_count();
        Result<ProtectedFile> held = protect_file(*staging, "en.msi");
        ASSERT_TRUE(held);
        staging->hold_file(std::move(*held));
        const Status verified = staging_internal::verify_last_held_file(*staging, payload);
        ASSERT_FALSE(verified);
        EXPECT_EQ(verified.error().text(), "installer_payload_changed");
        // Nothing of the record stays open: the file can be opened exclusively again.
        EXPECT_TRUE(staging->held_files().empty());
        EXPECT_EQ(handle_count(), handles_before);
        EXPECT_TRUE(
            UniqueHandle(::CreateFileW(to_wide(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)));
    }

    ASSERT_TRUE(write_file(path, payload));
    Result<ProtectedFile> held = protect_file(*staging, "en.msi");
    ASSERT_TRUE(held);
    staging->hold_file(std::move(*held));
    ASSERT_TRUE(staging_internal::verify_last_held_file(*staging, payload));
    EXPECT_EQ(staging->held_files().size(), 1u);
    EXPECT_FALSE(
        UniqueHandle(::CreateFileW(to_wide(path).c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr)));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

using ProtectFile = StagingFixture;

TEST_F(ProtectFile, RefusesWhatItCannotHoldAndKeepsNothingOpen) {
    Result<StagingDirectory> staging = create_staging_directory();
    ASSERT_TRUE(staging);
    const std::string file = staging->path() + "\\en.msi";
    ASSERT_TRUE(write_file(file, make_payload(600)));
    ASSERT_TRUE(::CreateDirectoryW(to_wide(staging->path() + "\\tr.msi").c_str(), nullptr));
    const std::string own_name = staging->path().substr(staging->path().find_last_of('\\') + 1);
    const DWORD handles_before = handle_count();
    for (const std::string& name : {std::string("missing.msi"), std::string("tr.msi"), std::string(""),
                                    std::string(".."), "..\\" + own_name + "\\en.msi", file}) {
        Result<ProtectedFile> held = protect_file(*staging, name);
        ASSERT_FALSE(held) << name;
        EXPECT_EQ(held.error().text(), "file_protection_failed") << name;
    }
    // A writer that is still open when the wait for it ends keeps the file from being held.
    {
        UniqueHandle writer(
            ::CreateFileW(to_wide(file).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer);
        Result<ProtectedFile> held =
            staging_internal::protect_file(*staging, "en.msi", staging_internal::Patience(300));
        ASSERT_FALSE(held);
        EXPECT_EQ(held.error().text(), "file_protection_failed");
    }
    // The failed calls closed every handle they had opened or duplicated.
    EXPECT_EQ(handle_count(), handles_before);
    ::RemoveDirectoryW(to_wide(staging->path() + "\\tr.msi").c_str());
}

// An agent that opens a new package without sharing it, to hash or upload it, is waited for.
TEST_F(ProtectFile, WaitsForAnotherProcessThatKeepsTheFileFromBeingHeld) {
    Result<StagingDirectory> staging = create_staging_directory();
    ASSERT_TRUE(staging);
    ASSERT_TRUE(write_file(staging->path() + "\\en.msi", make_payload(600)));
    LateReader agent;
    ASSERT_TRUE(agent.hold_elsewhere(staging->path() + "\\en.msi", 0, 1500));
    const Result<ProtectedFile> held = protect_file(*staging, "en.msi");
    EXPECT_TRUE(held) << held.error().text();
}

TEST_F(ProtectFile, HoldsEveryDirectoryOfALongPathForm) {
    use_temp_directory("\\\\?\\" + temp_ + "\\");
    Result<StagingDirectory> staging = create_staging_directory();
    ASSERT_TRUE(staging) << staging.error().text();
    const Result<std::string> file = write_payload(*staging, "en.msi", make_payload(600));
    ASSERT_TRUE(file) << file.error().text();
    EXPECT_EQ(staging->held_files().front().directories().size(), attackable_directories(temp_ + "\\x\\en.msi").size() + 1);
}

// Junctions and symbolic links can only be made where the system supports reparse points; Wine
// reports success for a link and creates nothing, so this case runs on Windows only. The run's log
// below such a link is refused in an elevated run, and written where the link leads in any other.
TEST_F(ProtectFile, RefusesADirectoryLinkAboveTheStagingDirectoryAndAnElevatedRunsLog) {
    const std::string target = temp_ + "\\target";
    const std::string link = temp_ + "\\link";
    ASSERT_TRUE(::CreateDirectoryW(to_wide(target).c_str(), nullptr));
    ::CreateSymbolicLinkW(to_wide(link).c_str(), to_wide(target).c_str(),
                          SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    const DWORD attributes = ::GetFileAttributesW(to_wide(link).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "this system made no directory link (error " << ::GetLastError() << ")";

    {
        const Result<HeldLogFile> log = open_log_file(link + "\\run.log", LogWrite::Append, "log");
        EXPECT_EQ(log ? "written" : log.error().text(), is_elevated() ? "run_log_refused" : "written");
    }
    ::DeleteFileW(to_wide(target + "\\run.log").c_str());

    use_temp_directory(link + "\\");
    Result<StagingDirectory> staging = create_staging_directory();
    ASSERT_FALSE(staging);
    EXPECT_EQ(staging.error().text(), "installer_payload_locked");
    EXPECT_TRUE(list_directory(target).empty());
    ::RemoveDirectoryW(to_wide(link).c_str());
}

}  // namespace
}  // namespace mirel::staging_test
