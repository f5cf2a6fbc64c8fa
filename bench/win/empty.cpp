// The Wine process-start floor: a GUI program, like the launcher, that does nothing.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return 0;
}
