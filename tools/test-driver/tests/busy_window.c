/* A window whose thread is busy, not reading its queue, for the number of milliseconds given on
   the command line right after the window appears; then it answers like any dialog. The OK button
   (id 1) ends it with exit code 0. This is what the setup program looks like to a test when it
   shows a box right after a long installation. */
#include <windows.h>
#include <stdlib.h>

static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_COMMAND && LOWORD(w) == IDOK) {
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, w, l);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command_line, int show) {
  (void)previous;
  (void)show;
  WNDCLASSW window_class = {0};
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = instance;
  window_class.lpszClassName = L"MirelBusyWindow";
  if (!RegisterClassW(&window_class)) return 2;
  HWND window = CreateWindowW(L"MirelBusyWindow", L"busy window", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                              0, 0, 300, 200, NULL, NULL, instance, NULL);
  if (window == NULL) return 3;
  CreateWindowW(L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, 10, 80, 30, window,
                (HMENU)(INT_PTR)IDOK, instance, NULL);
  Sleep((DWORD)wcstoul(command_line, NULL, 10));
  MSG message;
  while (GetMessageW(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return (int)message.wParam;
}
