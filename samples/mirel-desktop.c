/* Stand-in for the product's program file. It has no window: it only leaves a
 * trace that it was started, so installer and launch tests can observe it. */
#include <windows.h>

#define MARKER_NAME L"mirel-desktop-started.txt"
#define PATH_UNITS 32768

/* %TEMP% first, as the tests name it; GetTempPathW alone would prefer %TMP%. */
static BOOL marker_path(wchar_t *path)
{
    DWORD length = GetEnvironmentVariableW(L"TEMP", path, PATH_UNITS);
    if (length == 0 || length >= PATH_UNITS)
        length = GetTempPathW(PATH_UNITS, path);
    if (length == 0 || length >= PATH_UNITS)
        return FALSE;
    if (path[length - 1] != L'\\' && path[length - 1] != L'/')
        path[length++] = L'\\';
    if (length + lstrlenW(MARKER_NAME) >= PATH_UNITS)
        return FALSE;
    lstrcpyW(path + length, MARKER_NAME);
    return TRUE;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR arguments, int show)
{
    (void)instance;
    (void)previous;
    (void)arguments;
    (void)show;

    static wchar_t path[PATH_UNITS];
    if (!marker_path(path))
        return 1;

    /* The full command line, not just the arguments, so a test can see which
     * path the program was started through. */
    const wchar_t *command_line = GetCommandLineW();
    int size = WideCharToMultiByte(CP_UTF8, 0, command_line, -1, NULL, 0, NULL, NULL);
    if (size <= 0)
        return 1;
    char *text = HeapAlloc(GetProcessHeap(), 0, (SIZE_T)size);
    if (text == NULL)
        return 1;
    WideCharToMultiByte(CP_UTF8, 0, command_line, -1, text, size, NULL, NULL);

    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text, (DWORD)(size - 1), &written, NULL);
    CloseHandle(file);
    return ok && written == (DWORD)(size - 1) ? 0 : 1;
}
