// Notifications: the message boxes and the text pop-up, both shown on the GUI thread.
#include "gui/win32/win32_internal.h"

static const UINT box_styles[] = {
    MB_OK,
    MB_YESNO,
    MB_YESNOCANCEL,
    MB_OKCANCEL,
    MB_RETRYCANCEL,
    MB_ABORTRETRYIGNORE,
    MB_CANCELTRYCONTINUE,
};

// The answer for the button the user chose; false for a result that names no known button.
static bool answer_of(int button, NotificationAnswer* answer) {
    switch (button) {
    case IDOK:
        *answer = GUI_ANSWER_OK;
        return true;
    case IDYES:
        *answer = GUI_ANSWER_YES;
        return true;
    case IDNO:
        *answer = GUI_ANSWER_NO;
        return true;
    case IDCANCEL:
        *answer = GUI_ANSWER_CANCEL;
        return true;
    case IDRETRY:
        *answer = GUI_ANSWER_RETRY;
        return true;
    case IDABORT:
        *answer = GUI_ANSWER_ABORT;
        return true;
    case IDIGNORE:
        *answer = GUI_ANSWER_IGNORE;
        return true;
    case IDTRYAGAIN:
        *answer = GUI_ANSWER_TRY_AGAIN;
        return true;
    case IDCONTINUE:
        *answer = GUI_ANSWER_CONTINUE;
        return true;
    default:
        return false;
    }
}

ErrorCode notification_show(const char* text, const char* caption, NotificationType type,
                            NotificationAnswer* answer) {
    if (type > GUI_NOTIFY_TEXT_FILE) {
        return GUI_ERROR_INITIALIZATION;
    }
    if (type == GUI_NOTIFY_TEXT_FILE) {
        return popup_show(caption, text);
    }
    // No owner: the main window stays usable, and the box's loop keeps serving its events.
    int button = 0;
    if (!win32_hooks.message_box || !win32_hooks.message_box(text, caption, type, &button)) {
        button = MessageBoxA(nullptr, text, caption, box_styles[type]);
    }
    if (button == 0) {
        return win32_gui_failure("MessageBox");
    }
    NotificationAnswer chosen = GUI_ANSWER_OK;
    if (type != GUI_NOTIFY_OK && answer && answer_of(button, &chosen)) {
        *answer = chosen;
    }
    return GUI_ERROR_NONE;
}

// Carries a notification to the GUI thread (in place when called there) and hands a failure
// that happened there back to the calling thread.
static ErrorCode notification_marshal(const char* text, const char* caption, NotificationType type,
                                      NotificationAnswer* answer) {
    NotificationRequest request = {text, caption, type, answer, {}};
    return win32_marshal(GUI_MSG_NOTIFY, &request, &request.state);
}

ErrorCode backend_message_box(const char* text, const char* caption, NotificationType type,
                              NotificationAnswer* answer) {
    return notification_marshal(text, caption, type, answer);
}

ErrorCode backend_popup_show(const char* caption, const char* text, uint32_t) {
    return notification_marshal(text, caption, GUI_NOTIFY_TEXT_FILE, nullptr);
}
