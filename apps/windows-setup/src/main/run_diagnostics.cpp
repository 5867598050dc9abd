#include "main/run_diagnostics.hpp"

#include <array>
#include <cstdio>
#include <string>

#include "common/held_files.hpp"
#include "common/run_log.hpp"
#include "common/win32.hpp"
#include "inspection/package_rules.hpp"
#include "staging/staging.hpp"
#include "texts/language_texts.hpp"
#include "texts/system_language.hpp"

namespace mirel {
namespace {

std::string windows_version() {
    RTL_OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (os::RtlGetVersion(&version) < 0) return "unknown";
    return std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) + "." +
           std::to_string(version.dwBuildNumber);
}

std::string display_language() {
    const LANGID langid = os::GetUserDefaultUILanguage();
    std::array<char, 8> number{};
    std::snprintf(number.data(), number.size(), "0x%04X", static_cast<unsigned>(langid));
    return std::string(number.data()) + " (" + std::string(language_name(ui_language_from_langid(langid))) + ")";
}

}  // namespace

void log_run_start() {
    if (!run_log_enabled()) return;
    const Result<std::string> temporary = resolved_temporary_directory();
    log_event("setup",
              {"Mirel setup ", SETUP_VERSION, "; command line: ", LogPart::outside(from_wide(os::GetCommandLineW())),
               "; Windows ", windows_version(), "; display language ", display_language(), "; process ",
               os::GetCurrentProcessId(), "; elevated: ", is_elevated() ? "yes" : "no",
               "; temporary directory: ", temporary ? LogPart(*temporary) : LogPart("none, "),
               temporary ? LogPart("") : LogPart::error(temporary.error())});
}

void log_run_end(const Result<std::int32_t>& outcome, FailureReport where) {
    if (!outcome) {
        const SetupError& error = outcome.error();
        log_event("failure", {error.code() ? "code " : "no code", error.code() ? error_code_text(*error.code()) : "",
                              error.os_error() != 0 ? "; operating-system error: " : "",
                              error.os_error() != 0 ? LogPart::os_error(error.os_error()) : LogPart(""),
                              where == FailureReport::StandardError ? "; written to standard error: "
                                                                    : "; shown in the failure box: ",
                              LogPart::error(error)});
    }
    log_event("exit", {"code ", outcome ? *outcome : outcome.error().exit_code()});
}

SetupError run_log_failure(const SetupError& error) {
    if (error.code() || error.os_error() != ERROR_SHARING_VIOLATION) return error;
    const LanguageTexts texts = load_language_texts(system_ui_language());
    return SetupError::from_text(std::string(localized_text(texts, TextKey::logInUse)));
}

}  // namespace mirel
