// The main window's operations, written once for every backend.
#include "gui/backend.h"
#include "gui/front/gate_scope.h"

void gui_window_create(const WindowDescription* description) {
    // Records nothing: this is the application's first call, before any trace exists.
    if (!description) {
        return;
    }
    gui_description = *description;
    backend_window_create();
}

void gui_window_accept_files(int accept) {
    GateScope gate;
    if (gate.open) {
        backend_window_accept_files(accept);
    }
}

ErrorCode gui_window_move(int32_t x, int32_t y) {
    trace_gui_enter("gui_window_move");
    GateScope gate;
    return gate.open ? backend_window_move(x, y) : GUI_ERROR_INITIALIZATION;
}

ErrorCode gui_window_resize(int32_t width, int32_t height) {
    trace_gui_enter("gui_window_resize");
    GateScope gate;
    return gate.open ? backend_window_resize(width, height) : GUI_ERROR_INITIALIZATION;
}

ErrorCode gui_window_set_title(const char* title) {
    trace_gui_enter("gui_window_set_title");
    if (!title) {
        return GUI_ERROR_NULL_POINTER;
    }
    GateScope gate;
    return gate.open ? backend_window_set_title(title) : GUI_ERROR_INITIALIZATION;
}
