// Stands in for "msiexec.exe" and takes its time, so that an attacker has a long window while the
// package is handed over. Throughout that time it compares the package named on its command line
// with the bytes the program embeds, which shows what a real engine would have installed.
// Settings come through the environment inherited from the setup program:
//   MIREL_TAMPER_RECORD    file to write the record to (see the end of wmain)
//   MIREL_TAMPER_EXPECTED  folder holding the embedded packages under their own names
//   MIREL_TAMPER_ENGINE_MS how long to run, in milliseconds
//   MIREL_TAMPER_EXIT      the exit code to end with, in decimal
//   MIREL_TAMPER_STARTED   file to create as soon as it runs (optional)

#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_driver.hpp"
#include "window_guard.hpp"

namespace {

using mirel::test_driver::narrow;

constexpr DWORD CHECK_INTERVAL_MS = 250;

std::wstring environment(const wchar_t* name) {
    return mirel::wine_test::environment_variable(name).value_or(L"");
}

// The whole file, read with the sharing an installer engine grants: readers only.
bool read_whole(const std::wstring& path, std::string& bytes, DWORD& error) {
    const HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        return false;
    }
    bytes.clear();
    std::vector<char> chunk(1 << 20);
    DWORD read = 0;
    bool ok = true;
    while ((ok = ::ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr) != 0) && read > 0)
        bytes.append(chunk.data(), read);
    if (!ok) error = ::GetLastError();
    ::CloseHandle(file);
    return ok;
}

}  // namespace

int wmain() {
    if (const std::wstring started = environment(L"MIREL_TAMPER_STARTED"); !started.empty())
        ::CloseHandle(::CreateFileW(started.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    const std::wstring package = argc > 2 ? argv[2] : L"";
    const std::wstring name = package.substr(package.find_last_of(L'\\') + 1);

    std::string expected;
    DWORD error = 0;
    const bool have_expected = read_whole(environment(L"MIREL_TAMPER_EXPECTED") + L"\\" + name, expected, error);

    // Compared at the start, every quarter second and once more at the very end.
    const ULONGLONG deadline = ::GetTickCount64() + std::wcstoul(environment(L"MIREL_TAMPER_ENGINE_MS").c_str(), nullptr, 10);
    long checks = 0;
    long mismatches = 0;
    std::string first_problem;
    std::string seen;
    for (bool last = false; !last;) {
        last = ::GetTickCount64() >= deadline;
        ++checks;
        DWORD read_error = 0;
        const bool read = read_whole(package, seen, read_error);
        if (!read || !have_expected || seen != expected) {
            ++mismatches;
            if (first_problem.empty()) {
                first_problem = !have_expected ? "no expected bytes (error " + std::to_string(error) + ")"
                                : !read        ? "package unreadable (error " + std::to_string(read_error) + ")"
                                               : "package differs, " + std::to_string(seen.size()) + " bytes";
            }
        }
        if (!last) ::Sleep(CHECK_INTERVAL_MS);
    }

    mirel::tamper::ask_attacker_to_stand_back();

    std::string record = "command\t" + narrow(::GetCommandLineW()) + "\npackage\t" + narrow(package) +
                         "\nbytes\t" + std::to_string(expected.size()) + "\nchecks\t" + std::to_string(checks) +
                         "\nmismatches\t" + std::to_string(mismatches) + "\nproblem\t" + first_problem + "\n";
    const HANDLE file = ::CreateFileW(environment(L"MIREL_TAMPER_RECORD").c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ::WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    ::LocalFree(argv);
    ::ExitProcess(static_cast<UINT>(std::wcstol(environment(L"MIREL_TAMPER_EXIT").c_str(), nullptr, 10)));
}
