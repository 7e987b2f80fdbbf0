// The toolkit's inside: what the common front end (gui/front) shares with the window-system
// backends (gui/gtk, gui/win32). The front end writes every public gui_ operation once: it
// records the operation's name, checks its arguments (null pointers first, then identifiers and
// kinds), looks the control up in the control table and then calls one backend_ function below.
// Each backend implements every backend_ function and its own process entry. No window-system
// type appears here: a control's native object travels as an opaque `void*` handle.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gui/gui.h"

// ---- Shared state ----------------------------------------------------------------------------

// The toolkit's copy of the application's description, written by gui_window_create before the
// description-ready signal and only read afterwards.
extern WindowDescription gui_description;

// ---- Control table (gui/front/control_table.cpp) ---------------------------------------------

// One control: newest first. Records are linked on the GUI thread only, fully written before
// they are published, and walked by any thread without a lock.
struct ControlRecord {
    uint32_t id;
    ControlKind kind;
    void* handle; // the backend's native object for the control
    ControlRecord* next;
};

// The newest record, or null.
ControlRecord* control_table_head();

// Finds the kind of control `id`. Result: 0, or 2 for id 0 or an unknown id. Records nothing.
ErrorCode control_find_kind(uint32_t id, ControlKind* kind);

// Finds the handle of control `id`; `expected` 0 accepts any kind. Result: 0, or 2 for id 0, an
// unknown id or another kind. Records nothing.
ErrorCode control_find_handle(uint32_t id, ControlKind expected, void** handle);

// Links a new record at the head. GUI thread only. Result: 0, or 4 when memory ran out (the
// caller then destroys its native control).
ErrorCode control_table_link(uint32_t id, ControlKind kind, void* handle);

// Unlinks and frees every record, calling `release` (when set) on each handle first. Call only
// after gui_gate_close, at shutdown.
void control_table_free(void (*release)(void* handle, ControlKind kind));

// ---- Call gate (gui/front/gate.cpp) -----------------------------------------------------------
// Every public operation runs inside the gate, so that shutdown can wait for operations still
// walking the control table (a search thread, say) before it frees the table.

// Enters the gate. Result: 1, or 0 when the toolkit has shut down (the caller returns 2).
int gui_gate_enter();
void gui_gate_leave();

// Shuts the gate, then waits until no operation is inside it any more. Calls made afterwards
// fail with 2 at once. Must not be called from inside the gate.
void gui_gate_close();

// Opens the gate again (a new toolkit session in the same process, as the tests run them).
void gui_gate_reset();

// ---- Pure helpers (gui/front) ----------------------------------------------------------------

// Check states: the value a backend stores for a CheckState (1 checked, 0 unchecked, any other
// value indeterminate 2), and the CheckState of a stored value (1, 0, anything else 2).
uint32_t check_state_to_native(CheckState state);
CheckState check_state_from_native(uint32_t native);

// A file-type filter, translated from the common-dialog form (pairs of NUL-ended strings, a
// description then patterns joined by ";", ended by an extra NUL). Empty patterns are dropped.
struct FileFilter {
    const char* description;
    const char** patterns;
    uint32_t pattern_count;
};
struct FileFilterList {
    FileFilter* filters;
    uint32_t count;
    void* storage; // one block that holds everything above
};

// Parses `filter` (null gives an empty list). Result: 0, or 4 when memory ran out.
ErrorCode file_filter_parse(const char* filter, FileFilterList* list);
void file_filter_free(FileFilterList* list);

// Matches a file name (no directory) against one pattern with `*` and `?`, ignoring the case of
// ASCII letters as the Windows dialogs do. "*.*" matches every name, dotted or not.
int file_pattern_match(const char* pattern, const char* name);

// Whether `name` passes one filter (any of its patterns).
int file_filter_accepts(const FileFilter* filter, const char* name);

// The text pop-up's top-left corner: the main window's outer top-left corner plus half the
// difference between the described window size and the pop-up size (signed, toward zero).
enum : int32_t { POPUP_WIDTH = 400, POPUP_HEIGHT = 400 };
void popup_position(int32_t main_x, int32_t main_y, int32_t width, int32_t height, int32_t* x,
                    int32_t* y);

// Reads the text file shown by the pop-up, whole, into a new NUL-terminated block (release with
// free). `length` receives the bytes up to the first NUL. Result: 0; 2 when the file cannot be
// opened, is empty or cannot be read whole; 4 when memory ran out.
ErrorCode popup_text_read(const char* path, char** text, uint32_t* length);

// Splits a command line into an argument vector: one block, never freed, the pointer array
// first and the strings after it, a null pointer after the last argument. Quotes group blanks
// and are dropped; a backslash is an ordinary character. Null when memory ran out.
char** command_line_to_argv(const char* command_line, uint32_t* argc);

// ---- Events (gui/front/events.cpp), called by the backend on the GUI thread --------------------

// A control event from the window system: ignores unknown ids; a combo box reports only a
// selection change (`selection_changed` non-zero); a check box is toggled first (checked becomes
// unchecked, anything else checked); then on_event runs for buttons, check boxes, radio buttons
// and combo boxes.
void event_control(uint32_t id, int selection_changed);

