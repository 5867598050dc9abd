// Finding the installed program through the install location that Windows Installer recorded,
// with small products installed for real by Wine's engine (through run_installer_engine).
#include "install/engine.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include <msi.h>
#include <msiquery.h>
#include "common/win32.hpp"
#include "wine_files.hpp"

namespace mirel {
namespace {

// Defined by the build, which also makes the packages (see CMakeLists.txt).
constexpr const char* SLASH_PRODUCT = MIREL_TEST_SLASH_PRODUCT;
constexpr const char* BARE_PRODUCT = MIREL_TEST_BARE_PRODUCT;
constexpr const char* LINK_PRODUCT = MIREL_TEST_LINK_PRODUCT;
constexpr const char* DANGLING_PRODUCT = MIREL_TEST_DANGLING_PRODUCT;
constexpr const char* PACKAGE_FOLDER = MIREL_TEST_PACKAGE_FOLDER;
constexpr const char* LINK_FOLDER = MIREL_TEST_LINK_FOLDER;

const char* const PRODUCTS[][2] = {{SLASH_PRODUCT, "slash.msi"},
                                   {BARE_PRODUCT, "bare.msi"},
                                   {LINK_PRODUCT, "link.msi"},
                                   {DANGLING_PRODUCT, "dangling.msi"}};

void remove_product(const char* code) {
    const std::wstring wide = to_wide(code);
    if (::MsiQueryProductStateW(wide.c_str()) == INSTALLSTATE_DEFAULT) {
        ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        ::MsiConfigureProductW(wide.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
    }
}

std::string program_files() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = ::GetEnvironmentVariableW(L"ProgramW6432", buffer, MAX_PATH + 1);
    if (length > 0 && length <= MAX_PATH) return from_wide(std::wstring_view(buffer, length));
    return R"(C:\Program Files)";
}

class InstalledApplication : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const auto& [code, package] : PRODUCTS) {
            remove_product(code);
            const std::string path = std::string(PACKAGE_FOLDER) + "\\" + package;
            const Result<std::int32_t> exit_code = run_installer_engine(path, InstallMode::Basic);
            ASSERT_TRUE(exit_code.has_value()) << exit_code.error().text();
            ASSERT_EQ(*exit_code, 0) << "installing " << path;
        }
    }
    static void TearDownTestSuite() {
        for (const auto& [code, package] : PRODUCTS) remove_product(code);
    }
};

TEST_F(InstalledApplication, LocationWithOrWithoutTrailingBackslashGivesTheSamePath) {
    const Result<std::string> slash = find_installed_application(SLASH_PRODUCT);
    ASSERT_TRUE(slash.has_value()) << slash.error().text();
    EXPECT_EQ(*slash, program_files() + R"(\Mirel Location Slash\mirel-desktop.exe)");

    const Result<std::string> bare = find_installed_application(BARE_PRODUCT);
    ASSERT_TRUE(bare.has_value()) << bare.error().text();
    EXPECT_EQ(*bare, program_files() + R"(\Mirel Location Bare\mirel-desktop.exe)");
}

TEST_F(InstalledApplication, AProductThatIsNotInstalledHasNoLocation) {
    for (const char* code : {"{00000000-1111-2222-3333-444444444444}", "not-a-guid", ""}) {
        const Result<std::string> found = find_installed_application(code);
        ASSERT_FALSE(found.has_value()) << code;
        EXPECT_EQ(found.error().text(), "install_location") << code;
    }
}

TEST_F(InstalledApplication, ALocationWithoutTheProgramFileOrWithAFolderInItsPlaceIsRefused) {
    const Result<std::string> found = find_installed_application(SLASH_PRODUCT);
    ASSERT_TRUE(found.has_value()) << found.error().text();
    const std::wstring program = to_wide(*found);
    const std::wstring aside = program + L".aside";
    ASSERT_TRUE(::MoveFileW(program.c_str(), aside.c_str()));

    const Result<std::string> missing = find_installed_application(SLASH_PRODUCT);
    ASSERT_TRUE(::CreateDirectoryW(program.c_str(), nullptr));
    const Result<std::string> folder = find_installed_application(SLASH_PRODUCT);
    ::RemoveDirectoryW(program.c_str());
    ASSERT_TRUE(::MoveFileW(aside.c_str(), program.c_str()));

    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().text(), "installed_application");
    ASSERT_FALSE(folder.has_value());
    EXPECT_EQ(folder.error().text(), "installed_application");
}

