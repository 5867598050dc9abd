#include "test_driver.hpp"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>

namespace mirel::test_driver {
namespace {

constexpr DWORD POLL_MS = 20;
// Messages to the program's windows wait this long for an answer. They never abort early for a
// "hung" thread: a thread counts as hung when it has not read its queue for five seconds, which is
// true of the program right after a long installation, between showing a message box and entering
// its message loop; such a message would fail at once on a box that is about to answer.
constexpr UINT MESSAGE_TIMEOUT_MS = 5000;
constexpr DWORD PIPE_BUFFER_SIZE = 1 << 20;

struct HandleCloser {
    HANDLE handle;
    ~HandleCloser() {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    }
};

bool same_name(std::wstring_view a, std::wstring_view b) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

// The driver's environment with the request's additions, as a CREATE_UNICODE_ENVIRONMENT block.
std::wstring environment_block(const std::vector<std::pair<std::wstring, std::wstring>>& additions) {
    std::vector<std::wstring> entries;
    if (wchar_t* current = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = current; *entry != L'\0'; entry += wcslen(entry) + 1) entries.emplace_back(entry);
        ::FreeEnvironmentStringsW(current);
    }
    for (const auto& [name, value] : additions) {
        const auto has_name = [&](const std::wstring& entry) {
            // Entries such as "=C:=C:\" keep their leading '=' as part of the name.
            const std::size_t equals = entry.find(L'=', 1);
            return equals != std::wstring::npos && same_name(std::wstring_view(entry).substr(0, equals), name);
        };
        std::erase_if(entries, has_name);
        entries.push_back(name + L"=" + value);
    }
    std::wstring block;
    for (const std::wstring& entry : entries) {
        block += entry;
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

std::wstring message_text(HWND window) {
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, MESSAGE_TIMEOUT_MS, &length)) {
        return {};
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                               SMTO_NORMAL, MESSAGE_TIMEOUT_MS, &copied)) {
        return {};
    }
    text.resize(std::min<std::size_t>(copied, length));
    return text;
}

// A command link's note lives in the other process and BCM_GETNOTE is not marshalled between
// processes, so the buffers for it are placed in that process's memory.
std::wstring command_link_note(HWND button, DWORD process_id) {
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(button, BCM_GETNOTELENGTH, 0, 0, SMTO_NORMAL, MESSAGE_TIMEOUT_MS, &length) ||
        length == 0) {
        return {};
    }
    HandleCloser process{::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process_id)};
    if (process.handle == nullptr) return {};
    const DWORD capacity = static_cast<DWORD>(length + 1);
    const SIZE_T bytes = sizeof(DWORD) * 2 + capacity * sizeof(wchar_t);
    auto* remote = static_cast<std::byte*>(
        ::VirtualAllocEx(process.handle, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (remote == nullptr) return {};
    std::wstring note;
    SIZE_T moved = 0;
    DWORD_PTR result = 0;
    if (::WriteProcessMemory(process.handle, remote, &capacity, sizeof(capacity), &moved) &&
        ::SendMessageTimeoutW(button, BCM_GETNOTE, reinterpret_cast<WPARAM>(remote),
                              reinterpret_cast<LPARAM>(remote + sizeof(DWORD) * 2), SMTO_NORMAL,
                              MESSAGE_TIMEOUT_MS, &result) &&
        result != 0) {
        std::wstring buffer(capacity, L'\0');
        if (::ReadProcessMemory(process.handle, remote + sizeof(DWORD) * 2, buffer.data(),
                                capacity * sizeof(wchar_t), &moved)) {
            note.assign(buffer.c_str());
        }
    }
    ::VirtualFreeEx(process.handle, remote, 0, MEM_RELEASE);
    return note;
}

struct WindowSearch {
    DWORD process_id;
    std::vector<HWND> found;
};

BOOL CALLBACK collect_window(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == search->process_id && ::IsWindowVisible(window)) search->found.push_back(window);
    return TRUE;
}

struct ChildSearch {
    HWND parent;
    std::vector<HWND> found;
};

