// The controls over Win32's standard and common controls: creation on the GUI thread, and every
// other operation from the calling thread, which the system carries to the GUI thread.
// windows.h first: the other system headers build on it.
#include "gui/win32/win32_internal.h"

#include <commctrl.h>

#include <climits>
#include <cstring>

static const DWORD child_visible = WS_CHILD | WS_VISIBLE;

// Alignment of a label: right wins over centre, centre over left (the default).
static DWORD label_alignment(ControlStyle flags) {
    if (flags & GUI_STYLE_RIGHT) {
        return SS_RIGHT;
    }
    return (flags & GUI_STYLE_CENTER) ? SS_CENTER : SS_LEFT;
}

// Alignment of a push button: right, else centre, else left, else the system's own.
static DWORD button_alignment(ControlStyle flags) {
    if (flags & GUI_STYLE_RIGHT) {
        return BS_RIGHT;
    }
    if (flags & GUI_STYLE_CENTER) {
        return BS_CENTER;
    }
    return (flags & GUI_STYLE_LEFT) ? BS_LEFT : 0;
}

static DWORD edit_style(ControlStyle flags) {
    bool multi_line = flags & GUI_STYLE_MULTILINE;
    DWORD style = child_visible | WS_BORDER;
    if (multi_line) {
        style |= ES_WANTRETURN | ES_MULTILINE;
    }
    // Left wins over right and centre, right over centre.
    if (flags & GUI_STYLE_LEFT) {
        style |= ES_LEFT;
    } else if (flags & GUI_STYLE_RIGHT) {
        style |= ES_RIGHT;
    } else if (flags & GUI_STYLE_CENTER) {
        style |= ES_CENTER;
    }
    if (flags & GUI_STYLE_NUMBER) {
        style |= ES_NUMBER;
    }
    if (flags & GUI_STYLE_READONLY) {
        style |= ES_READONLY;
    }
    if (flags & GUI_STYLE_SCROLL) {
        style |= WS_HSCROLL | (multi_line ? WS_VSCROLL : 0);
    }
    if (flags & GUI_STYLE_AUTOSCROLL) {
        style |= ES_AUTOHSCROLL | (multi_line ? ES_AUTOVSCROLL : 0);
    }
    return style;
}

ControlClass control_class_of(ControlKind kind, ControlStyle flags) {
    bool left_text = flags & GUI_STYLE_LEFT;
    switch (kind) {
    case GUI_GROUPBOX:
        return {"BUTTON", child_visible | BS_GROUPBOX, true, true, true};
    case GUI_LABEL:
        return {"STATIC", child_visible | label_alignment(flags), true, true, true};
    case GUI_BUTTON:
        return {"BUTTON", child_visible | button_alignment(flags), true, true, true};
    case GUI_CHECKBOX:
        return {"button", child_visible | BS_CHECKBOX | (left_text ? BS_LEFTTEXT : 0u), true, true,
                true};
    case GUI_EDIT:
        return {"EDIT", edit_style(flags), true, true, true};
    case GUI_PROGRESSBAR:
        return {PROGRESS_CLASSA, child_visible, false, false, false};
    case GUI_COMBOBOX:
        return {"COMBOBOX", child_visible | WS_VSCROLL | CBS_DROPDOWNLIST, false, true, true};
    case GUI_RADIO_BUTTON:
        return {"button", child_visible | BS_RADIOBUTTON | (left_text ? BS_LEFTTEXT : 0u), true,
                true, true};
    default:
        return {nullptr, 0, false, false, false};
    }
}

