#include "common/com_owners.hpp"
#include "common/win32.hpp"

#include <cstdlib>
#include <span>
#include <string>

#include "dialogs/dialogs.hpp"
#include "dialogs/failure_texts.hpp"
#include "dialogs/help_text.hpp"
#include "texts/system_language.hpp"

namespace mirel {
namespace {

// IRestrictedErrorInfo is missing from mingw's headers; its layout is fixed by its IID.
constexpr IID IID_RESTRICTED_ERROR_INFO = {
    0x82BA7092, 0x4C88, 0x427D, {0xA7, 0xBC, 0x16, 0xDD, 0x93, 0xFE, 0xB6, 0x7E}};
struct RestrictedErrorInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetErrorDetails(BSTR* description, HRESULT* error, BSTR* restricted_description,
                                                      BSTR* capability_sid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetReference(BSTR* reference) = 0;
};

std::wstring bstr_text(const UniqueBstr& value) {
    return value ? std::wstring(value.get(), os::SysStringLen(value.get())) : std::wstring();
}

std::wstring error_object_description(IErrorInfo* info) {
    ComPointer<IUnknown> restricted;
    if (SUCCEEDED(info->QueryInterface(IID_RESTRICTED_ERROR_INFO, reinterpret_cast<void**>(restricted.put())))) {
        UniqueBstr description, restricted_description, capability_sid;
        HRESULT error = S_OK;
        auto* details = static_cast<RestrictedErrorInfo*>(restricted.get());
        if (SUCCEEDED(details->GetErrorDetails(description.put(), &error, restricted_description.put(),
                                               capability_sid.put()))) {
            std::wstring text = bstr_text(restricted_description);
            if (text.empty()) text = bstr_text(description);
            if (!text.empty()) return text;
        }
    }
    UniqueBstr description;
    if (SUCCEEDED(info->GetDescription(description.put()))) return bstr_text(description);
    return {};
}

std::wstring system_description(HRESULT hresult) {
    auto code = static_cast<DWORD>(hresult);
    if ((code & FACILITY_NT_BIT) == 0) return system_message(code);
    // An NTSTATUS in HRESULT form: its text is in ntdll's message table.
    return system_message(code & ~static_cast<DWORD>(FACILITY_NT_BIT), os::GetModuleHandleW(L"ntdll.dll"));
}

void write_to_standard_error(std::string_view text) {
    HANDLE error_stream = os::GetStdHandle(STD_ERROR_HANDLE);
    if (error_stream == nullptr || error_stream == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    if (os::GetConsoleMode(error_stream, &mode) && os::GetConsoleOutputCP() != CP_UTF8) {
        const std::wstring wide = to_wide(text);
        DWORD written = 0;
        os::WriteConsoleW(error_stream, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    // A stream that takes nothing leaves the exit code to tell the caller.
    static_cast<void>(write_all(error_stream, std::as_bytes(std::span(text))));
}

}  // namespace

std::string hresult_text(HRESULT hresult) {
    std::wstring description;
    ComPointer<IUnknown> error_object;
    if (os::GetErrorInfo(0, reinterpret_cast<IErrorInfo**>(error_object.put())) == S_OK && error_object) {
        description = error_object_description(static_cast<IErrorInfo*>(error_object.get()));
    } else {
        description = system_description(hresult);
    }
    return compose_hresult_text(from_wide(description), hresult);
}

bool ask_launch_question(const LanguageTexts& texts, TextKey question_key) {
    const std::wstring caption = to_wide(localized_text(texts, TextKey::title));
    const std::wstring question = to_wide(localized_text(texts, question_key));
    return os::MessageBoxW(nullptr, question.c_str(), caption.c_str(), MB_YESNO | MB_ICONINFORMATION) == IDYES;
}

void show_failure_box(std::string_view detail) {
    const LanguageTexts texts = load_language_texts(system_ui_language());
    const std::wstring caption = to_wide(localized_text(texts, TextKey::title));
    const std::wstring text = to_wide(failure_box_text(texts, detail));
    os::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

void show_help(FailureReport where) {
    const LanguageTexts texts = load_language_texts(system_ui_language());
    const std::string text = help_text(texts);
    if (where == FailureReport::StandardError) return write_to_standard_error(text + "\n");
    const std::wstring caption = to_wide(localized_text(texts, TextKey::title));
    os::MessageBoxW(nullptr, to_wide(text).c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
}

void report_failure(const SetupError& error, FailureReport where) {
    if (where == FailureReport::StandardError) {
        write_to_standard_error(error.text() + "\n");
    } else {
        show_failure_box(error.text());
    }
    std::exit(error.exit_code());
}

}  // namespace mirel