BOOL CALLBACK collect_child(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<ChildSearch*>(parameter);
    if (::GetParent(window) == search->parent) search->found.push_back(window);
    return TRUE;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
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
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        append_utf8(out, c);
    }
    return out;
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

struct Process::ErrorReader {
    HANDLE pipe = nullptr;
    std::string bytes;

    ~ErrorReader() {
        if (pipe != nullptr) ::CloseHandle(pipe);
    }

    // Non-blocking: a grandchild that inherited the write end must not make the driver hang.
    void drain() {
        DWORD available = 0;
        while (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            std::string chunk(available, '\0');
            DWORD read = 0;
            if (!::ReadFile(pipe, chunk.data(), available, &read, nullptr) || read == 0) return;
            bytes.append(chunk.data(), read);
        }
    }
};

std::pair<std::unique_ptr<Process>, std::string> Process::start(const LaunchRequest& request) {
    std::unique_ptr<Process> process(new Process());
    process->command_line_.push_back(L'"');
    process->command_line_ += request.program;
    process->command_line_.push_back(L'"');
    for (const std::wstring& argument : request.arguments) {
        process->command_line_.push_back(L' ');
        append_quoted_argument(process->command_line_, argument);
    }
    std::wstring environment = environment_block(request.environment);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    HANDLE error_write = nullptr;
    if (request.capture_standard_error) {
        SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
        HANDLE error_read = nullptr;
        if (!::CreatePipe(&error_read, &error_write, &inheritable, PIPE_BUFFER_SIZE)) {
            return {nullptr, "CreatePipe failed: " + std::to_string(::GetLastError())};
        }
        ::SetHandleInformation(error_read, HANDLE_FLAG_INHERIT, 0);
        process->error_reader_ = std::make_unique<ErrorReader>();
        process->error_reader_->pipe = error_read;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdError = error_write;
    }
    std::wstring command_line = process->command_line_;
    PROCESS_INFORMATION info{};
    const BOOL started = ::CreateProcessW(
        request.program.c_str(), command_line.data(), nullptr, nullptr, request.capture_standard_error,
        CREATE_UNICODE_ENVIRONMENT, environment.data(),
        request.working_directory.empty() ? nullptr : request.working_directory.c_str(), &startup, &info);
    const DWORD error = ::GetLastError();
    if (error_write != nullptr) ::CloseHandle(error_write);
    if (!started) return {nullptr, "CreateProcessW failed with error " + std::to_string(error)};
    ::CloseHandle(info.hThread);
    process->process_ = info.hProcess;
    process->id_ = info.dwProcessId;
    return {std::move(process), std::string()};
}

Process::~Process() {
    if (process_ == nullptr) return;
    terminate();
    ::CloseHandle(process_);
}

std::optional<std::uint32_t> Process::wait_for_exit(DWORD timeout_ms) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    for (;;) {
        if (error_reader_) error_reader_->drain();
        const ULONGLONG now = ::GetTickCount64();
        const DWORD slice = now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, POLL_MS));
        if (::WaitForSingleObject(process_, slice) == WAIT_OBJECT_0) break;
        if (slice == 0) return std::nullopt;
    }
    if (error_reader_) error_reader_->drain();
    DWORD code = 0;
    if (!::GetExitCodeProcess(process_, &code)) return std::nullopt;
    return code;
}

bool Process::has_exited() const { return ::WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }

void Process::terminate() {
    if (has_exited()) return;
    ::TerminateProcess(process_, 0xDEAD);
    ::WaitForSingleObject(process_, 10000);
}

std::string Process::standard_error() {
    if (!error_reader_) return {};
    error_reader_->drain();
    return error_reader_->bytes;
}

ExitWatch wait_for_exit_without_window(Process& process, DWORD timeout_ms, HWND ignored) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    for (;;) {
        if (auto code = process.wait_for_exit(POLL_MS)) return {code, nullptr};
        for (HWND window : visible_windows(process.id())) {
            if (window != ignored) return {std::nullopt, window};
        }
        if (::GetTickCount64() >= deadline) return {};
    }
}

