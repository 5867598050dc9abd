#include "wine_test_support.hpp"

#include <gtest/gtest.h>

namespace mirel::wine_test {

std::wstring setup_program() {
    wchar_t value[4096];
    const DWORD length = ::GetEnvironmentVariableW(L"MIREL_SETUP_PROGRAM", value, 4096);
    if (length > 0 && length < 4096) return std::wstring(value, length);
    return windows_path(MIREL_SETUP_PROGRAM);
}

std::wstring built_program(std::wstring_view file_name) {
    return windows_path(MIREL_PROGRAM_DIR) + L"\\" + std::wstring(file_name);
}

Environment temp_environment(const std::wstring& directory) {
    return {{L"TMP", directory}, {L"TEMP", directory}};
}

std::unique_ptr<Process> start_setup(std::vector<std::wstring> arguments, Environment environment,
                                     bool capture_standard_error, std::wstring program) {
    LaunchRequest request;
    request.program = program.empty() ? setup_program() : std::move(program);
    request.arguments = std::move(arguments);
    request.environment = std::move(environment);
    request.capture_standard_error = capture_standard_error;
    return start_process(request);
}

}  // namespace mirel::wine_test
