// How a failed run reports when nobody is asked: one line on standard error in a validation run
// (the failure box is checked with the dialogs), and the detail of a failed task dialog.

#include <gtest/gtest.h>
#include <windows.h>

#include <oleauto.h>

#include <cctype>
#include <regex>

#include "dialog_checks.hpp"
#include "dialogs/dialogs.hpp"

namespace mirel::dialog_test {
namespace {

namespace td = test_driver;
using wine_test::TempDir;

TEST(ValidationRun, AFailureIsOneLineOnStandardErrorWithoutABox) {
    const struct {
        std::vector<std::wstring> arguments;
        const wchar_t* program;
        const char* standard_error;  // a regular expression, "." matching no line break
    } runs[] = {
        // The system's text for "path not found": its wording differs, its number does not.
        {{L"--validate"}, nullptr, ".+ \\(os error 3\\)\n"},
        // Other options have no effect on a validation run, wherever "--validate" stands.
        {{L"--update", L"--preview-language=tr", L"--validate"}, nullptr, ".+ \\(os error 3\\)\n"},
        // The inspection's first step loads the icon.
        {{L"--validate"}, L"mirel-setup-without-icon.exe", "setup_icon\n"},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(td::narrow(run.arguments.front()) + (run.program ? " without icon" : ""));
        TempDir temp;
        auto setup = wine_test::start_setup(run.arguments,
                                            run.program ? wine_test::temp_environment(temp.path()) : missing_temp(temp),
                                            true, run.program ? wine_test::built_program(run.program) : L"");
        ASSERT_TRUE(setup);
        expect_end_without_window(*setup, 1);
        const std::string standard_error = setup->standard_error();
        EXPECT_TRUE(std::regex_match(standard_error, std::regex(run.standard_error))) << standard_error;
        EXPECT_TRUE(temp.entries().empty());
    }
}

// The system's text for a message, without its line break; empty when the system has none.
std::string system_text(DWORD id, const wchar_t* module) {
    const DWORD source = module ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | source,
                                          module ? ::GetModuleHandleW(module) : nullptr, id, 0,
                                          reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = length == 0 ? "" : td::narrow(std::wstring_view(buffer, length));
    ::LocalFree(buffer);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text;
}

// A failed task dialog's detail: the thread's error object when it has one, else the system's text
// for the code (an NT status's from ntdll), else the code alone. Wine's wording is not asserted.
TEST(HresultText, TheErrorObjectOrTheSystemsTextThenTheCode) {
    ICreateErrorInfo* created = nullptr;
    IErrorInfo* info = nullptr;
    ASSERT_EQ(::CreateErrorInfo(&created), S_OK);
    created->SetDescription(const_cast<wchar_t*>(L"told by the error object\r\n"));
    ASSERT_EQ(created->QueryInterface(__uuidof(IErrorInfo), reinterpret_cast<void**>(&info)), S_OK);
    ASSERT_EQ(::SetErrorInfo(0, info), S_OK);
    info->Release();
    created->Release();
    EXPECT_EQ(hresult_text(E_FAIL), "told by the error object (0x80004005)");

    // The first call took the object: the thread has none now.
    IErrorInfo* left = nullptr;
    ASSERT_EQ(::GetErrorInfo(0, &left), S_FALSE);
    const struct {
        HRESULT code;
        DWORD message;
        const wchar_t* module;
        const char* code_text;
    } codes[] = {{2, 2, nullptr, "0x00000002"},
                 {HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), 0x8007007F, nullptr, "0x8007007F"},
                 {HRESULT_FROM_NT(0xC0000005), 0xC0000005, L"ntdll.dll", "0xD0000005"}};
    ASSERT_FALSE(system_text(2, nullptr).empty()) << "the described form needs a code that the system describes";
    for (const auto& c : codes) {
        const std::string description = system_text(c.message, c.module);
        EXPECT_EQ(hresult_text(c.code), description.empty() ? c.code_text : description + " (" + c.code_text + ")");
    }
}

}  // namespace
}  // namespace mirel::dialog_test