std::vector<HWND> visible_windows(DWORD process_id) {
    WindowSearch search{process_id, {}};
    ::EnumWindows(collect_window, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND wait_for_window(DWORD process_id, std::wstring_view caption, DWORD timeout_ms) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    for (;;) {
        for (HWND window : visible_windows(process_id)) {
            if (window_text(window) == caption) return window;
        }
        if (::GetTickCount64() >= deadline) return nullptr;
        ::Sleep(POLL_MS);
    }
}

HWND wait_for_any_window(DWORD process_id, DWORD timeout_ms) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    for (;;) {
        const std::vector<HWND> windows = visible_windows(process_id);
        if (!windows.empty()) return windows.front();
        if (::GetTickCount64() >= deadline) return nullptr;
        ::Sleep(POLL_MS);
    }
}

bool wait_for_window_gone(HWND window, DWORD timeout_ms) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    while (::IsWindow(window) && ::IsWindowVisible(window)) {
        if (::GetTickCount64() >= deadline) return false;
        ::Sleep(POLL_MS);
    }
    return true;
}

std::wstring window_text(HWND window) { return message_text(window); }

std::wstring class_name(HWND window) {
    wchar_t name[256] = {};
    const int length = ::GetClassNameW(window, name, 256);
    return std::wstring(name, static_cast<std::size_t>(std::max(length, 0)));
}

std::vector<Control> controls(HWND dialog) {
    ChildSearch search{dialog, {}};
    ::EnumChildWindows(dialog, collect_child, reinterpret_cast<LPARAM>(&search));
    DWORD process_id = 0;
    ::GetWindowThreadProcessId(dialog, &process_id);
    std::vector<Control> result;
    for (HWND child : search.found) {
        Control control;
        control.window = child;
        control.id = static_cast<int>(static_cast<short>(::GetDlgCtrlID(child) & 0xFFFF));
        if (control.id == -1) control.id = 65535;  // the static id of message boxes, unsigned as documented
        control.class_name = class_name(child);
        control.visible = ::IsWindowVisible(child) != FALSE;
        control.text = same_name(control.class_name, L"Button") ? button_text(child, process_id) : window_text(child);
        result.push_back(std::move(control));
    }
    return result;
}

std::optional<std::wstring> message_box_text(HWND box) {
    HWND text = ::GetDlgItem(box, 0xFFFF);
    if (text == nullptr) return std::nullopt;
    return window_text(text);
}

std::vector<Control> buttons(HWND dialog) {
    std::vector<Control> result;
    for (Control& control : controls(dialog)) {
        if (same_name(control.class_name, L"Button") && control.visible) result.push_back(std::move(control));
    }
    return result;
}

std::wstring button_text(HWND button, DWORD process_id) {
    std::wstring text = window_text(button);
    const LONG type = ::GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK;
    if (type == BS_COMMANDLINK || type == BS_DEFCOMMANDLINK) {
        const std::wstring note = command_link_note(button, process_id);
        if (!note.empty()) text += L"\n" + note;
    }
    return text;
}

bool click_button(HWND dialog, int id) {
    HWND button = ::GetDlgItem(dialog, id);
    if (button == nullptr || !same_name(class_name(button), L"Button")) return false;
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, MESSAGE_TIMEOUT_MS, &result) != 0;
}

std::optional<Key> key_from_name(std::string_view name) {
    if (name == "return" || name == "enter") return Key::Return;
    if (name == "escape") return Key::Escape;
    if (name == "alt+f4") return Key::AltF4;
    if (name == "down") return Key::Down;
    if (name == "up") return Key::Up;
    if (name == "tab") return Key::Tab;
    return std::nullopt;
}

