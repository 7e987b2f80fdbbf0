// The controls API, written once for every backend: name the operation, check the arguments
// (null pointers first, then identifiers and kinds), find the control, hand over to the backend.
#include "gui/backend.h"
#include "gui/front/gate_scope.h"
#include "gui/front/test_fault.h"

ErrorCode gui_control_create(ControlKind kind, const char* text, ControlStyle flags, uint32_t id,
                             int32_t x, int32_t y, int32_t width, int32_t height) {
    trace_gui_enter("gui_control_create");
    if (!text) {
        return GUI_ERROR_NULL_POINTER;
    }
    if (id == 0 || kind < GUI_GROUPBOX || kind > GUI_RADIO_BUTTON) {
        return GUI_ERROR_INITIALIZATION;
    }
    GateScope gate;
    if (!gate.open) {
        return GUI_ERROR_INITIALIZATION;
    }
    return backend_control_create(kind, text, flags, id, x, y, width, height);
}

// Runs `call` with the handle of control `id` of kind `expected` (0: any), inside the gate
// that keeps the control table alive; the lookup's code when there is no such control.
template <class Call> static ErrorCode with_control(uint32_t id, ControlKind expected, Call call) {
    GateScope gate;
    if (!gate.open) {
        return GUI_ERROR_INITIALIZATION;
    }
    void* handle = nullptr;
    ErrorCode code = control_find_handle(id, expected, &handle);
    if (code == GUI_ERROR_NONE) {
        code = test_fault_take(id);
    }
    return code ? code : call(handle);
}

ErrorCode gui_control_move(uint32_t id, int32_t x, int32_t y) {
    trace_gui_enter("gui_control_move");
    return with_control(id, 0, [&](void* handle) { return backend_control_move(handle, x, y); });
}

ErrorCode gui_control_resize(uint32_t id, int32_t width, int32_t height) {
    trace_gui_enter("gui_control_resize");
    return with_control(
        id, 0, [&](void* handle) { return backend_control_resize(handle, width, height); });
}

ErrorCode gui_control_show(uint32_t id, uint32_t show) {
    trace_gui_enter("gui_control_show");
    return with_control(id, 0, [&](void* handle) { return backend_control_show(handle, show); });
}

ErrorCode gui_control_enable(uint32_t id, uint32_t enable) {
    trace_gui_enter("gui_control_enable");
    return with_control(id, 0,
                        [&](void* handle) { return backend_control_enable(handle, enable); });
}

ErrorCode gui_control_enabled(uint32_t id, uint32_t* enabled) {
    trace_gui_enter("gui_control_enabled");
    if (!enabled) {
        return GUI_ERROR_NULL_POINTER;
    }
    return with_control(id, 0,
                        [&](void* handle) { return backend_control_enabled(handle, enabled); });
}

ErrorCode gui_control_set_text(uint32_t id, const char* text) {
    trace_gui_enter("gui_control_set_text");
    if (!text) {
        return GUI_ERROR_NULL_POINTER;
    }
    if (id == 0) {
        return GUI_ERROR_INITIALIZATION;
    }
    GateScope gate;
    if (!gate.open) {
        return GUI_ERROR_INITIALIZATION;
    }
    return backend_control_set_text(id, text);
}

ErrorCode gui_control_get_text(uint32_t id, char* buffer, uint32_t size) {
    trace_gui_enter("gui_control_get_text");
    if (!buffer) {
        return GUI_ERROR_NULL_POINTER;
    }
    if (id == 0 || size == 0) {
        return GUI_ERROR_INITIALIZATION;
    }
    GateScope gate;
    if (!gate.open) {
        return GUI_ERROR_INITIALIZATION;
    }
    return backend_control_get_text(id, buffer, size);
}

ErrorCode gui_control_get_text_length(uint32_t id, uint32_t* length) {
    trace_gui_enter("gui_control_get_text_length");
    if (!length) {
        return GUI_ERROR_NULL_POINTER;
    }
    return with_control(
        id, 0, [&](void* handle) { return backend_control_get_text_length(handle, length); });
}

