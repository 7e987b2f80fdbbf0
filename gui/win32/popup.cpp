// The text pop-up: a read-only text box in a window of its own, owned by the main window, which
// takes no input while the pop-up is open.
#include "gui/win32/win32_internal.h"

static const char popup_class[] = "popup";
static const int popup_text_id = 999;

// The class is registered once in the life of the process; a failed attempt is not repeated.
static bool popup_class_tried;
static bool popup_class_registered;

LRESULT CALLBACK popup_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CLOSE && toolkit.main_window) {
        EnableWindow(toolkit.main_window, TRUE);
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

ErrorCode popup_show(const char* caption, const char* text) {
    if (!popup_class_tried) {
        popup_class_tried = true;
        if (!win32_class_register(popup_class, popup_proc, nullptr)) {
            return win32_gui_failure("RegisterClassEx");
        }
        popup_class_registered = true;
    }
    if (!popup_class_registered) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return win32_gui_failure("RegisterClassEx");
    }
    RECT main_rect = {};
    GetWindowRect(toolkit.main_window, &main_rect);
    int32_t x = 0;
    int32_t y = 0;
    popup_position(main_rect.left, main_rect.top, gui_description.width, gui_description.height, &x,
                   &y);
    HWND popup =
        CreateWindowExA(WS_EX_COMPOSITED | WS_EX_DLGMODALFRAME, popup_class, caption,
                        WS_POPUP | WS_CAPTION | WS_SYSMENU, x, y, POPUP_WIDTH, POPUP_HEIGHT,
                        toolkit.main_window, nullptr, toolkit.instance, nullptr);
    if (!popup) {
        return win32_gui_failure("CreateWindowEx");
    }
    RECT client = {};
    GetClientRect(popup, &client);
    HWND box = CreateWindowExA(0, "EDIT", text,
                               WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_READONLY | ES_WANTRETURN |
                                   ES_AUTOVSCROLL | ES_MULTILINE,
                               0, 0, client.right, client.bottom, popup,
                               reinterpret_cast<HMENU>(static_cast<uintptr_t>(popup_text_id)),
                               toolkit.instance, nullptr);
    EnableWindow(toolkit.main_window, FALSE);
    if (box) {
        SendMessageA(box, WM_SETFONT, reinterpret_cast<WPARAM>(toolkit.fixed_font), TRUE);
    }
    ShowWindow(popup, SW_SHOWNORMAL);
    UpdateWindow(popup);
    return GUI_ERROR_NONE;
}
