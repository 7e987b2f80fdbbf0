// The GUI thread's life under Win32: start-up, the application thread, the main window and its
// procedure, the message loop, the marshalled calls and shutdown.
// windows.h first: the other system headers build on it.
#include "gui/win32/win32_internal.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdlib>

Win32Toolkit toolkit;
Win32Hooks win32_hooks;

static const char main_window_class[] = "main_window_class";

// Set while shutdown destroys a window that the loop left behind (app_main failed): that
// WM_DESTROY must not post a second quit message into the thread's queue.
static bool destroying_after_loop;

struct AppThreadStart {
    int (*entry)(uint32_t argc, char** argv);
    uint32_t argc;
    char** argv;
};

static void shutdown_step(const char* step) {
    if (win32_hooks.shutdown_step) {
        win32_hooks.shutdown_step(step);
    }
}

bool win32_on_gui_thread() {
    return GetCurrentThreadId() == toolkit.gui_thread;
}

void win32_wait_serving(HANDLE object) {
    for (;;) {
        DWORD woken = MsgWaitForMultipleObjects(1, &object, FALSE, INFINITE, QS_SENDMESSAGE);
        if (woken != WAIT_OBJECT_0 + 1) {
            return; // signalled, or the wait itself failed: nothing left to wait for
        }
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

ErrorCode win32_gui_failure(const char* system_call) {
    toolkit.gui_last_error = GetLastError();
    toolkit.gui_failed_call = system_call;
    trace_gui_system_failure(system_call);
    SetLastError(toolkit.gui_last_error);
    return GUI_ERROR_SYSTEM_CALL;
}

ErrorCode win32_marshal(UINT message, void* request, RequestState* state) {
    *state = {};
    state->completion = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    if (!state->completion) {
        return trace_gui_system_failure("CreateSemaphore");
    }
    // A window that is gone (or going) cannot serve the request: fail instead of waiting for a
    // completion that would never come.
    HWND window = toolkit.main_window;
    if (window && !toolkit.window_gone && IsWindow(window)) {
        SendMessageA(window, message, 0, reinterpret_cast<LPARAM>(request));
    }
    if (!state->served) {
        CloseHandle(state->completion);
        return GUI_ERROR_INITIALIZATION;
    }
    WaitForSingleObject(state->completion, INFINITE);
    CloseHandle(state->completion);
    if (state->result == GUI_ERROR_SYSTEM_CALL) {
        SetLastError(state->last_error);
        trace_gui_system_failure(state->failed_call);
    }
    return state->result;
}

bool win32_class_register(const char* name, WNDPROC procedure, HICON icon) {
    WNDCLASSEXA window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = toolkit.instance;
    window_class.hIcon = icon;
    window_class.hIconSm = icon;
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.hbrBackground =
        reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(gui_description.background));
    window_class.lpszClassName = name;
    return RegisterClassExA(&window_class) != 0;
}

void win32_request_complete(RequestState* state, ErrorCode result) {
    state->result = result;
    if (result == GUI_ERROR_SYSTEM_CALL) {
        state->last_error = toolkit.gui_last_error;
        state->failed_call = toolkit.gui_failed_call;
    }
    state->served = true;
    ReleaseSemaphore(state->completion, 1, nullptr);
}

// The application thread: runs the entry, and ends the program when set-up failed.
static DWORD WINAPI app_thread(void* parameter) {
    AppThreadStart* start = static_cast<AppThreadStart*>(parameter);
    int result = start->entry(start->argc, start->argv);
    if (win32_hooks.entry_returned) {
        win32_hooks.entry_returned(result);
    }
    if (result != 0 && toolkit.main_window) {
        SendMessageA(toolkit.main_window, WM_DESTROY, 0, 0);
    }
    return 0;
}

static void serve_create_control(ControlRequest* request) {
    win32_request_complete(&request->state,
                           control_create_window(request->kind, request->text, request->flags,
                                                 request->id, request->x, request->y,
                                                 request->width, request->height));
}

static void serve_notification(NotificationRequest* request) {
    win32_request_complete(
        &request->state,
        request->type == GUI_NOTIFY_TEXT_FILE
            ? popup_show(request->caption, request->text)
            : notification_show(request->text, request->caption, request->type, request->answer));
}

// Reads every name of a drop; on any failure nothing is delivered and everything is freed.
static void deliver_drop(HDROP drop) {
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    char** names = nullptr;
    bool complete = count > 0;
    if (complete) {
        names = static_cast<char**>(std::calloc(count, sizeof(char*)));
        complete = names != nullptr;
    }
    for (UINT i = 0; complete && i < count; i++) {
        UINT length = DragQueryFileA(drop, i, nullptr, 0);
        if (length > 0) {
            names[i] = static_cast<char*>(std::malloc(length + 1u));
        }
        complete = names[i] && DragQueryFileA(drop, i, names[i], length + 1) != 0;
    }
    DragFinish(drop);
    if (complete) {
        event_drop(count, names); // frees the names and the array
        return;
    }
    if (names) {
        for (UINT i = 0; i < count; i++) {
            std::free(names[i]);
        }
        std::free(names);
    }
}

static LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        toolkit.taskbar_button_created = RegisterWindowMessageA("TaskbarButtonCreated");
        return 0;
    case WM_DESTROY:
        InterlockedExchange(&toolkit.window_gone, 1);
        if (!destroying_after_loop) {
            PostQuitMessage(0);
        }
        return 0;
    case WM_CLOSE:
        if (event_close_request()) {
            DestroyWindow(window);
        }
        return 0;
    case WM_COMMAND:
        event_control(LOWORD(wparam), HIWORD(wparam) == CBN_SELCHANGE);
        return 0;
    case WM_DROPFILES:
        deliver_drop(reinterpret_cast<HDROP>(wparam));
        return 0;
    case GUI_MSG_CREATE_CONTROL:
        serve_create_control(reinterpret_cast<ControlRequest*>(lparam));
        return 0;
    case GUI_MSG_NOTIFY:
        serve_notification(reinterpret_cast<NotificationRequest*>(lparam));
        return 0;
    case GUI_MSG_SET_TEXT: {
        TextRequest* request = reinterpret_cast<TextRequest*>(lparam);
        win32_request_complete(&request->state,
                               text_fill(request->box, request->text, request->length));
        return 0;
    }
    default:
        if (message == toolkit.taskbar_button_created && message != 0) {
            taskbar_init();
            return 0;
        }
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

static int start_failure(const char* text) {
    MessageBoxA(nullptr, text, "Error", MB_ICONEXCLAMATION);
    return 0;
}

// Lets the system place the window when either coordinate asks for it.
static void window_position(int* x, int* y) {
    if (gui_description.x == -1 || gui_description.y == -1) {
        *x = CW_USEDEFAULT;
        *y = CW_USEDEFAULT;
    } else {
        *x = gui_description.x;
        *y = gui_description.y;
    }
}

// Closes the call gate while serving sent messages: a thread inside the gate may be blocked in
// SendMessage towards this thread, and must be let through before the gate can drain.
static DWORD WINAPI gate_closer(void*) {
    gui_gate_close();
    return 0;
}

static void free_fixed_font() {
    if (toolkit.fixed_font) {
        DeleteObject(toolkit.fixed_font);
        toolkit.fixed_font = nullptr;
    }
}

int win32_toolkit_run(int (*entry)(uint32_t argc, char** argv), uint32_t argc, char** argv) {
    toolkit = Win32Toolkit{};
    toolkit.instance = GetModuleHandleA(nullptr);
    toolkit.gui_thread = GetCurrentThreadId();
    gui_gate_reset();

    toolkit.description_ready = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    toolkit.window_ready = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    if (!toolkit.description_ready || !toolkit.window_ready) {
        return start_failure("Error Starting Application");
    }
    AppThreadStart start = {entry, argc, argv};
    HANDLE application = CreateThread(nullptr, 0, app_thread, &start, 0, nullptr);
    if (!application) {
        return start_failure("Error Starting Application");
    }
    // An entry that ends without describing its window would leave this wait alone for ever.
    HANDLE start_up[2] = {toolkit.description_ready, application};
    if (WaitForMultipleObjects(2, start_up, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CloseHandle(application);
        return 0;
    }

    HICON icon = gui_description.icon
                     ? LoadIconA(toolkit.instance, MAKEINTRESOURCEA(gui_description.icon))
                     : LoadIconA(nullptr, IDI_APPLICATION);
    if (!win32_class_register(main_window_class, main_window_proc, icon)) {
        return start_failure("Window Creation Failed");
    }
    int x = 0;
    int y = 0;
    window_position(&x, &y);
    HWND window =
        CreateWindowExA(WS_EX_COMPOSITED, main_window_class, gui_description.title,
                        WS_BORDER | WS_SYSMENU | WS_MINIMIZEBOX, x, y, gui_description.width,
                        gui_description.height, nullptr, nullptr, toolkit.instance, nullptr);
    if (!window) {
        UnregisterClassA(main_window_class, toolkit.instance);
        return start_failure("Window Creation Failed");
    }
    toolkit.main_window = window;
    // The progress bar's class lives in comctl32, which nothing else would load.
    INITCOMMONCONTROLSEX common_controls = {sizeof(common_controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&common_controls);
    toolkit.fixed_font = CreateFontA(16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Courier New");
    if (gui_description.on_drop) {
        DragAcceptFiles(window, TRUE);
    }
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    ReleaseSemaphore(toolkit.window_ready, 1, nullptr);

    MSG message;
    WPARAM exit_code = 0;
    for (;;) {
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            exit_code = message.wParam;
            break;
        }
        if (got == -1) {
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    InterlockedExchange(&toolkit.window_gone, 1);
    if (IsWindow(window)) {
        // app_main failed: the loop ended on its WM_DESTROY, the window itself still stands.
        destroying_after_loop = true;
        DestroyWindow(window);
        destroying_after_loop = false;
    }
    shutdown_step("destroy");
    shutdown_step("loop");

    win32_wait_serving(application);
    CloseHandle(application);
    shutdown_step("application");
    UnregisterClassA(main_window_class, toolkit.instance);
    free_fixed_font();
    shutdown_step("font");
    HANDLE closer = CreateThread(nullptr, 0, gate_closer, nullptr, 0, nullptr);
    if (closer) {
        win32_wait_serving(closer);
        CloseHandle(closer);
        control_table_free(nullptr); // the native controls went with their parent window
        shutdown_step("controls");
    }
    // Without the closer thread the gate cannot be drained safely: the records stay, unused,
    // until the process ends.
    CloseHandle(toolkit.description_ready);
    CloseHandle(toolkit.window_ready);
    toolkit.main_window = nullptr;
    return static_cast<int>(exit_code);
}

// ---- Backend: window -------------------------------------------------------------------------

void backend_window_create() {
    ReleaseSemaphore(toolkit.description_ready, 1, nullptr);
    WaitForSingleObject(toolkit.window_ready, INFINITE);
}

void backend_window_accept_files(int accept) {
    if (toolkit.main_window) {
        DragAcceptFiles(toolkit.main_window, accept ? TRUE : FALSE);
    }
}

static ErrorCode window_rect(RECT* rect) {
    if (!toolkit.main_window || toolkit.window_gone) {
        return GUI_ERROR_INITIALIZATION;
    }
    if (!GetWindowRect(toolkit.main_window, rect)) {
        return trace_gui_system_failure("GetWindowRect");
    }
    return GUI_ERROR_NONE;
}

ErrorCode backend_window_move(int32_t x, int32_t y) {
    RECT rect;
    ErrorCode code = window_rect(&rect);
    if (code) {
        return code;
    }
    if (!MoveWindow(toolkit.main_window, x, y, rect.right - rect.left, rect.bottom - rect.top,
                    TRUE)) {
        return trace_gui_system_failure("MoveWindow");
    }
    return GUI_ERROR_NONE;
}

ErrorCode backend_window_resize(int32_t width, int32_t height) {
    RECT rect;
    ErrorCode code = window_rect(&rect);
    if (code) {
        return code;
    }
    if (!MoveWindow(toolkit.main_window, rect.left, rect.top, width, height, TRUE)) {
        return trace_gui_system_failure("MoveWindow");
    }
    return GUI_ERROR_NONE;
}

ErrorCode backend_window_set_title(const char* title) {
    if (!toolkit.main_window || toolkit.window_gone) {
        return GUI_ERROR_INITIALIZATION;
    }
    if (!SetWindowTextA(toolkit.main_window, title)) {
        return trace_gui_system_failure("SetWindowText");
    }
    return GUI_ERROR_NONE;
}
