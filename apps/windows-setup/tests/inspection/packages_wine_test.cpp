// The whole package inspection on real packages under Wine: the sample packages pass, and every
// rule-breaking variant fails with its own code. Each run writes the packages into a staging
// directory, reads them through msi.dll, extracts and verifies the web runtime installer with
// the prefix's verifier, and must leave nothing behind in the temporary directory.

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/path.hpp"
#include "common/win32.hpp"
#include "inspection/inspect_packages.hpp"
#include "inspection/web_runtime.hpp"
#include "wine_files.hpp"

namespace mirel {
namespace {

const std::string SAMPLES = from_wide(wine_test::windows_path(MIREL_SAMPLE_PACKAGES));
const std::string VARIANTS = from_wide(wine_test::windows_path(MIREL_PACKAGE_VARIANTS));

std::vector<std::byte> read_file(const std::string& path) {
    const std::string bytes = wine_test::read_file(to_wide(path));
    return std::vector<std::byte>(reinterpret_cast<const std::byte*>(bytes.data()),
                                  reinterpret_cast<const std::byte*>(bytes.data() + bytes.size()));
}

// The names of this process's staging directories still present in the temporary directory.
std::vector<std::wstring> leftovers() {
    wchar_t temp[MAX_PATH + 1];
    return wine_test::entries(std::wstring(temp, ::GetTempPathW(MAX_PATH + 1, temp)),
                              L"MirelSetup-" + std::to_wstring(::GetCurrentProcessId()) + L"-*");
}

// inspect_payloads on the two package files of `directory`, as the program does on its own;
// `tr_bytes`, when given, replaces the Turkish package.
std::string inspect_directory(const std::string& directory, std::vector<std::byte> tr_bytes = {}) {
    std::vector<std::byte> en = read_file(directory + "\\en.msi");
    std::vector<std::byte> tr = tr_bytes.empty() ? read_file(directory + "\\tr.msi") : std::move(tr_bytes);
    if (en.size() != PAYLOAD_SIZE || tr.size() != PAYLOAD_SIZE) return "test input of the wrong size";
    const std::optional<Sha256> en_digest = sha256(en);
    const std::optional<Sha256> tr_digest = sha256(tr);
    if (!en_digest || !tr_digest) return "no digest";
    const std::array<Payload, 2> payloads = {{
        {"en.msi", std::span<const std::byte, PAYLOAD_SIZE>(en.data(), PAYLOAD_SIZE), *en_digest, UiLanguage::English},
        {"tr.msi", std::span<const std::byte, PAYLOAD_SIZE>(tr.data(), PAYLOAD_SIZE), *tr_digest, UiLanguage::Turkish},
    }};
    const Status status = inspect_payloads(payloads);
    return status ? "ok" : status.error().text();
}

std::string outcome(const Status& status) {
    return status ? "ok" : status.error().text();
}

// The operating system's error behind a failure, for the failure message: a verifier that Wine
// refused to start ("os error 1359") must be told apart from a refused signature.
std::string os_error_of(const Status& status) {
    return status || status.error().os_error() == 0 ? "" : "os error " + std::to_string(status.error().os_error());
}

TEST(InspectPayloads, TheSamplePackagesPassAndLeaveNothingBehind) {
    EXPECT_EQ(inspect_directory(SAMPLES), "ok");
    EXPECT_TRUE(leftovers().empty());
}

TEST(InspectPayloads, EveryVariantFailsWithItsOwnCode) {
    std::ifstream list(VARIANTS + "\\variants.tsv");
    ASSERT_TRUE(list.good()) << VARIANTS;
    std::string line;
    int variants = 0;
    while (std::getline(list, line)) {
        std::istringstream fields(line);
        std::string name, slot, expected;
        if (!std::getline(fields, name, '\t') || !std::getline(fields, slot, '\t') || !std::getline(fields, expected)) {
            continue;
        }
        ++variants;
        EXPECT_EQ(inspect_directory(VARIANTS + "\\" + name), expected) << name << " (" << slot << ")";
        EXPECT_TRUE(leftovers().empty()) << name;
    }
    EXPECT_GE(variants, 20);
}

TEST(InspectPayloads, TheTurkishPackageIsWrittenOnlyAfterTheEnglishOnePassed) {
    // Bytes that write_payload refuses: reaching them shows that the Turkish package was written.
    const std::vector<std::byte> not_a_package(PAYLOAD_SIZE);
    EXPECT_EQ(inspect_directory(SAMPLES, not_a_package), "installer_payload_missing");
    EXPECT_EQ(inspect_directory(VARIANTS + "\\version-4-parts", not_a_package),
              "installer_payload_version_or_language");
    EXPECT_EQ(inspect_directory(VARIANTS + "\\runtime-unsigned", not_a_package), "installer_runtime_signature");
    EXPECT_TRUE(leftovers().empty());
}

TEST(CheckWebRuntime, ExtractsVerifiesAndRemovesTheCarriedInstaller) {
    for (const char* package : {"\\en.msi", "\\tr.msi"}) {
        const Status checked = check_web_runtime(SAMPLES + package);
        EXPECT_EQ(outcome(checked), "ok") << package << " " << os_error_of(checked);
    }
    EXPECT_TRUE(leftovers().empty());
    EXPECT_EQ(outcome(check_web_runtime(SAMPLES + "\\missing.msi")), "msi_database");
}

TEST(CheckWebRuntime, AnInheritedModulePathDoesNotReachTheVerifier) {
    // The verifier accepts only the system's own module directory.
    ASSERT_TRUE(::SetEnvironmentVariableW(L"psmodulepath", L"C:\\users\\Public\\Modules"));
    EXPECT_EQ(outcome(check_web_runtime(SAMPLES + "\\en.msi")), "ok");
    ::SetEnvironmentVariableW(L"PSModulePath", nullptr);
}

TEST(CheckWebRuntime, ATemporaryFolderWithBlanksQuotesAndDollarsReachesTheVerifierIntact) {
    // A profile folder such as "C:\Users\Ada O'Brien" must neither split the path nor let
    // PowerShell read part of it as code.
    std::array<wchar_t, MAX_PATH + 1> temp{};
    const DWORD length = ::GetTempPathW(static_cast<DWORD>(temp.size()), temp.data());
    const std::wstring original(temp.data(), length);
    const std::wstring odd = original + L"Ada O'Brien \u2019$(exit 0)";
    ASSERT_TRUE(::CreateDirectoryW(odd.c_str(), nullptr));
    ::SetEnvironmentVariableW(L"TMP", odd.c_str());
    ::SetEnvironmentVariableW(L"TEMP", odd.c_str());
    EXPECT_EQ(outcome(check_web_runtime(SAMPLES + "\\en.msi")), "ok");
    EXPECT_TRUE(leftovers().empty());
    ::SetEnvironmentVariableW(L"TMP", original.c_str());
    ::SetEnvironmentVariableW(L"TEMP", original.c_str());
    EXPECT_TRUE(::RemoveDirectoryW(odd.c_str())) << "something was left in the odd temporary folder";
}

TEST(CheckWebRuntime, NoVerifierAtItsPlaceIsASignatureFailure) {
    std::array<wchar_t, MAX_PATH> system{};
    const UINT length = ::GetSystemDirectoryW(system.data(), static_cast<UINT>(system.size()));
    ASSERT_GT(length, 0u);
    const std::wstring directory(system.data(), length);
    const std::wstring verifier = directory + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
    const std::wstring aside = verifier + L".aside";
    ASSERT_TRUE(::MoveFileExW(verifier.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING));
    const Status status = check_web_runtime(SAMPLES + "\\en.msi");
    const bool restored = ::MoveFileExW(aside.c_str(), verifier.c_str(), MOVEFILE_REPLACE_EXISTING);
    ASSERT_TRUE(restored) << "the verifier is left at " << from_wide(aside);
    EXPECT_EQ(outcome(status), "installer_runtime_signature");
    EXPECT_TRUE(leftovers().empty());
}

}  // namespace
}  // namespace mirel