ErrorCode gui_checkbox_get(uint32_t id, CheckState* state) {
    trace_gui_enter("gui_checkbox_get");
    if (!state) {
        return GUI_ERROR_NULL_POINTER;
    }
    return with_control(id, GUI_CHECKBOX, [&](void* handle) {
        uint32_t native = 0;
        ErrorCode code = backend_checkbox_get(handle, &native);
        if (!code) {
            *state = check_state_from_native(native);
        }
        return code;
    });
}

ErrorCode gui_checkbox_set(uint32_t id, CheckState state) {
    trace_gui_enter("gui_checkbox_set");
    return with_control(id, GUI_CHECKBOX, [&](void* handle) {
        return backend_checkbox_set(handle, check_state_to_native(state));
    });
}

ErrorCode gui_radio_button_get(uint32_t id, CheckState* state) {
    trace_gui_enter("gui_radio_button_get");
    if (!state) {
        return GUI_ERROR_NULL_POINTER;
    }
    return with_control(id, GUI_RADIO_BUTTON, [&](void* handle) {
        uint32_t native = 0;
        ErrorCode code = backend_radio_button_get(handle, &native);
        if (!code) {
            *state = check_state_from_native(native);
        }
        return code;
    });
}

ErrorCode gui_radio_button_set(uint32_t id, CheckState state) {
    trace_gui_enter("gui_radio_button_set");
    return with_control(id, GUI_RADIO_BUTTON, [&](void* handle) {
        return backend_radio_button_set(handle, check_state_to_native(state));
    });
}

ErrorCode gui_combobox_add(uint32_t id, const char* text) {
    trace_gui_enter("gui_combobox_add");
    if (!text) {
        return GUI_ERROR_NULL_POINTER;
    }
    return with_control(id, GUI_COMBOBOX,
                        [&](void* handle) { return backend_combobox_add(handle, text); });
}

ErrorCode gui_combobox_insert(uint32_t id, uint32_t index, const char* text) {
    trace_gui_enter("gui_combobox_insert");
    if (!text) {
        return GUI_ERROR_NULL_POINTER;
    }
    return with_control(id, GUI_COMBOBOX,
                        [&](void* handle) { return backend_combobox_insert(handle, index, text); });
}

ErrorCode gui_combobox_delete(uint32_t id, uint32_t index) {
    trace_gui_enter("gui_combobox_delete");
    return with_control(id, GUI_COMBOBOX,
                        [&](void* handle) { return backend_combobox_delete(handle, index); });
}

ErrorCode gui_combobox_select(uint32_t id, uint32_t index) {
    trace_gui_enter("gui_combobox_select");
    return with_control(id, GUI_COMBOBOX,
                        [&](void* handle) { return backend_combobox_select(handle, index); });
}

ErrorCode gui_combobox_selected(uint32_t id, uint32_t* index) {
    trace_gui_enter("gui_combobox_selected");
    if (!index) {
        return GUI_ERROR_NULL_POINTER;
    }
    return with_control(id, GUI_COMBOBOX,
                        [&](void* handle) { return backend_combobox_selected(handle, index); });
}

ErrorCode gui_progressbar_state(uint32_t id, ProgressState state) {
    trace_gui_enter("gui_progressbar_state");
    return with_control(id, GUI_PROGRESSBAR,
                        [&](void* handle) { return backend_progressbar_state(handle, state); });
}

ErrorCode gui_progressbar_set(uint32_t id, uint32_t value) {
    trace_gui_enter("gui_progressbar_set");
    return with_control(id, GUI_PROGRESSBAR,
                        [&](void* handle) { return backend_progressbar_set(handle, value); });
}

ErrorCode gui_progressbar_get(uint32_t id, uint32_t* value) {
    trace_gui_enter("gui_progressbar_get");
    if (!value) {
        return GUI_ERROR_NULL_POINTER;
    }
    return with_control(id, GUI_PROGRESSBAR,
                        [&](void* handle) { return backend_progressbar_get(handle, value); });
}
