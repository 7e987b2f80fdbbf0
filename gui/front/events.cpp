// What the window system reports to the application: control events, the request to close the
// main window and dropped files. The backend calls these on the GUI thread.
#include <cstdlib>

#include "gui/backend.h"

WindowDescription gui_description;

void event_control(uint32_t id, int selection_changed) {
    ControlKind kind = 0;
    if (control_find_kind(id, &kind) != GUI_ERROR_NONE) {
        return;
    }
    if (kind == GUI_COMBOBOX && !selection_changed) {
        return;
    }
    if (kind == GUI_CHECKBOX) {
        void* handle = nullptr;
        uint32_t native = 0;
        if (control_find_handle(id, GUI_CHECKBOX, &handle) == GUI_ERROR_NONE &&
            backend_checkbox_get(handle, &native) == GUI_ERROR_NONE) {
            backend_checkbox_set(handle, native == 1 ? 0 : 1);
        }
    }
    bool has_event = kind == GUI_BUTTON || kind == GUI_CHECKBOX || kind == GUI_RADIO_BUTTON ||
                     kind == GUI_COMBOBOX;
    if (has_event && gui_description.on_event) {
        gui_description.on_event(id);
    }
}

int event_close_request() {
    if (gui_description.on_close) {
        return gui_description.on_close() == 0;
    }
    if (gui_description.on_event) {
        gui_description.on_event(0);
    }
    return 1;
}

void event_drop(uint32_t count, char** names) {
    // The handler gets its own copy of the count: whatever it writes there, exactly the names
    // that were allocated are freed, none leaked and none freed twice.
    uint32_t handler_count = count;
    if (gui_description.on_drop) {
        gui_description.on_drop(&handler_count, names);
    }
    for (uint32_t i = 0; i < count; i++) {
        std::free(names[i]);
    }
    std::free(names);
}
