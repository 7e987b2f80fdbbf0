// The process entry of the Windows program: the GUI thread's whole life.
#include "gui/win32/win32_internal.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    uint32_t argc = 0;
    char** argv = command_line_to_argv(GetCommandLineA(), &argc);
    if (!argv) {
        MessageBoxA(nullptr, "Error Starting Application", "Error", MB_ICONEXCLAMATION);
        return 0;
    }
    return win32_toolkit_run(app_main, argc, argv);
}
