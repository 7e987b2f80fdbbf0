// Test support: runs the real toolkit and application in a test program and acts as the user
// would, deterministically. Every backend implements it (link quarnel_gui_test instead of
// quarnel_gui_main). Nothing here names a window system.
//
// A session runs on the thread that calls gui_test_run, which becomes the GUI thread (use the
// test program's main thread). The application's entry runs on the application thread as in the
// real program; once it has returned 0 the `body` runs on a test thread of its own and drives the
// window with the functions below. Each action returns once it has settled: the GUI thread is
// back in its main loop, or waiting in a modal loop (a message box or file dialog that the action
// opened), with nothing left to do. No function here sleeps for a fixed time; the timeouts only
// bound a wait that went wrong.
#pragma once

#include <cstdint>

#include "gui/gui.h"

typedef int (*GuiTestEntry)(uint32_t argc, char** argv);
typedef void (*GuiTestBody)(void* context);

// Runs one whole session: start-up, `entry` (app_main when null) on the application thread,
// `body` (may be null) on a test thread once `entry` has returned 0, then, if the window is still
// open when the body returns, closes it as the user would, and shuts down. Returns what the
// process entry would return (0). Sessions can follow each other in one process.
int gui_test_run(GuiTestEntry entry, uint32_t argc, char** argv, GuiTestBody body, void* context);

// The value `entry` returned in the last session (-1 before it returned).
int gui_test_entry_result();

// The shutdown steps of the last session, in order, separated by single spaces: "destroy" (the
// main window went), "loop" (the main loop ended), "application" (the application thread was
// waited for), "font" (the fixed font was released), "controls" (the control table was freed).
const char* gui_test_shutdown_steps();

// Waits until the GUI thread is idle in its main loop or in a modal loop. 1, or 0 when the
// timeout passed or the window is gone.
int gui_test_settle(uint32_t timeout_ms);

// Runs `function` on the GUI thread, in its loop, as a handler would run, and returns when it
// has returned. 1, or 0 when the window is gone.
int gui_test_on_gui_thread(void (*function)(void* context), void* context);

// A heartbeat on the GUI thread, to see how long the window stays unresponsive: a system timer
// that ticks every `interval_ms` whenever the thread serves a loop (its main loop or a modal
// one). Starting again restarts the count. 1, or 0 when the window is gone.
int gui_test_heartbeat_start(uint32_t interval_ms);

// Stops the heartbeat, on the GUI thread once it is free, and returns the longest time in
// milliseconds that it waited between two ticks: from the start to the first tick, between
// ticks, and from the last tick to the stop. -1 when no heartbeat ran or the window is gone.
int64_t gui_test_heartbeat_stop();

// ---- Acting as the user --------------------------------------------------------------------

// Clicks control `id` (any kind; only buttons, check boxes and radio buttons react).
// 1, or 0 when there is no such control.
int gui_test_click(uint32_t id);

// Picks item `index` of combo box `id` from its list. 1, or 0 for no such combo box or item.
int gui_test_combobox_choose(uint32_t id, uint32_t index);

// Types UTF-8 text into edit box `id` at its cursor; "\n" stands for the Enter key. 1, or 0 for
// no such edit box.
int gui_test_type(uint32_t id, const char* text);

// Drops the items of a text/uri-list (lines of URIs) on the main window. 1 when the window
// accepts drops and received it, 0 otherwise.
int gui_test_drop(const char* uri_list);

// Clicks the main window's close button. 1, or 0 when the window is gone.
int gui_test_close();

// Makes the next toolkit operation on control `id` (gui_control_*, gui_radio_button_*, ...)
// return `code` instead of acting, as a failing window system would; GUI_ERROR_NONE takes a
// planted failure back. One failure waits at a time.
void gui_test_control_fail_next(uint32_t id, ErrorCode code);

// ---- Message boxes and file dialogs --------------------------------------------------------

typedef uint32_t GuiTestModalKind;
enum : uint32_t {
    GUI_TEST_MODAL_NONE = 0,
    GUI_TEST_MODAL_MESSAGE = 1,
    GUI_TEST_MODAL_OPEN = 2,
    GUI_TEST_MODAL_SAVE = 3,
};