// The user asks to close the main window. Calls on_close, or on_event(0) when there is none.
// Result: 1 when the window is to be destroyed now, 0 when it stays open.
int event_close_request();

// Delivers dropped files: `names` is a malloc'd array of `count` malloc'd paths in drop order.
// Calls on_drop when set, then frees as many names as the count says and the array.
void event_drop(uint32_t count, char** names);

// ---- Backend: window and runtime --------------------------------------------------------------
// Every backend_ function may be called from any thread. It runs on the GUI thread: in place
// when called there, otherwise carried there while the caller waits (served in the main loop or
// in a modal loop, never while a handler runs). A call that cannot reach the GUI thread because
// the main window is gone, or not yet there, returns 2 without blocking. On result 3 the backend
// has set the calling thread's `system_call` (trace_gui_system_failure) and its system error
// number, also when the failure happened on the GUI thread.

// gui_window_create: gui_description is filled; gives the description-ready signal and returns
// once the main window exists and is shown.
void backend_window_create();
void backend_window_accept_files(int accept);

ErrorCode backend_window_move(int32_t x, int32_t y);
ErrorCode backend_window_resize(int32_t width, int32_t height); // outer size
ErrorCode backend_window_set_title(const char* title);

// ---- Backend: controls -------------------------------------------------------------------------

// Creates a control on the GUI thread (arguments checked: text set, id non-zero, kind 1 to 8):
// 2 when the id is taken (control_find_kind, checked on the GUI thread), 3 when the native
// control cannot be made, 4 when its record cannot be linked (the control is destroyed again).
ErrorCode backend_control_create(ControlKind kind, const char* text, ControlStyle flags,
                                 uint32_t id, int32_t x, int32_t y, int32_t width, int32_t height);

ErrorCode backend_control_move(void* handle, int32_t x, int32_t y);
ErrorCode backend_control_resize(void* handle, int32_t width, int32_t height);
ErrorCode backend_control_show(void* handle, uint32_t show);
ErrorCode backend_control_enable(void* handle, uint32_t enable);
ErrorCode backend_control_enabled(void* handle, uint32_t* enabled);

// Text by child identifier, without a table lookup by the front end (id non-zero; a buffer with
// size non-zero). A control without a child identifier (a progress bar) or an unknown id fails
// with 3 ("SetDlgItemText", "GetDlgItemText"). Texts are 8-bit; counts are bytes.
ErrorCode backend_control_set_text(uint32_t id, const char* text);
ErrorCode backend_control_get_text(uint32_t id, char* buffer, uint32_t size);
ErrorCode backend_control_get_text_length(void* handle, uint32_t* length);

// Native check values: 0, 1 or 2 (see check_state_to_native).
ErrorCode backend_checkbox_get(void* handle, uint32_t* native);
ErrorCode backend_checkbox_set(void* handle, uint32_t native);
ErrorCode backend_radio_button_get(void* handle, uint32_t* native);
ErrorCode backend_radio_button_set(void* handle, uint32_t native);

// Programmatic changes of a combo box never produce events. Delete gives 2 for an index past
// the end; selected gives 0xFFFFFFFF when nothing is selected.
ErrorCode backend_combobox_add(void* handle, const char* text);
ErrorCode backend_combobox_insert(void* handle, uint32_t index, const char* text);
ErrorCode backend_combobox_delete(void* handle, uint32_t index);
ErrorCode backend_combobox_select(void* handle, uint32_t index);
ErrorCode backend_combobox_selected(void* handle, uint32_t* index);

ErrorCode backend_progressbar_state(void* handle, ProgressState state);
ErrorCode backend_progressbar_set(void* handle, uint32_t value);
ErrorCode backend_progressbar_get(void* handle, uint32_t* value);

// ---- Backend: notifications, dialogs, taskbar ---------------------------------------------------

// A message box of type 0 to 6 with no owner, in a modal loop on the GUI thread. For types 1 to
// 6 `answer` (non-null) receives the chosen button.
ErrorCode backend_message_box(const char* text, const char* caption, NotificationType type,
                              NotificationAnswer* answer);

// The text pop-up: `text` is the file's contents up to its first NUL (`length` bytes), shown
// read-only in the fixed font in a 400 x 400 window titled `caption`, placed by popup_position;
// the main window takes no input until the pop-up closes. Returns once the pop-up is shown.
ErrorCode backend_popup_show(const char* caption, const char* text, uint32_t length);

// A file dialog, modal to the main window. `save` 0 opens (existing files only), 1 saves
// (proposes `file_name`, appends `default_extension` to a name without one, asks before
// overwriting). `filters` is already translated. The process's current directory is the same
// afterwards. On 0, `*chosen` is a malloc'd path, or null when the user cancelled. A failure of
// the dialog itself gives 2.
ErrorCode backend_dialog_file(int save, const char* title, const char* file_name,
                              const char* initial_directory, const char* default_extension,
                              const FileFilterList* filters, char** chosen);

// Taskbar progress (state as the shell's flags: 0, 1, 2, 4, 8; value out of 100). Where the
// desktop offers none: 3 with "ITaskbarList3::SetProgressState" /
// "ITaskbarList3::SetProgressValue".
ErrorCode backend_taskbar_state(uint32_t state);
ErrorCode backend_taskbar_value(uint32_t value);