bool press_key(HWND window, Key key) {
    DWORD thread = ::GetWindowThreadProcessId(window, nullptr);
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    HWND target = window;
    if (::GetGUIThreadInfo(thread, &gui) && gui.hwndFocus != nullptr &&
        (gui.hwndFocus == window || ::IsChild(window, gui.hwndFocus))) {
        target = gui.hwndFocus;
    }
    UINT virtual_key = 0;
    switch (key) {
        case Key::Return: virtual_key = VK_RETURN; break;
        case Key::Escape: virtual_key = VK_ESCAPE; break;
        case Key::AltF4: virtual_key = VK_F4; break;
        case Key::Down: virtual_key = VK_DOWN; break;
        case Key::Up: virtual_key = VK_UP; break;
        case Key::Tab: virtual_key = VK_TAB; break;
    }
    const LPARAM scan = static_cast<LPARAM>(::MapVirtualKeyW(virtual_key, MAPVK_VK_TO_VSC)) << 16;
    if (key == Key::AltF4) {
        // The context bit (29) is what tells the window procedure that Alt is held.
        constexpr LPARAM ALT_HELD = LPARAM{1} << 29;
        constexpr LPARAM RELEASED = (LPARAM{1} << 30) | (LPARAM{1} << 31);
        return ::PostMessageW(target, WM_SYSKEYDOWN, virtual_key, 1 | scan | ALT_HELD) &&
               ::PostMessageW(target, WM_SYSKEYUP, virtual_key, 1 | scan | ALT_HELD | RELEASED);
    }
    constexpr LPARAM RELEASED = (LPARAM{1} << 30) | (LPARAM{1} << 31);
    return ::PostMessageW(target, WM_KEYDOWN, virtual_key, 1 | scan) &&
           ::PostMessageW(target, WM_KEYUP, virtual_key, 1 | scan | RELEASED);
}

void settle(HANDLE process, HWND window) {
    ::WaitForInputIdle(process, 2000);
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, MESSAGE_TIMEOUT_MS, &result);
    // Painting happens when the program's queue runs empty, after the message above.
    ::Sleep(250);
    ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, MESSAGE_TIMEOUT_MS, &result);
}

std::string save_screenshot(HWND window, const std::wstring& bmp_path) {
    RECT area{};
    if (window != nullptr) {
        if (!::GetWindowRect(window, &area)) return "GetWindowRect failed";
    } else {
        area = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    }
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return "the window has no area";

    HDC screen = ::GetDC(nullptr);
    if (screen == nullptr) return "GetDC failed";
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    const BOOL copied = ::BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY | CAPTUREBLT);
    ::SelectObject(memory, previous);

    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;  // bottom-up, as BMP files store rows
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::string pixels(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height), '\0');
    const int rows = copied ? ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                                          reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS)
                            : 0;
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    if (rows != height) return "capturing the screen failed";

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    header.biSizeImage = static_cast<DWORD>(pixels.size());

    HandleCloser out{::CreateFileW(bmp_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (out.handle == INVALID_HANDLE_VALUE) return "cannot create the file, error " + std::to_string(::GetLastError());
    DWORD written = 0;
    const bool ok = ::WriteFile(out.handle, &file, sizeof(file), &written, nullptr) &&
                    ::WriteFile(out.handle, &header, sizeof(header), &written, nullptr) &&
                    ::WriteFile(out.handle, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
    return ok ? std::string() : "writing the file failed";
}

std::string escape(std::wstring_view text) {
    std::string out;
    for (const char c : narrow(text)) {
        switch (c) {
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char hex[8];
                    std::snprintf(hex, sizeof(hex), "\\x%02X", static_cast<unsigned char>(c));
                    out += hex;
                } else {
                    out.push_back(c);
                }
        }
    }
    return out;
}

std::string describe_window(HWND window) {
    std::string out = "window \"" + escape(window_text(window)) + "\" class \"" + escape(class_name(window)) + "\"\n";
    for (const Control& control : controls(window)) {
        if (!control.visible) continue;
        out += "  control " + std::to_string(control.id) + " " + escape(control.class_name) + " \"" +
               escape(control.text) + "\"\n";
    }
    return out;
}

}  // namespace mirel::test_driver
