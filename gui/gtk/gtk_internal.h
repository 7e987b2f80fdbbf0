// Inside the GTK backend: the state of the GUI thread, the carrying of calls to it, 8-bit texts,
// controls, modal loops and the hooks that the test support uses. GTK is touched only on the GUI
// thread.
#pragma once

#include <gtk/gtk.h>

#include <atomic>

#include "gui/backend.h"

// ---- Runtime (runtime.cpp) ---------------------------------------------------------------------

// What happens to the application thread after its entry returned: the test support starts the
// test body from here.
typedef void (*GtkEntryHook)(int result);

// Runs the toolkit's whole life on the calling thread, which becomes the GUI thread. Returns the
// process exit code.
int gtk_run(int argc, char** argv, int (*entry)(uint32_t, char**), GtkEntryHook after_entry);

// The main window, or null before it exists and once it is destroyed (GUI thread only).
extern GtkWidget* gtk_main_window;
extern GtkWidget* gtk_main_fixed;
// The main window's title was set as Latin-1.
extern int gtk_title_latin1;

// Whether the calling thread is the GUI thread.
int gtk_on_gui_thread();

// Shutdown steps for the tests.
void gtk_shutdown_step(const char* step);
extern char gtk_shutdown_steps[256];

// Outer sizes are turned into client sizes with the frame that a window manager adds: none
// without a window manager, else that of a Win32 window with a caption and a fixed border
// (6 x 29), the usual size of a decorated frame.
int32_t frame_width();
int32_t frame_height();

// ---- Carrying calls to the GUI thread (marshal.cpp) -------------------------------------------

// Runs `run(context)` on the GUI thread and returns its result: in place on the GUI thread,
// otherwise queued and waited for. 2 without running it when the main window is not there. A
// failure (3) on the GUI thread is copied into the caller's trace and error number.
ErrorCode gtk_call(ErrorCode (*run)(void* context), void* context);

template <typename F> ErrorCode gtk_call(F function) {
    return gtk_call([](void* context) { return (*static_cast<F*>(context))(); }, &function);
}

// Queues `run(context)` for the GUI thread without waiting. 0 when the queue is closed.
int gtk_post(void (*run)(void* context), void* context);

// Opens the queue (the window exists) and closes it (shutdown: pending calls get 2).
void gtk_queue_open();
void gtk_queue_close();
void gtk_queue_attach();

// Records a failed call on the GUI thread: name and error number, as the caller will see them.
ErrorCode gtk_fail(const char* call, int error);

// ---- Texts (text.cpp) ------------------------------------------------------------------------

// 8-bit text to the UTF-8 that GTK shows: as it is when it is UTF-8, else read as Latin-1.
// `latin1` (may be null) tells which. Free with g_free.
char* text_to_display(const char* bytes, int* latin1);
// Back: UTF-8 from GTK to the bytes the application reads (Latin-1 when `latin1`; characters
// beyond Latin-1 become '?'). Free with g_free.
char* text_from_display(const char* utf8, int latin1);

// ---- Controls (controls.cpp, style.cpp) ---------------------------------------------------------

struct GtkControl {
    uint32_t id;
    ControlKind kind;
    ControlStyle flags;
    GtkWidget* outer;  // what sits in the main window (a scrolled window for multi-line boxes)
    GtkWidget* widget; // the control proper
    int latin1;        // its text was set as Latin-1
    uint32_t position; // progress bars: 0 to 100
    guint marquee;     // progress bars: the pulse timer
    uint32_t epoch;    // counts the texts set, so that an older text never lands after a newer
};

// The fonts and the compact look of the main window's controls.
void style_install();
void style_remove();
void style_apply(GtkWidget* widget, int fixed_font);
const char* style_fixed_family();
int32_t style_fixed_pixels();
const char* style_default_family();
int32_t style_default_pixels();

void control_release(void* handle, ControlKind kind);

// True while the toolkit changes a control itself, so that no event goes out.
extern int gtk_programmatic;

// ---- Modal loops (message_box.cpp, file_dialog.cpp)
// ----------------------------------------------

struct GtkModal {
    uint32_t kind; // GuiTestModalKind
    GtkWidget* dialog;
    GMainLoop* loop;
    int response;
    NotificationType type;
    char* text;
    char* caption;
    char* file_name;
    char* folder;
    char* answer_path; // the tests' answer to a file dialog
    int answered;      // the tests' answer to a file dialog is in answer_path
    int done;
    uint32_t filter_count;
    GtkModal* outer;
};

// The innermost open modal loop, or null (GUI thread only).
extern GtkModal* gtk_modal_top;

// Runs a modal loop for `modal` (its dialog shown) until modal_finish; returns the response.
int modal_run(GtkModal* modal);
void modal_finish(GtkModal* modal, int response);

// A message box on the GUI thread; `parent` null for none. Used by the dialogs' own checks too.
ErrorCode message_box_run(const char* text, const char* caption, NotificationType type,
                          GtkWindow* parent, NotificationAnswer* answer);

// The response id of a message box button.
int message_box_response(NotificationAnswer answer);
// Whether a box of `type` has a button for `answer` (GUI_TEST_CLOSE_BUTTON: a working close
// button).
int message_box_accepts(NotificationType type, uint32_t answer);

// Pop-ups open, and the main window's input blocked by them or by a file dialog.
extern int gtk_popup_count;
extern int gtk_main_blocked;
extern GtkWidget* gtk_popup_newest;

// ---- Drops (drop.cpp) ------------------------------------------------------------------------

// Turns a text/uri-list into local paths and delivers them; discards the whole drop when any
// entry is not a local file. Returns 1 when delivered.
int drop_receive_uri_list(const char* uri_list);
void drop_accept(int accept);
// Readies a new main window for drops (none accepted yet).
void drop_window_init(GtkWidget* window);
extern int gtk_drops_accepted;

// ---- Test support hooks ----------------------------------------------------------------------

// Called on the GUI thread whenever something a test may wait for has happened.
extern void (*gtk_test_notify)();
// Message boxes: log and automatic answers.
extern void (*gtk_test_message_shown)(GtkModal* modal);
extern std::atomic<int> gtk_test_autoanswer;
extern std::atomic<uint32_t> gtk_test_autoanswer_value;