ErrorCode control_create_window(ControlKind kind, const char* text, ControlStyle flags, uint32_t id,
                                int32_t x, int32_t y, int32_t width, int32_t height) {
    ControlKind existing = 0;
    if (control_find_kind(id, &existing) == GUI_ERROR_NONE) {
        return GUI_ERROR_INITIALIZATION;
    }
    const char* system_call = kind == GUI_PROGRESSBAR ? "CreateWindowEx" : "CreateWindow";
    ControlClass control = control_class_of(kind, flags);
    if (!control.class_name) {
        return GUI_ERROR_INITIALIZATION;
    }
    HMENU child_id =
        control.has_child_id ? reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)) : nullptr;
    HWND handle =
        CreateWindowExA(0, control.class_name, control.has_text ? text : nullptr, control.style, x,
                        y, width, height, toolkit.main_window, child_id, toolkit.instance, nullptr);
    if (!handle) {
        return win32_gui_failure(system_call);
    }
    if (control_table_link(id, kind, handle) != GUI_ERROR_NONE) {
        DestroyWindow(handle);
        return GUI_ERROR_MALLOC;
    }
    if (control.has_font) {
        HGDIOBJ font =
            (flags & GUI_STYLE_FIXED_FONT) ? toolkit.fixed_font : GetStockObject(DEFAULT_GUI_FONT);
        SendMessageA(handle, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    return GUI_ERROR_NONE;
}

ErrorCode backend_control_create(ControlKind kind, const char* text, ControlStyle flags,
                                 uint32_t id, int32_t x, int32_t y, int32_t width, int32_t height) {
    ControlRequest request = {kind, text, flags, id, x, y, width, height, {}};
    return win32_marshal(GUI_MSG_CREATE_CONTROL, &request, &request.state);
}

static HWND window_of(void* handle) {
    return static_cast<HWND>(handle);
}

ErrorCode backend_control_move(void* handle, int32_t x, int32_t y) {
    RECT rect;
    if (!GetWindowRect(window_of(handle), &rect)) {
        return trace_gui_system_failure("GetWindowRect");
    }
    if (!MoveWindow(window_of(handle), x, y, rect.right - rect.left, rect.bottom - rect.top,
                    TRUE)) {
        return trace_gui_system_failure("MoveWindow");
    }
    return GUI_ERROR_NONE;
}

ErrorCode backend_control_resize(void* handle, int32_t width, int32_t height) {
    RECT rect;
    if (!GetWindowRect(window_of(handle), &rect)) {
        return trace_gui_system_failure("GetWindowRect");
    }
    POINT corner = {rect.left, rect.top};
    if (!ScreenToClient(toolkit.main_window, &corner)) {
        return trace_gui_system_failure("ScreenToClient");
    }
    if (!MoveWindow(window_of(handle), corner.x, corner.y, width, height, TRUE)) {
        return trace_gui_system_failure("MoveWindow");
    }
    return GUI_ERROR_NONE;
}

ErrorCode backend_control_show(void* handle, uint32_t show) {
    ShowWindow(window_of(handle), show ? SW_SHOWNORMAL : SW_HIDE);
    return GUI_ERROR_NONE;
}

ErrorCode backend_control_enable(void* handle, uint32_t enable) {
    EnableWindow(window_of(handle), enable ? TRUE : FALSE);
    return GUI_ERROR_NONE;
}

ErrorCode backend_control_enabled(void* handle, uint32_t* enabled) {
    *enabled = IsWindowEnabled(window_of(handle)) ? 1 : 0;
    return GUI_ERROR_NONE;
}

// Windows names a missing child identifier (ERROR_CONTROL_ID_NOT_FOUND); Wine leaves the error
// number at 0, which would make the failure of an unknown id look like an empty text.
static void note_missing_child(uint32_t id) {
    if (GetLastError() == 0 && !GetDlgItem(toolkit.main_window, static_cast<int>(id))) {
        SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    }
}

// Whether `box` is a multi-line edit box.
static bool multi_line_edit(HWND box) {
    char class_name[16];
    return GetClassNameA(box, class_name, sizeof class_name) > 0 &&
           lstrcmpiA(class_name, "Edit") == 0 && (GetWindowLongA(box, GWL_STYLE) & ES_MULTILINE);
}

ErrorCode backend_control_set_text(uint32_t id, const char* text) {
    // Texts above this size go into a multi-line box a piece at a time (text_fill).
    const size_t piecewise = 256 << 10;
    HWND box = GetDlgItem(toolkit.main_window, static_cast<int>(id));
    if (box) {
        size_t length = std::strlen(text);
        if (length > piecewise && multi_line_edit(box)) {
            TextRequest request = {box, text, length, {}};
            return win32_marshal(GUI_MSG_SET_TEXT, &request, &request.state);
        }
        text_epoch_next(box);
    }
    SetLastError(0);
    if (!SetDlgItemTextA(toolkit.main_window, static_cast<int>(id), text)) {
        note_missing_child(id);
        return trace_gui_system_failure("SetDlgItemText");
    }
    return GUI_ERROR_NONE;
}

ErrorCode backend_control_get_text(uint32_t id, char* buffer, uint32_t size) {
    int capacity = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    SetLastError(0);
    UINT count = GetDlgItemTextA(toolkit.main_window, static_cast<int>(id), buffer, capacity);
    if (count == 0) {
        note_missing_child(id);
        if (GetLastError() != 0) {
            return trace_gui_system_failure("GetDlgItemText");
        }
        buffer[0] = '\0';
    }
    return GUI_ERROR_NONE;
}

ErrorCode backend_control_get_text_length(void* handle, uint32_t* length) {
    SetLastError(0);
    int count = GetWindowTextLengthA(window_of(handle));
    if (count == 0 && GetLastError() != 0) {
        return trace_gui_system_failure("GetWindowTextLength");
    }
    *length = static_cast<uint32_t>(count);
    return GUI_ERROR_NONE;
}

ErrorCode backend_checkbox_get(void* handle, uint32_t* native) {
    *native = IsDlgButtonChecked(toolkit.main_window, GetDlgCtrlID(window_of(handle)));
    return GUI_ERROR_NONE;
}

ErrorCode backend_checkbox_set(void* handle, uint32_t native) {
    SetLastError(0);
    CheckDlgButton(toolkit.main_window, GetDlgCtrlID(window_of(handle)), native);
    if (GetLastError() != 0) {
        return trace_gui_system_failure("CheckDlgButton");
    }
    return GUI_ERROR_NONE;
}

ErrorCode backend_radio_button_get(void* handle, uint32_t* native) {
    *native = static_cast<uint32_t>(SendMessageA(window_of(handle), BM_GETCHECK, 0, 0));
    return GUI_ERROR_NONE;
}

ErrorCode backend_radio_button_set(void* handle, uint32_t native) {
    SendMessageA(window_of(handle), BM_SETCHECK, native, 0);
    return GUI_ERROR_NONE;
}

// Sends a message whose own result cannot tell failure: the error number decides.
static ErrorCode send_checked(void* handle, UINT message, WPARAM wparam, LPARAM lparam,
                              LRESULT* result) {
    SetLastError(0);
    LRESULT answer = SendMessageA(window_of(handle), message, wparam, lparam);
    if (result) {
        *result = answer;
    }
    if (GetLastError() != 0) {
        return trace_gui_system_failure("SendMessage");
    }
    return GUI_ERROR_NONE;
}

ErrorCode backend_combobox_add(void* handle, const char* text) {
    return send_checked(handle, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text), nullptr);
}

