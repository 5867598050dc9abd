// Starting a program as the signed-in user from an elevated process. Windows has no call for it,
// but the desktop's shell runs unelevated as that user, and its documented automation objects let
// another process ask it to open a file: the shell windows collection gives the desktop's window,
// the background object of its view gives the shell's Application object, and that opens the file
// as a double click in the shell would.
#include "install/desktop_shell.hpp"

#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "common/com_owners.hpp"

namespace mirel {
namespace {

// Variants that borrow their value; none of them owns anything to clear.
VARIANT text_variant(const UniqueBstr& text) {
    VARIANT variant{};
    variant.vt = VT_BSTR;
    variant.bstrVal = text.get();
    return variant;
}
VARIANT number_variant(LONG number) {
    VARIANT variant{};
    variant.vt = VT_I4;
    variant.lVal = number;
    return variant;
}

std::unexpected<ShellRefusal> refused(const char* call, HRESULT result) {
    return std::unexpected(ShellRefusal{call, result});
}

// Inside an apartment of this thread; every object is released again before it returns.
std::expected<void, ShellRefusal> open_in_apartment(const std::wstring& file, const std::wstring& folder) {
    ComPointer<IShellWindows> windows;
    HRESULT result =
        os::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows, slot(windows));
    if (FAILED(result)) return refused("CoCreateInstance of the shell windows", result);
    VARIANT desktop = number_variant(CSIDL_DESKTOP);
    VARIANT none{};
    LONG window = 0;
    ComPointer<IDispatch> found;
    result = windows.get()->FindWindowSW(&desktop, &none, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, found.put());
    // S_FALSE and nothing: this session has no desktop window.
    if (FAILED(result) || !found) return refused("IShellWindows::FindWindowSW", result);
    ComPointer<IServiceProvider> services;
    if (FAILED(result = found.get()->QueryInterface(IID_IServiceProvider, slot(services))))
        return refused("the desktop's IServiceProvider", result);
    ComPointer<IShellBrowser> browser;
    if (FAILED(result = services.get()->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, slot(browser))))
        return refused("IServiceProvider::QueryService", result);
    ComPointer<IShellView> view;
    if (FAILED(result = browser.get()->QueryActiveShellView(view.put())))
        return refused("IShellBrowser::QueryActiveShellView", result);
    ComPointer<IDispatch> background;
    if (FAILED(result = view.get()->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, slot(background))))
        return refused("IShellView::GetItemObject", result);
    ComPointer<IShellFolderViewDual> folder_view;
    if (FAILED(result = background.get()->QueryInterface(IID_IShellFolderViewDual, slot(folder_view))))
        return refused("the view's IShellFolderViewDual", result);
    ComPointer<IDispatch> application;
    if (FAILED(result = folder_view.get()->get_Application(application.put())))
        return refused("IShellFolderViewDual::get_Application", result);
    ComPointer<IShellDispatch2> shell;
    if (FAILED(result = application.get()->QueryInterface(IID_IShellDispatch2, slot(shell))))
        return refused("the shell's IShellDispatch2", result);

    const UniqueBstr path(os::SysAllocString(file.c_str()));
    const UniqueBstr directory(os::SysAllocString(folder.c_str()));
    const UniqueBstr verb(os::SysAllocString(L"open"));
    if (!path || !directory || !verb) return refused("SysAllocString", E_OUTOFMEMORY);
    // This process may bring a window to the front (the user has just answered it); the shell's
    // process may then too, so that the application does not open behind everything.
    DWORD shell_process = 0;
    os::GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<LONG_PTR>(window)), &shell_process);
    os::AllowSetForegroundWindow(shell_process);
    result = shell.get()->ShellExecute(path.get(), none, folder.empty() ? none : text_variant(directory),
                                       text_variant(verb), number_variant(SW_SHOWNORMAL));
    // S_FALSE: the shell could not start it, and says no more.
    if (result != S_OK) return refused("IShellDispatch2::ShellExecute", result);
    return {};
}

}  // namespace

std::expected<void, ShellRefusal> open_through_desktop_shell(const std::wstring& file, const std::wstring& folder) {
    const HRESULT initialized = os::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (FAILED(initialized)) return refused("CoInitializeEx", initialized);
    std::expected<void, ShellRefusal> opened = open_in_apartment(file, folder);
    os::CoUninitialize();
    return opened;
}

}  // namespace mirel
