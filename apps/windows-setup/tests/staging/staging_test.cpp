// Creating staging directories and writing payloads into them, on the real file system.

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "common/win32.hpp"
#include "staging/payloads.hpp"
#include "staging/staging.hpp"
#include "staging/staging_internal.hpp"
#include "staging_test_support.hpp"

namespace mirel::staging_test {
namespace {

constexpr std::uint64_t EPOCH = 116'444'736'000'000'000;

std::uint64_t now_as_filetime() {
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

std::string pid_text() {
    return std::to_string(::GetCurrentProcessId());
}

// A clock that starts now and advances by one microsecond on each reading, counting its readings.
// (Names of this process from before it started would be an earlier run's, which go.)
struct SteppingClock {
    std::uint64_t start = now_as_filetime();
    int readings = 0;
    std::uint64_t operator()() { return start + 10 * static_cast<std::uint64_t>(readings++); }
    // The name text of reading `n`.
    std::string time_text(int n) const { return std::to_string((start - EPOCH + 10ull * n) * 100); }
};

using CreateStagingDirectory = StagingFixture;

TEST_F(CreateStagingDirectory, NamesTheFirstDirectoryByPidCurrentTimeAndAttemptZero) {
    const std::uint64_t before = now_as_filetime();
    Result<StagingDirectory> staging = create_staging_directory();
    const std::uint64_t after = now_as_filetime();
    ASSERT_TRUE(staging) << staging.error().text();

    const std::string prefix = temp_ + "\\MirelSetup-" + pid_text() + "-";
    const std::string& path = staging->path();
    ASSERT_EQ(path.substr(0, prefix.size()), prefix);
    ASSERT_EQ(path.substr(path.size() - 2), "-0");
    const std::string time = path.substr(prefix.size(), path.size() - 2 - prefix.size());
    ASSERT_EQ(time.size(), 19u);
    EXPECT_EQ(time.substr(17), "00");
    const std::uint64_t nanoseconds = std::stoull(time);
    EXPECT_GE(nanoseconds, (before - EPOCH) * 100);
    EXPECT_LE(nanoseconds, (after - EPOCH) * 100);

    const DWORD attributes = ::GetFileAttributesW(to_wide(path).c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(list_directory(path).empty());
    EXPECT_TRUE(staging->held_files().empty());
}

// Full control for SYSTEM and this user (and the Administrators, whom Wine drops from the list),
// inherited by what is made inside, none inherited from the temporary directory, nothing for
// anybody else.
TEST_F(CreateStagingDirectory, IsPrivateToItsUserTheSystemAndTheAdministrators) {
    Result<StagingDirectory> staging = create_staging_directory();
    ASSERT_TRUE(staging) << staging.error().text();
    // Opened the way any other program would: the held directory refuses nobody's reading.
    const UniqueHandle directory(::CreateFileW(to_wide(staging->path()).c_str(), READ_CONTROL,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                               FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(directory) << ::GetLastError();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetSecurityInfo(directory.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    wchar_t* text = nullptr;
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                       DACL_SECURITY_INFORMATION, &text, nullptr));
    const std::string dacl = from_wide(text);
    ::LocalFree(text);
    ::LocalFree(descriptor);
    UniqueHandle token;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()));
    alignas(TOKEN_USER) std::byte user[256];
    DWORD size = 0;
    ASSERT_TRUE(::GetTokenInformation(token.get(), TokenUser, user, sizeof user, &size));
    ASSERT_TRUE(::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &text));
    const std::string user_sid = from_wide(text);
    ::LocalFree(text);

    const std::string entry = R"(\(A;OICI;FA;;;(SY|BA|)" + user_sid + R"()\))";
    EXPECT_TRUE(std::regex_match(dacl, std::regex("D:[PAIR]*(" + entry + ")+"))) << dacl;
    EXPECT_NE(dacl.find("(A;OICI;FA;;;SY)"), std::string::npos) << dacl;
    EXPECT_NE(dacl.find("(A;OICI;FA;;;" + user_sid + ")"), std::string::npos) << dacl;
}

TEST_F(CreateStagingDirectory, GivesEachDirectoryOfAProcessItsOwnName) {
    Result<StagingDirectory> first = create_staging_directory();
    Result<StagingDirectory> second = create_staging_directory();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->path(), second->path());
    EXPECT_EQ(list_directory(temp_, "MirelSetup-*").size(), 2u);
}

TEST_F(CreateStagingDirectory, MovesOnToTheNextAttemptWithAFreshTimeWhenTheNameIsTaken) {
    // Somebody else's directory under the first name, with a file that must never be touched.
    SteppingClock clock;
    const std::string taken = temp_ + "\\MirelSetup-" + pid_text() + "-" + clock.time_text(0) + "-0";
    ASSERT_TRUE(::CreateDirectoryW(to_wide(taken).c_str(), nullptr));
    const std::vector<std::byte> planted = make_payload(600, 7);
    ASSERT_TRUE(write_file(taken + "\\en.msi", planted));

    {
        Result<StagingDirectory> staging = staging_internal::create_staging_directory([&clock] { return clock(); });
        ASSERT_TRUE(staging) << staging.error().text();
        EXPECT_EQ(staging->path(), temp_ + "\\MirelSetup-" + pid_text() + "-" + clock.time_text(1) + "-1");
        EXPECT_EQ(clock.readings, 2);
        EXPECT_TRUE(list_directory(staging->path()).empty());
    }
    EXPECT_EQ(read_file(taken + "\\en.msi"), planted);
    remove_tree(taken);
}

TEST_F(CreateStagingDirectory, GivesUpAfterAHundredTakenNamesAndCreatesNothing) {
    SteppingClock clock;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name =
            "MirelSetup-" + pid_text() + "-" + clock.time_text(attempt) + "-" + std::to_string(attempt);
        ASSERT_TRUE(::CreateDirectoryW(to_wide(temp_ + "\\" + name).c_str(), nullptr));
    }
    Result<StagingDirectory> staging = staging_internal::create_staging_directory([&clock] { return clock(); });
    ASSERT_FALSE(staging);
    EXPECT_EQ(staging.error().text(), "temporary_directory");
    EXPECT_EQ(clock.readings, 100);
    EXPECT_EQ(list_directory(temp_).size(), 100u);
    for (const std::string& name : list_directory(temp_)) remove_tree(temp_ + "\\" + name);
}

