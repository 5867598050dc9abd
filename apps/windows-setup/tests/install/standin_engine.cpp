// Stands in for the installer engine: records how it was started and exits with the code that
// the test asked for, both through its environment (inherited from the setup process).
//   MIREL_STANDIN_RECORD  file to write: the command line, a line feed, the program's own path
//   MIREL_STANDIN_EXIT    exit code in decimal (unsigned or negative); 0 when unset
//   MIREL_STANDIN_STDOUT  text to write to the standard output handle it was given
//   MIREL_STANDIN_CWD     file to write its current directory to
//   MIREL_STANDIN_PACKAGE file to write the long form of its package path (the second argument) to,
//                         found while the package exists
//   MIREL_STANDIN_STARTUP file to write to whether its start-up information names standard handles
//   MIREL_STANDIN_SIGNAL  an event handle's value in decimal: set it, which reaches the starter's
//                         event only when the handle was inherited
#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <string>

#include "process.hpp"

namespace {

using mirel::wine_test::narrow;

std::wstring environment(const wchar_t* name) {
    return mirel::wine_test::environment_variable(name).value_or(L"");
}

void write_all(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// Writes what `text` gives to the file that `variable` names, when it names one; false when the
// file cannot be made.
template <typename Text>
bool record(const wchar_t* variable, Text text) {
    const std::wstring path = environment(variable);
    if (path.empty()) return true;
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    write_all(file, text());
    ::CloseHandle(file);
    return true;
}

}  // namespace

int wmain() {
    const auto directory = [] {
        wchar_t directory[32768];
        return narrow(std::wstring(directory, ::GetCurrentDirectoryW(32768, directory)));
    };
    const auto long_package = [] {
        int count = 0;
        wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
        wchar_t package[32768];
        const DWORD length = count > 2 ? ::GetLongPathNameW(arguments[2], package, 32768) : 0;
        ::LocalFree(arguments);
        return narrow(std::wstring(package, length));
    };
    const auto startup_handles = [] {
        STARTUPINFOW startup{};
        ::GetStartupInfoW(&startup);
        return std::string((startup.dwFlags & STARTF_USESTDHANDLES) != 0 ? "standard handles" : "none");
    };
    const auto command_and_program = [] {
        wchar_t module[32768];
        const DWORD length = ::GetModuleFileNameW(nullptr, module, 32768);
        return narrow(::GetCommandLineW()) + "\n" + narrow(std::wstring(module, length));
    };
    // The main record last: a test waits for it.
    if (!record(L"MIREL_STANDIN_CWD", directory) || !record(L"MIREL_STANDIN_PACKAGE", long_package) ||
        !record(L"MIREL_STANDIN_STARTUP", startup_handles) || !record(L"MIREL_STANDIN_RECORD", command_and_program))
        return 90;

    const std::wstring text = environment(L"MIREL_STANDIN_STDOUT");
    if (!text.empty()) write_all(::GetStdHandle(STD_OUTPUT_HANDLE), narrow(text));

    const std::wstring signal = environment(L"MIREL_STANDIN_SIGNAL");
    if (!signal.empty())
        ::SetEvent(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(std::wcstoll(signal.c_str(), nullptr, 10))));

    const std::wstring code = environment(L"MIREL_STANDIN_EXIT");
    const long long value = code.empty() ? 0 : std::wcstoll(code.c_str(), nullptr, 10);
    ::ExitProcess(static_cast<UINT>(value));
}