ErrorCode backend_combobox_insert(void* handle, uint32_t index, const char* text) {
    return send_checked(handle, CB_INSERTSTRING, index, reinterpret_cast<LPARAM>(text), nullptr);
}

ErrorCode backend_combobox_delete(void* handle, uint32_t index) {
    SetLastError(0);
    LRESULT result = SendMessageA(window_of(handle), CB_DELETESTRING, index, 0);
    if (result == CB_ERR) {
        return GUI_ERROR_INITIALIZATION;
    }
    if (GetLastError() != 0) {
        return trace_gui_system_failure("SendMessage");
    }
    return GUI_ERROR_NONE;
}

ErrorCode backend_combobox_select(void* handle, uint32_t index) {
    return send_checked(handle, CB_SETCURSEL, index, 0, nullptr);
}

ErrorCode backend_combobox_selected(void* handle, uint32_t* index) {
    LRESULT result = 0;
    ErrorCode code = send_checked(handle, CB_GETCURSEL, 0, 0, &result);
    if (code == GUI_ERROR_NONE) {
        *index = static_cast<uint32_t>(result);
    }
    return code;
}

ErrorCode backend_progressbar_state(void* handle, ProgressState state) {
    HWND bar = window_of(handle);
    LONG style = GetWindowLongA(bar, GWL_STYLE);
    if (style == 0) {
        return trace_gui_system_failure("GetWindowLong");
    }
    if (state == GUI_PROGRESS_MARQUEE) {
        SetWindowLongA(bar, GWL_STYLE, style | PBS_MARQUEE);
        SendMessageA(bar, PBM_SETMARQUEE, 1, 30);
        return GUI_ERROR_NONE;
    }
    SetWindowLongA(bar, GWL_STYLE, style & ~static_cast<LONG>(PBS_MARQUEE));
    WPARAM native = PBST_NORMAL;
    if (state == GUI_PROGRESS_ERROR) {
        native = PBST_ERROR;
    } else if (state == GUI_PROGRESS_PAUSED) {
        native = PBST_PAUSED;
    }
    return send_checked(handle, PBM_SETSTATE, native, 0, nullptr);
}

ErrorCode backend_progressbar_set(void* handle, uint32_t value) {
    SetLastError(0);
    SendMessageA(window_of(handle), PBM_SETPOS, value, 0);
    DWORD error = GetLastError();
    if (error != 0 && error != ERROR_INVALID_HANDLE) {
        return trace_gui_system_failure("SendMessage");
    }
    return GUI_ERROR_NONE;
}

ErrorCode backend_progressbar_get(void* handle, uint32_t* value) {
    LRESULT result = 0;
    ErrorCode code = send_checked(handle, PBM_GETPOS, 0, 0, &result);
    if (code == GUI_ERROR_NONE) {
        *value = static_cast<uint32_t>(result);
    }
    return code;
}