TEST_F(CreateStagingDirectory, FailsAtOnceWithPathNotFoundWhenTheTemporaryDirectoryIsMissing) {
    const std::string missing = temp_ + "\\missing";
    use_temp_directory(missing + "\\");
    SteppingClock clock;
    Result<StagingDirectory> staging = staging_internal::create_staging_directory([&clock] { return clock(); });
    ASSERT_FALSE(staging);
    EXPECT_EQ(staging.error().text(), os_error_text(ERROR_PATH_NOT_FOUND));
    EXPECT_NE(staging.error().text().find("(os error 3)"), std::string::npos);
    EXPECT_EQ(clock.readings, 1);
    EXPECT_FALSE(exists(missing));
    EXPECT_TRUE(list_directory(temp_).empty());

    Result<StagingDirectory> real = create_staging_directory();
    ASSERT_FALSE(real);
    EXPECT_EQ(real.error().text(), os_error_text(ERROR_PATH_NOT_FOUND));
}

TEST_F(CreateStagingDirectory, RefusesAClockBefore1970WithoutTouchingTheDisk) {
    int readings = 0;
    Result<StagingDirectory> staging = staging_internal::create_staging_directory([&readings] {
        ++readings;
        return EPOCH - 1;
    });
    ASSERT_FALSE(staging);
    EXPECT_EQ(staging.error().text(), "clock");
    EXPECT_EQ(readings, 1);
    EXPECT_TRUE(list_directory(temp_).empty());
}

using WritePayload = StagingFixture;

TEST_F(WritePayload, RefusesFewerThan512BytesOrAMissingSignatureAndWritesNothing) {
    Result<StagingDirectory> staging = create_staging_directory();
    ASSERT_TRUE(staging);
    const std::vector<std::byte> bytes = make_payload(512);
    std::vector<std::byte> unsigned_bytes = bytes;
    unsigned_bytes[7] = std::byte{0};

    for (const std::span<const std::byte> candidate :
         {std::span<const std::byte>(bytes).first(511), std::span<const std::byte>(unsigned_bytes),
          std::span<const std::byte>()}) {
        Result<std::string> path = write_payload(*staging, "en.msi", candidate);
        ASSERT_FALSE(path);
        EXPECT_EQ(path.error().text(), "installer_payload_missing");
    }
    EXPECT_TRUE(list_directory(staging->path()).empty());

    Result<std::string> path = write_payload(*staging, "en.msi", bytes);
    ASSERT_TRUE(path) << path.error().text();
    EXPECT_EQ(*path, staging->path() + "\\en.msi");
    EXPECT_EQ(read_file(*path), bytes);
}

