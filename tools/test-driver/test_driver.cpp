#include "test_driver.hpp"

#include <commctrl.h>
#include <tlhelp32.h>

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
    std::vector<DWORD> process_ids;
    std::vector<HWND> found;
};

BOOL CALLBACK collect_window(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (std::ranges::find(search->process_ids, owner) != search->process_ids.end() && ::IsWindowVisible(window))
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> visible_windows_of(std::vector<DWORD> process_ids) {
    WindowSearch search{std::move(process_ids), {}};
    ::EnumWindows(collect_window, reinterpret_cast<LPARAM>(&search));
    return search.found;
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

// A 32-bit top-down bitmap to draw on or copy the screen into.
class Canvas {
public:
    Canvas(int width, int height) : dc_(::CreateCompatibleDC(nullptr)), size_(width * height) {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        bits_ = static_cast<std::uint32_t*>(bits);
        previous_ = ::SelectObject(dc_, bitmap_);
    }
    ~Canvas() {
        ::SelectObject(dc_, previous_);
        ::DeleteObject(bitmap_);
        ::DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_; }
    // The colours without the byte that a screen copy leaves undefined.
    std::vector<std::uint32_t> pixels() const {
        std::vector<std::uint32_t> colours(bits_, bits_ + (bits_ == nullptr ? 0 : size_));
        for (std::uint32_t& colour : colours) colour &= 0xFFFFFF;
        return colours;
    }

private:
    HDC dc_;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    std::uint32_t* bits_ = nullptr;
    int size_;
};

}  // namespace

ExitWatch wait_for_exit_without_window(Process& process, DWORD timeout_ms, HWND ignored, bool whole_tree) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    for (;;) {
        if (auto code = process.wait_for_exit(POLL_MS)) return {code, nullptr};
        for (HWND window : whole_tree ? visible_windows_of_tree(process.id()) : visible_windows(process.id())) {
            if (window != ignored) return {std::nullopt, window};
        }
        if (::GetTickCount64() >= deadline) return {};
    }
}

std::vector<HWND> visible_windows(DWORD process_id) {
    return visible_windows_of({process_id});
}

std::vector<HWND> visible_windows_of_tree(DWORD process_id) {
    std::vector<std::pair<DWORD, DWORD>> running;  // each process and its parent
    HandleCloser snapshot{::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)};
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.handle, &entry); more; more = ::Process32NextW(snapshot.handle, &entry))
        running.emplace_back(entry.th32ProcessID, entry.th32ParentProcessID);
    std::vector<DWORD> tree = {process_id};
    for (std::size_t i = 0; i < tree.size(); ++i) {
        for (const auto& [id, parent] : running) {
            if (parent == tree[i] && std::ranges::find(tree, id) == tree.end()) tree.push_back(id);
        }
    }
    return visible_windows_of(std::move(tree));
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

BoxIcon message_box_icon(HWND box, DWORD timeout_ms) {
    HWND icon = nullptr;
    for (const Control& control : controls(box)) {
        const LONG type = ::GetWindowLongW(control.window, GWL_STYLE) & SS_TYPEMASK;
        if (control.visible && same_name(control.class_name, L"Static") && type == SS_ICON) icon = control.window;
    }
    RECT area{};
    if (icon == nullptr || !::GetWindowRect(icon, &area)) return BoxIcon::None;
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    const std::pair<BoxIcon, const wchar_t*> system_icons[] = {{BoxIcon::Error, IDI_ERROR},
                                                               {BoxIcon::Warning, IDI_WARNING},
                                                               {BoxIcon::Information, IDI_INFORMATION},
                                                               {BoxIcon::Question, IDI_QUESTION}};
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    do {
        Canvas screen(width, height);
        HDC screen_dc = ::GetDC(nullptr);
        ::BitBlt(screen.dc(), 0, 0, width, height, screen_dc, area.left, area.top, SRCCOPY);
        ::ReleaseDC(nullptr, screen_dc);
        const std::vector<std::uint32_t> shown = screen.pixels();
        if (shown.empty()) return BoxIcon::Other;
        for (const auto& [name, id] : system_icons) {
            // The corner of every system icon is transparent: it shows the box's background.
            Canvas drawn(width, height);
            const COLORREF background = RGB(shown[0] >> 16 & 0xFF, shown[0] >> 8 & 0xFF, shown[0] & 0xFF);
            HBRUSH brush = ::CreateSolidBrush(background);
            const RECT all{0, 0, width, height};
            ::FillRect(drawn.dc(), &all, brush);
            ::DeleteObject(brush);
            ::DrawIconEx(drawn.dc(), 0, 0, ::LoadIconW(nullptr, id), width, height, 0, nullptr, DI_NORMAL);
            if (drawn.pixels() == shown) return name;
        }
        ::Sleep(POLL_MS);
    } while (::GetTickCount64() < deadline);
    return BoxIcon::Other;
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