TEST_F(InstalledApplication, ALinkToAProgramIsAcceptedAndADanglingLinkIsNot) {
    const Result<std::string> link = find_installed_application(LINK_PRODUCT);
    ASSERT_TRUE(link.has_value()) << link.error().text();
    EXPECT_EQ(*link, std::string(LINK_FOLDER) + R"(\good\mirel-desktop.exe)");

    const Result<std::string> dangling = find_installed_application(DANGLING_PRODUCT);
    ASSERT_FALSE(dangling.has_value());
    EXPECT_EQ(dangling.error().text(), "installed_application");
}

TEST_F(InstalledApplication, TheFoundProgramIsLaunched) {
    const wine_test::TempDir scratch(L"product-launch");
    const std::wstring record = scratch.child(L"record.txt");
    ::SetEnvironmentVariableW(L"MIREL_STANDIN_RECORD", record.c_str());
    // Started by this process, as an elevated run does where the desktop's shell cannot: the
    // program inherits the record's name.
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    for (const char* code : {SLASH_PRODUCT, LINK_PRODUCT}) {
        ::DeleteFileW(record.c_str());
        const Result<std::string> found = find_installed_application(code);
        ASSERT_TRUE(found.has_value()) << found.error().text();
        const Status launched = launch_application(*found, LanguageTexts{{TextKey::launchFailed, "no"}});
        ASSERT_TRUE(launched.has_value()) << launched.error().text();
        const std::string text = wine_test::read_file_holding(record, "\n", 10'000);
        ASSERT_NE(text.find('\n'), std::string::npos) << *found << " did not start";
        // The program's own path is the one that was launched (a link's path, not its target).
        EXPECT_TRUE(wine_test::same_path(wine_test::widen(text.substr(text.find('\n') + 1)), to_wide(*found))) << text;
    }
    ::CoUninitialize();
    ::SetEnvironmentVariableW(L"MIREL_STANDIN_RECORD", nullptr);
}

constexpr const char* SAMPLE_FOLDER = MIREL_TEST_SAMPLE_FOLDER;

// The package's ProductCode, read the way any client reads it.
std::string sample_product_code(const std::wstring& package) {
    MSIHANDLE database = 0;
    if (::MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS) return {};
    MSIHANDLE view = 0;
    MSIHANDLE record = 0;
    std::string code;
    if (::MsiDatabaseOpenViewW(database, L"SELECT `Value` FROM `Property` WHERE `Property`='ProductCode'", &view) ==
            ERROR_SUCCESS &&
        ::MsiViewExecute(view, 0) == ERROR_SUCCESS && ::MsiViewFetch(view, &record) == ERROR_SUCCESS) {
        wchar_t value[64];
        DWORD size = 64;
        if (::MsiRecordGetStringW(record, 1, value, &size) == ERROR_SUCCESS)
            code = from_wide(std::wstring_view(value, size));
    }
    if (record != 0) ::MsiCloseHandle(record);
    if (view != 0) ::MsiCloseHandle(view);
    ::MsiCloseHandle(database);
    return code;
}

TEST(SamplePackage, InstalledByTheEngineThenFoundAndLaunched) {
    for (const char* language : {"en", "tr"}) {
        const std::string package = std::string(SAMPLE_FOLDER) + "\\" + language + ".msi";
        const std::string code = sample_product_code(to_wide(package));
        ASSERT_FALSE(code.empty()) << package;
        remove_product(code.c_str());

        wchar_t temp[MAX_PATH + 1];
        const std::wstring marker =
            std::wstring(temp, ::GetTempPathW(MAX_PATH + 1, temp)) + L"mirel-desktop-started.txt";
        ::DeleteFileW(marker.c_str());

        const Result<std::int32_t> exit_code = run_installer_engine(package, InstallMode::Basic);
        ASSERT_TRUE(exit_code.has_value()) << exit_code.error().text();
        ASSERT_EQ(*exit_code, 0) << package;

        const Result<std::string> found = find_installed_application(code);
        ASSERT_TRUE(found.has_value()) << found.error().text();
        EXPECT_EQ(*found, program_files() + R"(\Mirel\mirel-desktop.exe)");

        const Status launched = launch_application(*found, load_language_texts(UiLanguage::English));
        ASSERT_TRUE(launched.has_value()) << launched.error().text();
        EXPECT_NE(wine_test::read_file_holding(marker, "mirel-desktop.exe", 10'000).find("mirel-desktop.exe"),
                  std::string::npos)
            << "the program did not start";

        remove_product(code.c_str());
        const Result<std::string> removed = find_installed_application(code);
        ASSERT_FALSE(removed.has_value()) << *removed;
        EXPECT_EQ(removed.error().text(), "install_location");
    }
}

}  // namespace
}  // namespace mirel
