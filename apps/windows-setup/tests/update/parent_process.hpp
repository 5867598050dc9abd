#pragma once

// A stand-in update parent: the sleeper program, started beside the test program.

#include <windows.h>

#include <string>

namespace mirel::test {

class ParentProcess {
public:
    explicit ParentProcess(unsigned milliseconds) {
        wchar_t module[MAX_PATH + 1];
        std::wstring program(module, ::GetModuleFileNameW(nullptr, module, MAX_PATH + 1));
        program = program.substr(0, program.find_last_of(L'\\')) + L"\\update_parent_sleeper.exe";
        std::wstring command_line = L"sleeper " + std::to_wstring(milliseconds);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION started{};
        if (::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &started)) {
            process_ = started.hProcess;
            ::CloseHandle(started.hThread);
            id_ = started.dwProcessId;
        }
    }
    ~ParentProcess() {
        if (process_ == nullptr) return;
        ::TerminateProcess(process_, 1);
        ::CloseHandle(process_);
    }
    ParentProcess(const ParentProcess&) = delete;
    ParentProcess& operator=(const ParentProcess&) = delete;

    bool started() const { return process_ != nullptr; }
    DWORD id() const { return id_; }
    bool running() const { return ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
    void wait() const { ::WaitForSingleObject(process_, INFINITE); }
    // Lets go of the process object, so that an ended process's id names nothing any more.
    void forget() {
        ::CloseHandle(process_);
        process_ = nullptr;
    }

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

}  // namespace mirel::test
