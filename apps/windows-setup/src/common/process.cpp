#include "common/process.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "common/win32.hpp"

namespace mirel {
namespace {

// How often a child whose output is read is looked at. Its pipe holds all that is kept of the
// output, so only a child that writes more waits for the next look. Looking every 10 ms made a
// validation run with a log about 3% slower under Wine.
constexpr DWORD OUTPUT_POLL_MS = 100;

bool is_handle(HANDLE handle) {
    return !HandleTraits::is_empty(handle);
}

struct AttributeListDeleter {
    void operator()(LPPROC_THREAD_ATTRIBUTE_LIST list) const noexcept {
        os::DeleteProcThreadAttributeList(list);
        delete[] reinterpret_cast<std::byte*>(list);
    }
};
using AttributeList = std::unique_ptr<std::remove_pointer_t<LPPROC_THREAD_ATTRIBUTE_LIST>, AttributeListDeleter>;

// An attribute list that lets the child inherit `handles` and nothing else. A handle of ours that
// happens to be inheritable (one this process inherited itself, say) must not reach a child that
// may run with other rights.
std::optional<AttributeList> inheriting_only(std::vector<HANDLE>& handles) {
    SIZE_T size = 0;
    os::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    auto* storage = new std::byte[size];
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage);
    if (!os::InitializeProcThreadAttributeList(list, 1, 0, &size)) {
        delete[] storage;
        return std::nullopt;
    }
    AttributeList owned(list);
    if (!os::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                       handles.size() * sizeof(HANDLE), nullptr, nullptr))
        return std::nullopt;
    return owned;
}

}  // namespace

// Moves what the pipe holds now into `output`, up to the limit; the rest is read and dropped, so
// that a chatty child never blocks on a full pipe.
void drain(HANDLE pipe, std::string& output) {
    char buffer[4096];
    DWORD available = 0;
    while (os::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        DWORD read = 0;
        if (!os::ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &read, nullptr) || read == 0) return;
        output.append(buffer,
                      std::min<std::size_t>(read, CHILD_OUTPUT_LIMIT - std::min(output.size(), CHILD_OUTPUT_LIMIT)));
    }
}

bool process_running_since(DWORD process_id, std::uint64_t filetime) {
    const UniqueHandle process(os::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
    // No such process; any other refusal (another user's, a protected one) may be a live one.
    if (!process) return os::GetLastError() != ERROR_INVALID_PARAMETER;
    // Ended, though somebody still holds it open.
    if (os::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) return false;
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!os::GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) return true;
    return ((std::uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime) <= filetime;
}

Result<std::uint32_t> run_child_and_wait(const ChildStart& child) {
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    std::vector<HANDLE> inherited;
    if (child.pass_standard_handles && child.output == nullptr) {
        const std::array<HANDLE, 3> standard = {os::GetStdHandle(STD_INPUT_HANDLE), os::GetStdHandle(STD_OUTPUT_HANDLE),
                                                os::GetStdHandle(STD_ERROR_HANDLE)};
        // Only handles that the child inherits mean anything in it: any other value would name
        // whatever the child happens to have under that number. A program started from the
        // desktop has none, and then the child is told of none.
        std::array<HANDLE, 3> passed{};
        for (std::size_t i = 0; i < standard.size(); ++i) {
            DWORD information = 0;
            if (!is_handle(standard[i]) || !os::GetHandleInformation(standard[i], &information) ||
                (information & HANDLE_FLAG_INHERIT) == 0)
                continue;
            passed[i] = standard[i];
            if (std::ranges::find(inherited, standard[i]) == inherited.end()) inherited.push_back(standard[i]);
        }
        if (!inherited.empty()) {
            startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
            startup.StartupInfo.hStdInput = passed[0];
            startup.StartupInfo.hStdOutput = passed[1];
            startup.StartupInfo.hStdError = passed[2];
        }
    }
    UniqueHandle output_read;
    UniqueHandle output_write;
    if (child.output != nullptr) {
        // Inheritable, but only the writing end is on the child's list of handles to inherit.
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        if (!os::CreatePipe(output_read.put(), output_write.put(), &inheritable, CHILD_OUTPUT_LIMIT))
            return fail(last_os_error());
        inherited.push_back(output_write.get());
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = nullptr;
        startup.StartupInfo.hStdOutput = output_write.get();
        startup.StartupInfo.hStdError = output_write.get();
    }
    std::optional<AttributeList> attributes;
    DWORD flags = child.flags | CREATE_UNICODE_ENVIRONMENT;
    if (!inherited.empty()) {
        attributes = inheriting_only(inherited);
        if (!attributes) return fail(last_os_error());
        startup.lpAttributeList = attributes->get();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }

    std::wstring command_line = child.command_line;  // CreateProcessW may write into it
    PROCESS_INFORMATION started{};
    if (!os::CreateProcessW(child.program.c_str(), command_line.data(), nullptr, nullptr,
                            inherited.empty() ? FALSE : TRUE, flags, const_cast<wchar_t*>(child.environment),
                            child.current_directory.empty() ? nullptr : child.current_directory.c_str(),
                            &startup.StartupInfo, &started)) {
        return fail(last_os_error());
    }
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);

    if (child.output != nullptr) {
        // The child's end is the child's alone now: the pipe ends when the child does.
        output_write.reset();
        for (;;) {
            const DWORD waited = os::WaitForSingleObject(process.get(), OUTPUT_POLL_MS);
            drain(output_read.get(), *child.output);
            if (waited == WAIT_OBJECT_0) break;
            if (waited != WAIT_TIMEOUT) return fail(last_os_error());
        }
    } else if (os::WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) {
        return fail(last_os_error());
    }
    DWORD exit_code = 0;
    if (!os::GetExitCodeProcess(process.get(), &exit_code)) return fail(last_os_error());
    return std::uint32_t{exit_code};
}

}  // namespace mirel