struct GuiTestModal {
    GuiTestModalKind kind;
    NotificationType type; // message box type (0 to 6)
    char text[2048];       // message text, as the application passed it (8-bit)
    char caption[512];     // message caption, or the dialog's title
    char file_name[1024];  // file dialogs: the proposed name, "" when none
    char folder[1024];     // file dialogs: the folder shown first, "" when the default
    uint32_t filter_count; // file dialogs: number of file-type filters
    uint32_t depth;        // how many message boxes and dialogs are open, this one included
};

// Waits until a message box or file dialog is open and describes the innermost one.
// 1, or 0 on timeout.
int gui_test_modal_wait(GuiTestModal* modal, uint32_t timeout_ms);

// Answers the innermost message box with `answer` (one of its buttons), or with its close button
// when `answer` is GUI_TEST_CLOSE_BUTTON. 1, or 0 when no box is open or the box has no such
// button.
enum : uint32_t { GUI_TEST_CLOSE_BUTTON = 0xFFFFFFFFu };
int gui_test_message_answer(NotificationAnswer answer);

// From now on answers every message box at once with `answer` (as gui_test_message_answer),
// until called with `enabled` 0. Boxes answered so are still logged.
void gui_test_message_autoanswer(int enabled, NotificationAnswer answer);

// The message boxes shown in this session, oldest first: copies up to `max` of them and returns
// how many were shown in all.
uint32_t gui_test_message_log(GuiTestModal* boxes, uint32_t max);

// Answers the innermost file dialog as if the user typed or picked `path` and confirmed, or
// cancelled it when `path` is null. The dialog applies its own checks (an open dialog wants an
// existing file; a save dialog adds the default extension and asks before overwriting), which
// may leave it open or show a message box. 1, or 0 when no file dialog is open.
int gui_test_file_answer(const char* path);

// Whether the innermost file dialog's chosen file-type filter shows a file named `name`.
// 1 or 0; -1 when no file dialog is open.
int gui_test_file_filter_accepts(const char* name);

// ---- Looking at the window -----------------------------------------------------------------

struct GuiTestWindow {
    int exists;
    int32_t x, y;          // outer top-left corner on the screen
    int32_t width, height; // outer size
    int32_t client_width, client_height;
    int resizable;
    int sensitive; // takes input (0 while the text pop-up is open)
    int accepts_drops;
    char title[512];    // as the application set it (8-bit)
    int shown;          // mapped on the screen, so that real input reaches it
    char icon_name[64]; // the icon-theme name of the window icon
};
int gui_test_window(GuiTestWindow* window);

struct GuiTestControl {
    ControlKind kind;
    int32_t x, y, width, height; // in the client area, as placed by the application
    int visible;
    int enabled;
    int fixed_font;                    // uses the toolkit's fixed-width font
    char font_family[128];             // the face the control asks for
    int32_t font_pixels;               // its size in pixels
    int text_right_of_box;             // check boxes and radio buttons: 1 unless GUI_STYLE_LEFT
    int alignment;                     // text alignment: 0 left, 1 centre, 2 right
    int read_only;                     // edit boxes
    int multi_line;                    // edit boxes
    int marquee;                       // progress bars: the moving block runs
    int32_t shown_width, shown_height; // the size drawn: larger where a caption needs it
};
// 1, or 0 when there is no such control.
int gui_test_control(uint32_t id, GuiTestControl* control);

struct GuiTestPopup {
    int open;
    int32_t x, y, width, height; // outer, on the screen
    char title[512];
    char text[4096];      // the first bytes shown (8-bit, as in the file)
    uint32_t text_length; // bytes shown in all
    int read_only;
    int fixed_font;
    int32_t client_width, client_height;
};
// Describes the newest open text pop-up. 1, or 0 when none is open.
int gui_test_popup(GuiTestPopup* popup);

// Closes the newest text pop-up with its close button. 1, or 0 when none is open.
int gui_test_popup_close();

// Waits until condition(context) returns non-zero, checking it again whenever the GUI thread
// has done something. 1, or 0 on timeout.
int gui_test_wait(int (*condition)(void* context), void* context, uint32_t timeout_ms);
