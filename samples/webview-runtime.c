/* Stand-in for the web runtime installer that the packages carry. It is only
 * ever signature-checked, never run, so it does nothing. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR arguments, int show)
{
    (void)instance;
    (void)previous;
    (void)arguments;
    (void)show;
    return 0;
}
