// Installed in place of "powershell.exe" in the tamper tests' prefix: runs the test signature
// verifier that sits beside it, with the same command line, environment and standard handles,
// and asks the attacker to stand back before it ends with the verifier's exit code. While it runs,
// the package inspection holds its staged files locked: it marks the attacker's window.
#include <windows.h>

#include <string>
#include <vector>

#include "window_guard.hpp"

int wmain() {
    std::vector<wchar_t> buffer(32768);
    std::wstring verifier(buffer.data(), ::GetModuleFileNameW(nullptr, buffer.data(), 32768));
    verifier = verifier.substr(0, verifier.find_last_of(L'\\')) + L"\\mirel-test-verifier.exe";
    std::wstring command_line = ::GetCommandLineW();

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    DWORD code = 1;
    if (::CreateProcessW(verifier.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                         &started)) {
        ::WaitForSingleObject(started.hProcess, INFINITE);
        ::GetExitCodeProcess(started.hProcess, &code);
        ::CloseHandle(started.hThread);
        ::CloseHandle(started.hProcess);
    }
    mirel::tamper::ask_attacker_to_stand_back();
    return static_cast<int>(code);
}
