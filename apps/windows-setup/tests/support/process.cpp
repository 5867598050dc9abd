#include "process.hpp"

#include <algorithm>
#include <cwchar>

namespace mirel::wine_test {
namespace {

constexpr DWORD POLL_MS = 20;
constexpr DWORD PIPE_BUFFER_SIZE = 1 << 20;

bool same_name(std::wstring_view a, std::wstring_view b) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// The caller's environment with the request's changes, as a CREATE_UNICODE_ENVIRONMENT block.
std::wstring environment_block(const LaunchRequest& request) {
    std::vector<std::wstring> entries;
    if (wchar_t* current = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = current; *entry != L'\0'; entry += std::wcslen(entry) + 1)
            entries.emplace_back(entry);
        ::FreeEnvironmentStringsW(current);
    }
    const auto replaced = [&](const std::wstring& entry) {
        // Entries such as "=C:=C:\" keep their leading '=' as part of the name.
        const std::wstring_view name = std::wstring_view(entry).substr(0, entry.find(L'=', 1));
        return std::ranges::any_of(request.environment, [&](const auto& set) { return same_name(set.first, name); }) ||
               std::ranges::any_of(request.removed_environment,
                                   [&](const auto& gone) { return same_name(gone, name); });
    };
    std::erase_if(entries, replaced);
    std::wstring block;
    for (const std::wstring& entry : entries) block.append(entry).push_back(L'\0');
    for (const auto& [name, value] : request.environment) block.append(name + L"=" + value).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

}  // namespace

std::wstring widen(std::string_view text) {
    if (text.empty()) return {};
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string narrow(std::wstring_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, bytes.data(), length, nullptr, nullptr);
    return bytes;
}

void append_quoted_argument(std::wstring& command_line, std::wstring_view argument) {
    const bool quote = argument.empty() || argument.find_first_of(L" \t") != std::wstring_view::npos;
    if (quote) command_line.push_back(L'"');
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') backslashes = backslashes * 2 + 1;
        command_line.append(backslashes, L'\\');
        backslashes = 0;
        command_line.push_back(c);
    }
    command_line.append(quote ? backslashes * 2 : backslashes, L'\\');
    if (quote) command_line.push_back(L'"');
}

std::optional<std::wstring> environment_variable(const wchar_t* name) {
    std::wstring value(32767, L'\0');
    ::SetLastError(ERROR_SUCCESS);  // an empty value also gives a length of 0
    const DWORD length = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (length == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    value.resize(length);
    return value;
}

std::string StartFailure::text() const {
    return "cannot start " + narrow(program) + " (os error " + std::to_string(os_error) + ")";
}

Process::Pipe::~Pipe() {
    if (read != nullptr) ::CloseHandle(read);
}

bool Process::Pipe::open(HANDLE& child_end) {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    if (!::CreatePipe(&read, &child_end, &inheritable, PIPE_BUFFER_SIZE)) return false;
    ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    return true;
}

// Never blocks: a grandchild that inherited the write end must not make the caller hang.
void Process::Pipe::drain() {
    DWORD available = 0;
    while (read != nullptr && ::PeekNamedPipe(read, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        std::string chunk(available, '\0');
        DWORD count = 0;
        if (!::ReadFile(read, chunk.data(), available, &count, nullptr) || count == 0) return;
        bytes.append(chunk.data(), count);
    }
}

std::expected<std::unique_ptr<Process>, StartFailure> Process::start(const LaunchRequest& request) {
    std::unique_ptr<Process> process(new Process());
    append_quoted_argument(process->command_line_, request.program);
    for (const std::wstring& argument : request.arguments) {
        process->command_line_.push_back(L' ');
        append_quoted_argument(process->command_line_, argument);
    }
    std::wstring environment = environment_block(request);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    const bool capture = request.capture_standard_output || request.capture_standard_error;
    if (capture) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
        if ((request.capture_standard_output && !process->output_.open(startup.hStdOutput)) ||
            (request.capture_standard_error && !process->error_.open(startup.hStdError))) {
            return std::unexpected(StartFailure{request.program, ::GetLastError()});
        }
    }
    std::wstring command_line = process->command_line_;
    PROCESS_INFORMATION info{};
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (request.no_console_window ? CREATE_NO_WINDOW : 0);
    const BOOL started = ::CreateProcessW(
        request.program.c_str(), command_line.data(), nullptr, nullptr, capture, flags, environment.data(),
        request.working_directory.empty() ? nullptr : request.working_directory.c_str(), &startup, &info);
    const DWORD error = ::GetLastError();
    // The child holds its own copies of the write ends now; the pipes end when it does.
    if (request.capture_standard_output) ::CloseHandle(startup.hStdOutput);
    if (request.capture_standard_error) ::CloseHandle(startup.hStdError);
    if (!started) return std::unexpected(StartFailure{request.program, error});
    ::CloseHandle(info.hThread);
    process->process_ = info.hProcess;
    process->id_ = info.dwProcessId;
    return process;
}

Process::~Process() {
    if (process_ == nullptr) return;
    terminate();
    ::CloseHandle(process_);
}

void Process::drain() {
    output_.drain();
    error_.drain();
}

std::optional<std::uint32_t> Process::wait_for_exit(DWORD timeout_ms) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    for (;;) {
        drain();
        const ULONGLONG now = ::GetTickCount64();
        const DWORD slice = now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, POLL_MS));
        if (::WaitForSingleObject(process_, slice) == WAIT_OBJECT_0) break;
        if (slice == 0) return std::nullopt;
    }
    drain();
    DWORD code = 0;
    if (!::GetExitCodeProcess(process_, &code)) return std::nullopt;
    return code;
}

bool Process::has_exited() const {
    return ::WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
}

void Process::terminate() {
    if (has_exited()) return;
    ::TerminateProcess(process_, 0xDEAD);
    ::WaitForSingleObject(process_, 10000);
}

std::string Process::standard_output() {
    output_.drain();
    return output_.bytes;
}

std::string Process::standard_error() {
    error_.drain();
    return error_.bytes;
}

}  // namespace mirel::wine_test