TEST_F(WritePayload, NeverWritesIntoAFileThatIsAlreadyThere) {
    Result<StagingDirectory> staging = create_staging_directory();
    ASSERT_TRUE(staging);
    const std::vector<std::byte> planted = make_payload(1000, 3);
    ASSERT_TRUE(write_file(staging->path() + "\\en.msi", planted));

    Result<std::string> path = write_payload(*staging, "en.msi", make_payload(4096));
    ASSERT_FALSE(path);
    EXPECT_EQ(path.error().text(), "installer_payload_locked");
    EXPECT_EQ(read_file(staging->path() + "\\en.msi"), planted);
    EXPECT_TRUE(staging->held_files().empty());
}

// Volume and file index: the identity of whatever a handle is open on.
std::pair<DWORD, std::uint64_t> identity(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    EXPECT_TRUE(::GetFileInformationByHandle(handle, &info));
    return {info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

TEST_F(WritePayload, HoldsOneRecordPerFileInTheOrderWritten) {
    Result<StagingDirectory> staging = create_staging_directory();
    ASSERT_TRUE(staging);
    // Sizes that end inside a comparison chunk.
    const std::vector<std::byte> english = make_payload(3 * 32768 + 5, 1);
    const std::vector<std::byte> turkish = make_payload(70'001, 2);
    Result<std::string> en = write_payload(*staging, "en.msi", english);
    Result<std::string> tr = write_payload(*staging, "tr.msi", turkish);
    ASSERT_TRUE(en && tr);
    EXPECT_EQ(read_file(*en), english);
    EXPECT_EQ(read_file(*tr), turkish);

    const std::vector<ProtectedFile>& held = staging->held_files();
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(
        identity(held[0].file()),
        identity(UniqueHandle(::CreateFileW(to_wide(*en).c_str(), 0, 7, nullptr, OPEN_EXISTING, 0, nullptr)).get()));
    EXPECT_EQ(
        identity(held[1].file()),
        identity(UniqueHandle(::CreateFileW(to_wide(*tr).c_str(), 0, 7, nullptr, OPEN_EXISTING, 0, nullptr)).get()));

    // Root, every folder down to the temporary directory, and the staging directory itself.
    std::size_t depth = 1;
    for (const char c : staging->path().substr(3)) depth += c == '\\';
    ASSERT_EQ(held[0].directories().size(), depth + 1);
    ASSERT_EQ(held[1].directories().size(), depth + 1);
    for (std::size_t i = 0; i < held[0].directories().size(); ++i) {
        EXPECT_NE(held[0].directories()[i].get(), held[1].directories()[i].get());
        EXPECT_EQ(identity(held[0].directories()[i].get()), identity(held[1].directories()[i].get())) << i;
    }
    UniqueHandle own_directory(::CreateFileW(to_wide(staging->path()).c_str(), 0, 7, nullptr, OPEN_EXISTING,
                                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    EXPECT_EQ(identity(held[0].directories().back().get()), identity(own_directory.get()));
}

TEST_F(WritePayload, StagesBothEmbeddedPackagesByteForByte) {
    ASSERT_EQ(PAYLOADS[0].file_name, "en.msi");
    ASSERT_EQ(PAYLOADS[1].file_name, "tr.msi");
    Result<StagingDirectory> staging = create_staging_directory();
    ASSERT_TRUE(staging);
    for (const UiLanguage language : {UiLanguage::English, UiLanguage::Turkish}) {
        const Payload& payload = payload_for(language);
        EXPECT_EQ(payload.language, language);
        Result<std::string> path = write_payload(*staging, payload.file_name, payload.bytes);
        ASSERT_TRUE(path) << path.error().text();
        const std::optional<std::vector<std::byte>> on_disk = read_file(*path);
        ASSERT_TRUE(on_disk);
        ASSERT_EQ(on_disk->size(), PAYLOAD_SIZE);
        EXPECT_EQ(std::memcmp(on_disk->data(), payload.bytes.data(), PAYLOAD_SIZE), 0);
    }
    EXPECT_EQ(staging->held_files().size(), 2u);
}

}  // namespace
}  // namespace mirel::staging_test
