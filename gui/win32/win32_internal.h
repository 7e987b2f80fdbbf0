// The Win32 backend's shared state and its internal steps. Everything is ANSI: the toolkit's
// texts are 8-bit, so only the ...A entry points of the system are called.
#pragma once

#include <windows.h>

#include <cstdint>

#include "gui/backend.h"

// Private messages of the main window; wParam 0, lParam the request record.
enum : UINT {
    GUI_MSG_CREATE_CONTROL = WM_USER + 1,
    GUI_MSG_NOTIFY = WM_USER + 2,
    GUI_MSG_SET_TEXT = WM_USER + 3,
};

// What a request sent to the GUI thread carries back: its completion, its result and, for a
// failed system call, the call and its error number. They travel in the request itself, so that
// two callers served one after the other never read each other's failure.
struct RequestState {
    HANDLE completion;
    ErrorCode result;
    DWORD last_error;
    const char* failed_call;
    bool served;
};

// The request of gui_control_create, on the caller's stack for the length of the call.
struct ControlRequest {
    ControlKind kind;
    const char* text;
    ControlStyle flags;
    uint32_t id;
    int32_t x, y, width, height;
    RequestState state;
};

// The request of gui_notification. For the text pop-up (type 7) `text` is the file's contents.
struct NotificationRequest {
    const char* text;
    const char* caption;
    NotificationType type;
    NotificationAnswer* answer;
    RequestState state;
};

// The request of a big text for a multi-line box, filled in on the GUI thread (text_fill).
struct TextRequest {
    HWND box;
    const char* text;
    size_t length;
    RequestState state;
};

// One toolkit session: the life of the main window and of the GUI thread's loop.
struct Win32Toolkit {
    HINSTANCE instance;
    HWND main_window; // set once the window exists, before the window-ready signal
    DWORD gui_thread; // the thread that runs the loop
    HFONT fixed_font;
    HANDLE description_ready; // application thread to GUI thread
    HANDLE window_ready;      // GUI thread to application thread
    UINT taskbar_button_created;
    volatile LONG window_gone; // set when the main window is destroyed
    // The last failure of a call served for another thread (kept as the toolkit's record).
    DWORD gui_last_error;
    const char* gui_failed_call;
};
extern Win32Toolkit toolkit;

// Hooks of the test support: called on the application thread after the entry returned, and
// on the GUI thread at each shutdown step. Null in the real program.
struct Win32Hooks {
    void (*entry_returned)(int result);
    void (*shutdown_step)(const char* step);
    // Sees every message box before it is shown; non-zero answers it with `*button` instead.
    int (*message_box)(const char* text, const char* caption, NotificationType type, int* button);
    // Sees every file dialog before it runs.
    void (*file_dialog)(int save, const char* title, const char* file_name, const char* folder,
                        const FileFilterList* filters);
};
extern Win32Hooks win32_hooks;

// Runs a whole session on the calling thread (the GUI thread): start-up, `entry` on the
// application thread, the message loop, shutdown. Returns the process's exit code.
int win32_toolkit_run(int (*entry)(uint32_t argc, char** argv), uint32_t argc, char** argv);

// Whether the calling thread is the GUI thread.
bool win32_on_gui_thread();

// Waits for `object` while serving the messages that other threads send to this thread's
// windows, so that a thread blocked in SendMessage towards us can never deadlock the wait.
void win32_wait_serving(HANDLE object);

// Sends a private request to the main window and waits for its completion. Result: the
// request's own result, with a system call that failed on the GUI thread made the caller's
// (its error number and call name); or 2 when the main window is gone (nothing was done), or 3
// when the completion semaphore could not be made ("CreateSemaphore").
ErrorCode win32_marshal(UINT message, void* request, RequestState* state);

// Registers a window class of the toolkit: arrow cursor, the window description's background
// brush, `icon` (may be null). True on success.
bool win32_class_register(const char* name, WNDPROC procedure, HICON icon);

// On the GUI thread: records `result` (and the toolkit's record of a failed system call) in
// `state` and releases the waiting caller.
void win32_request_complete(RequestState* state, ErrorCode result);

// GUI-thread workers of the two marshalled calls.
ErrorCode control_create_window(ControlKind kind, const char* text, ControlStyle flags, uint32_t id,
                                int32_t x, int32_t y, int32_t width, int32_t height);
ErrorCode notification_show(const char* text, const char* caption, NotificationType type,
                            NotificationAnswer* answer);
ErrorCode popup_show(const char* caption, const char* text);

// Puts a big text into a multi-line edit box a piece at a time, serving the GUI thread's queue
// between pieces so that the window keeps answering; returns once the whole text is in (0), or
// once a newer text for the box or the window's end has cut it short (2 when the window went).
ErrorCode text_fill(HWND box, const char* text, size_t length);

// Gives `box` a new text number, which stops a fill in progress for it.
uint32_t text_epoch_next(HWND box);

// Records the failed call on the GUI thread for the caller it serves: the thread's own trace,
// and the toolkit's hand-back slots. Returns 3.
ErrorCode win32_gui_failure(const char* system_call);

// The style, class and child identifier of a control kind with the given flags.
struct ControlClass {
    const char* class_name;
    DWORD style;
    bool has_text;
    bool has_child_id;
    bool has_font;
};
ControlClass control_class_of(ControlKind kind, ControlStyle flags);

// Taskbar: run on every "TaskbarButtonCreated" message.
HRESULT taskbar_init();

// The pop-up window's procedure and the number of open pop-ups (for the test support).
LRESULT CALLBACK popup_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
