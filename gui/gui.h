// Quarnel's window toolkit: the one public header. Every operation may be called from any
// thread and has taken effect when it returns; each records its name in the calling thread's
// TraceContext and returns an ErrorCode (0 success, 1 null pointer, 2 bad argument or
// identifier, 3 failed system call, 4 out of memory). Nothing here names a window system.
#pragma once

#include <cstdint>

#include "core/trace.h"

// ---- Window and process ---------------------------------------------------------------------

typedef void (*GuiEventHandler)(uint32_t id);
typedef void (*GuiDropHandler)(uint32_t* count, char** names);
typedef int (*GuiCloseHandler)(void);

struct WindowDescription {
    const char* title;
    int32_t width; // outer size, frame included
    int32_t height;
    int32_t x; // -1 in x or y lets the system place the window
    int32_t y;
    uint32_t background;      // class background, a system colour number plus one
    uint32_t icon;            // icon resource number; 0 for the system's default icon
    GuiEventHandler on_event; // control events, and 0 when the window is closed
    GuiDropHandler on_drop;   // dropped files; when null, the window accepts no drops
    GuiCloseHandler on_close; // non-zero keeps the window open
};

// The application's entry, provided by the application; runs on the application thread.
// Non-zero ends the program.
int app_main(uint32_t argc, char** argv);

// Hands the description to the GUI thread and returns once the main window exists and is shown.
void gui_window_create(const WindowDescription* description);

// Turns acceptance of dropped files on (non-zero) or off.
void gui_window_accept_files(int accept);

// ---- Controls -------------------------------------------------------------------------------

typedef uint32_t ControlKind;
enum : uint32_t {
    GUI_GROUPBOX = 1,
    GUI_LABEL = 2,
    GUI_BUTTON = 3,
    GUI_CHECKBOX = 4,
    GUI_EDIT = 5,
    GUI_PROGRESSBAR = 6,
    GUI_COMBOBOX = 7,
    GUI_RADIO_BUTTON = 8,
};

typedef uint32_t ControlStyle;
enum : uint32_t {
    GUI_STYLE_LEFT = 0x001,
    GUI_STYLE_RIGHT = 0x002,
    GUI_STYLE_CENTER = 0x004,
    GUI_STYLE_NUMBER = 0x008,
    GUI_STYLE_READONLY = 0x010,
    GUI_STYLE_MULTILINE = 0x020,
    GUI_STYLE_SCROLL = 0x040,
    GUI_STYLE_AUTOSCROLL = 0x080,
    GUI_STYLE_FIXED_FONT = 0x100,
};

typedef uint32_t CheckState;
enum : uint32_t {
    GUI_UNCHECKED = 0,
    GUI_CHECKED = 1,
    GUI_INDETERMINATE = 2,
};

typedef uint32_t ProgressState;
enum : uint32_t {
    GUI_PROGRESS_NORMAL = 1,
    GUI_PROGRESS_ERROR = 2,
    GUI_PROGRESS_PAUSED = 3,
    GUI_PROGRESS_MARQUEE = 4,
};

ErrorCode gui_control_create(ControlKind kind, const char* text, ControlStyle flags, uint32_t id,
                             int32_t x, int32_t y, int32_t width, int32_t height);
ErrorCode gui_control_move(uint32_t id, int32_t x, int32_t y);
ErrorCode gui_control_resize(uint32_t id, int32_t width, int32_t height);
ErrorCode gui_control_show(uint32_t id, uint32_t show);
ErrorCode gui_control_enable(uint32_t id, uint32_t enable);
ErrorCode gui_control_enabled(uint32_t id, uint32_t* enabled);
ErrorCode gui_control_set_text(uint32_t id, const char* text);
ErrorCode gui_control_get_text(uint32_t id, char* buffer, uint32_t size);
ErrorCode gui_control_get_text_length(uint32_t id, uint32_t* length);
ErrorCode gui_checkbox_get(uint32_t id, CheckState* state);
ErrorCode gui_checkbox_set(uint32_t id, CheckState state);
ErrorCode gui_radio_button_get(uint32_t id, CheckState* state);
ErrorCode gui_radio_button_set(uint32_t id, CheckState state);
ErrorCode gui_combobox_add(uint32_t id, const char* text);
ErrorCode gui_combobox_insert(uint32_t id, uint32_t index, const char* text);
ErrorCode gui_combobox_delete(uint32_t id, uint32_t index);
ErrorCode gui_combobox_select(uint32_t id, uint32_t index);
ErrorCode gui_combobox_selected(uint32_t id, uint32_t* index);
ErrorCode gui_progressbar_state(uint32_t id, ProgressState state);
ErrorCode gui_progressbar_set(uint32_t id, uint32_t value);
ErrorCode gui_progressbar_get(uint32_t id, uint32_t* value);
ErrorCode gui_window_move(int32_t x, int32_t y);
ErrorCode gui_window_resize(int32_t width, int32_t height);
ErrorCode gui_window_set_title(const char* title);

// ---- Notifications, dialogs, taskbar --------------------------------------------------------

typedef uint32_t NotificationType;
enum : uint32_t {
    GUI_NOTIFY_OK = 0,
    GUI_NOTIFY_YES_NO = 1,
    GUI_NOTIFY_YES_NO_CANCEL = 2,
    GUI_NOTIFY_OK_CANCEL = 3,
    GUI_NOTIFY_RETRY_CANCEL = 4,
    GUI_NOTIFY_ABORT_RETRY_IGNORE = 5,
    GUI_NOTIFY_CANCEL_TRY_CONTINUE = 6,
    GUI_NOTIFY_TEXT_FILE = 7,
};

typedef uint32_t NotificationAnswer;
enum : uint32_t {
    GUI_ANSWER_OK = 0,
    GUI_ANSWER_YES = 1,
    GUI_ANSWER_NO = 2,
    GUI_ANSWER_CANCEL = 3,
    GUI_ANSWER_RETRY = 4,
    GUI_ANSWER_ABORT = 5,
    GUI_ANSWER_IGNORE = 6,
    GUI_ANSWER_TRY_AGAIN = 7,
    GUI_ANSWER_CONTINUE = 8,
};

// Shows a message box (types 0 to 6; `answer` receives the button for 1 to 6) and returns when
// it is closed, or, for GUI_NOTIFY_TEXT_FILE, shows the file named by `text` in a read-only
// pop-up titled `caption` and returns at once.
ErrorCode gui_notification(const char* text, const char* caption, NotificationType type,
                           NotificationAnswer* answer = nullptr);

// File dialogs. `filter` is pairs of zero-terminated strings (a description, then patterns
// joined by ";") ended by one more zero byte. `path` receives the chosen path, valid until the
// next dialog, or null when the user cancelled. The current directory is kept.
ErrorCode gui_dialog_open_file(const char* title, const char* file_name,
                               const char* initial_directory, const char* default_extension,
                               const char* filter, const char** path);
ErrorCode gui_dialog_save_file(const char* title, const char* file_name,
                               const char* initial_directory, const char* default_extension,
                               const char* filter, const char** path);

// Taskbar progress: state 0 none, 1 indeterminate, 2 normal, 4 error, 8 paused; value of 100.
ErrorCode gui_taskbar_progressbar_state(uint32_t state);
ErrorCode gui_taskbar_progressbar_set(uint32_t value);
