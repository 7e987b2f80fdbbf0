// Notifications, file dialogs and taskbar progress, written once for every backend.
#include <cstdlib>

#include "gui/backend.h"
#include "gui/front/gate_scope.h"

// The last chosen path, kept until the next dialog. Dialogs are modal to the main window, so
// only one runs at a time.
static char* dialog_path;

ErrorCode gui_notification(const char* text, const char* caption, NotificationType type,
                           NotificationAnswer* answer) {
    trace_gui_enter("gui_notification");
    if (!text || !caption) {
        return GUI_ERROR_NULL_POINTER;
    }
    if (type != GUI_NOTIFY_OK && type != GUI_NOTIFY_TEXT_FILE && !answer) {
        return GUI_ERROR_NULL_POINTER;
    }
    if (type > GUI_NOTIFY_TEXT_FILE) {
        return GUI_ERROR_INITIALIZATION;
    }
    GateScope gate;
    if (!gate.open) {
        return GUI_ERROR_INITIALIZATION;
    }
    if (type != GUI_NOTIFY_TEXT_FILE) {
        return backend_message_box(text, caption, type, answer);
    }
    char* contents = nullptr;
    uint32_t length = 0;
    ErrorCode code = popup_text_read(text, &contents, &length);
    if (code == GUI_ERROR_NONE) {
        code = backend_popup_show(caption, contents, length);
        std::free(contents);
    }
    return code;
}

static ErrorCode dialog_file(int save, const char* title, const char* file_name,
                             const char* initial_directory, const char* default_extension,
                             const char* filter, const char** path) {
    if (!path) {
        return GUI_ERROR_NULL_POINTER;
    }
    GateScope gate;
    if (!gate.open) {
        return GUI_ERROR_INITIALIZATION;
    }
    FileFilterList filters;
    ErrorCode code = file_filter_parse(filter, &filters);
    if (code != GUI_ERROR_NONE) {
        return code;
    }
    std::free(dialog_path);
    dialog_path = nullptr;
    char* chosen = nullptr;
    code = backend_dialog_file(save, title, file_name, initial_directory, default_extension,
                               &filters, &chosen);
    file_filter_free(&filters);
    if (code == GUI_ERROR_NONE) {
        dialog_path = chosen;
        *path = chosen;
    }
    return code;
}

ErrorCode gui_dialog_open_file(const char* title, const char* file_name,
                               const char* initial_directory, const char* default_extension,
                               const char* filter, const char** path) {
    trace_gui_enter("gui_dialog_open_file");
    return dialog_file(0, title, file_name, initial_directory, default_extension, filter, path);
}

ErrorCode gui_dialog_save_file(const char* title, const char* file_name,
                               const char* initial_directory, const char* default_extension,
                               const char* filter, const char** path) {
    trace_gui_enter("gui_dialog_save_file");
    return dialog_file(1, title, file_name, initial_directory, default_extension, filter, path);
}

ErrorCode gui_taskbar_progressbar_state(uint32_t state) {
    trace_gui_enter("gui_taskbar_progressbar_state");
    GateScope gate;
    return gate.open ? backend_taskbar_state(state) : GUI_ERROR_INITIALIZATION;
}

ErrorCode gui_taskbar_progressbar_set(uint32_t value) {
    trace_gui_enter("gui_taskbar_progressbar_set");
    GateScope gate;
    return gate.open ? backend_taskbar_value(value) : GUI_ERROR_INITIALIZATION;
}
