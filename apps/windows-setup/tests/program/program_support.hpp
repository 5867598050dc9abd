#pragma once

// Runs the whole setup program from outside, as a user or an updating process would: through the
// Win32 test driver, each run with a temporary directory of its own handed over as TMP and TEMP.

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "test_driver.hpp"
#include "wine_test_support.hpp"

namespace mirel::program_test {

namespace td = mirel::test_driver;

using wine_test::await_window;
using wine_test::click_and_wait;
using wine_test::Environment;
using wine_test::exists;
using wine_test::expect_end_without_window;
using wine_test::narrow;
using wine_test::read_file;
using wine_test::read_file_holding;
using wine_test::setup_program;
using wine_test::system_directory;
using wine_test::widen;
using wine_test::windows_path;

// The sample packages' product codes.
inline constexpr const wchar_t* ENGLISH_PRODUCT = L"{8C0E5B2A-6F13-4D7A-9B41-3E2D5C7A1033}";
inline constexpr const wchar_t* TURKISH_PRODUCT = L"{8C0E5B2A-6F13-4D7A-9B41-3E2D5C7A1055}";

// The mode dialog's command links.
inline constexpr int BASIC_BUTTON = 100;
inline constexpr int ADVANCED_BUTTON = 101;

// Where a test's temporary directory lies, as managed machines place it.
enum class TempPlace {
    Plain,
    ThroughALink,  // below a directory link, as a profile in a profile container
    Deep,          // about 230 characters deep, so that staged files would pass MAX_PATH
};

// A folder of the test's own under the prefix's temporary directory: `path()` is the program's
// temporary directory (its leaf may hold a space), `resolved()` the same with links followed,
// `scratch()` a sibling for the test's records. Everything is removed on destruction; when the
// test has failed, the logs of its setup runs are printed first.
class TestFolder {
public:
    explicit TestFolder(std::wstring_view temp_leaf = L"temp", TempPlace place = TempPlace::Plain);
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::wstring& path() const { return temp_; }
    const std::wstring& resolved() const { return resolved_; }
    const std::wstring& scratch() const { return scratch_; }
    // Names of everything in the temporary directory, and of its entries named "MirelSetup-*".
    std::vector<std::wstring> entries() const;
    std::vector<std::wstring> staging_directories() const;
    // The file that the sample "mirel-desktop.exe" writes when it starts: in %TEMP%, which it
    // inherits from the setup program.
    std::wstring marker() const { return temp_ + L"\\mirel-desktop-started.txt"; }
    // Empties the temporary directory (after a run that was cut short).
    void clear() const;
    // What the signature verifier recorded of its runs for this folder's setup programs, to
    // explain a refused signature in a failure message.
    std::string verifier_log() const;
    // The arguments with a fresh log in the scratch folder: a failure then shows what each run
    // did, and a run whose child Wine refused to start names Wine's error (os error 1359) where the
    // failure box shows only the program's error code.
    std::vector<std::wstring> logged(std::vector<std::wstring> arguments) const;

private:
    std::wstring root_;
    std::wstring link_;
    std::wstring temp_;
    std::wstring resolved_;
    std::wstring scratch_;
    mutable int runs_ = 0;
};

// Where the sample application leaves its marker when the desktop shell has started it: in the
// shell's own %TEMP%, which under Wine is the prefix user's, as this test process has it too. An
// elevated run (under Wine, every run) starts the application through the shell where there is
// a desktop, and the dialog tests have one.
std::wstring shell_marker();

// Starts a setup program with TMP and TEMP set to the folder's temporary directory; fails the
// calling test and returns null when it cannot be started.
std::unique_ptr<td::Process> start_setup(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                         const TestFolder& folder, const Environment& more = {},
                                         bool capture_standard_error = false);

// Starts any program (a stand-in update parent, the installer engine for a clean-up).
std::unique_ptr<td::Process> start_program(const std::wstring& program, const std::vector<std::wstring>& arguments);

// A message box of the process with this caption: its text, icon and button ids.
struct ShownBox {
    HWND window = nullptr;
    std::wstring text;
    td::BoxIcon icon = td::BoxIcon::None;
    std::vector<int> buttons;
};
std::optional<ShownBox> wait_for_message_box(DWORD process_id, std::wstring_view caption);

// Windows Installer's view of a product in this prefix.
bool product_installed(const wchar_t* product_code);
std::wstring product_info(const wchar_t* product_code, const wchar_t* property);
// Removes the product with the prefix's own engine when it is installed; true when it is gone.
bool uninstall(const wchar_t* product_code);

}  // namespace mirel::program_test
