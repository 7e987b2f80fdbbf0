// The test support over Win32: the session runs the real toolkit on the test program's main
// thread, and the test thread acts on the window the way the user's input would arrive, through
// the GUI thread's message queue. A hidden message-only window of the GUI thread answers the
// "settle" pings: a ping posted after an action is served once the GUI thread has handled
// everything posted before it and is back in a message loop (its own or a modal one).
#include "gui/win32/win32_internal.h"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "gui/gui_test.h"

namespace {

enum : UINT {
    TEST_MSG_PING = WM_APP + 1,
    TEST_MSG_RUN = WM_APP + 2,
};

// Child identifiers of the system's dialogs.
enum : int {
    MESSAGE_BOX_TEXT = 0xFFFF,
    FILE_NAME_COMBO = 0x47C,
    FILE_NAME_EDIT = 0x480,
    FILE_TYPE_COMBO = 0x470,
};

struct RunRequest {
    void (*function)(void*);
    void* context;
    HANDLE done;
};

struct FileDialogRecord {
    bool save;
    std::string title;
    std::string file_name;
    std::string folder;
    std::vector<std::vector<std::string>> filters;
};

HWND helper_window;
HANDLE ping_event;
volatile LONG ping_sent;
volatile LONG ping_served;

std::mutex session_mutex;
GuiTestBody session_body;
void* session_context;
HANDLE body_thread;
volatile LONG entry_result = -1;
std::string shutdown_steps;
std::vector<GuiTestModal> message_log;
bool autoanswer;
NotificationAnswer autoanswer_with;
FileDialogRecord file_dialog;

// The heartbeat: a timer of the helper window. Touched on the GUI thread only.
enum : UINT_PTR { HEARTBEAT_TIMER = 1 };
bool heartbeat_running;
std::chrono::steady_clock::time_point heartbeat_last;
std::chrono::steady_clock::duration heartbeat_longest;

void heartbeat_note() {
    auto now = std::chrono::steady_clock::now();
    heartbeat_longest = std::max(heartbeat_longest, now - heartbeat_last);
    heartbeat_last = now;
}

LRESULT CALLBACK helper_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_TIMER && wparam == HEARTBEAT_TIMER) {
        heartbeat_note();
        return 0;
    }
    if (message == TEST_MSG_PING) {
        InterlockedExchange(&ping_served, static_cast<LONG>(lparam));
        SetEvent(ping_event);
        return 0;
    }
    if (message == TEST_MSG_RUN) {
        RunRequest* request = reinterpret_cast<RunRequest*>(lparam);
        request->function(request->context);
        SetEvent(request->done);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

bool session_window(HWND* window) {
    *window = toolkit.main_window;
    return *window && !toolkit.window_gone && IsWindow(*window);
}

int button_of(NotificationAnswer answer) {
    static const int buttons[] = {IDOK,    IDYES,    IDNO,       IDCANCEL,  IDRETRY,
                                  IDABORT, IDIGNORE, IDTRYAGAIN, IDCONTINUE};
    return answer < sizeof(buttons) / sizeof(buttons[0]) ? buttons[answer] : 0;
}

void copy_text(char* target, size_t size, const char* text) {
    std::snprintf(target, size, "%s", text ? text : "");
}

// ---- Hooks, on the GUI thread -----------------------------------------------------------

void hook_entry_returned(int result) {
    InterlockedExchange(&entry_result, result);
    if (result == 0 && session_body) {
        body_thread = CreateThread(
            nullptr, 0,
            [](void*) -> DWORD {
                session_body(session_context);
                gui_test_close();
                return 0;
            },
            nullptr, 0, nullptr);
    }
}

void hook_shutdown_step(const char* step) {
    std::lock_guard<std::mutex> lock(session_mutex);
    if (!shutdown_steps.empty()) {
        shutdown_steps += ' ';
    }
    shutdown_steps += step;
}

int hook_message_box(const char* text, const char* caption, NotificationType type, int* button) {
    std::lock_guard<std::mutex> lock(session_mutex);
    GuiTestModal entry = {};
    entry.kind = GUI_TEST_MODAL_MESSAGE;
    entry.type = type;
    copy_text(entry.text, sizeof(entry.text), text);
    copy_text(entry.caption, sizeof(entry.caption), caption);
    message_log.push_back(entry);
    if (!autoanswer) {
        return 0;
    }
    *button = autoanswer_with == GUI_TEST_CLOSE_BUTTON ? (type == GUI_NOTIFY_OK ? IDOK : IDCANCEL)
                                                       : button_of(autoanswer_with);
    return 1;
}

void hook_file_dialog(int save, const char* title, const char* file_name, const char* folder,
                      const FileFilterList* filters) {
    std::lock_guard<std::mutex> lock(session_mutex);
    file_dialog = FileDialogRecord{};
    file_dialog.save = save != 0;
    file_dialog.title = title ? title : "";
    file_dialog.file_name = file_name ? file_name : "";
    file_dialog.folder = folder ? folder : "";
    for (uint32_t i = 0; filters && i < filters->count; i++) {
        std::vector<std::string> patterns;
        for (uint32_t k = 0; k < filters->filters[i].pattern_count; k++) {
            patterns.push_back(filters->filters[i].patterns[k]);
        }
        file_dialog.filters.push_back(patterns);
    }
}

// ---- Looking at the GUI thread's windows ------------------------------------------------

bool has_class(HWND window, const char* name) {
    char class_name[64] = "";
    GetClassNameA(window, class_name, sizeof(class_name));
    return std::strcmp(class_name, name) == 0;
}

struct ModalWindows {
    HWND innermost;
    uint32_t depth;
};

BOOL CALLBACK collect_modal(HWND window, LPARAM parameter) {
    ModalWindows* found = reinterpret_cast<ModalWindows*>(parameter);
    if (has_class(window, "#32770") && IsWindowVisible(window)) {
        found->depth++;
        // Windows come topmost first: the first enabled one is the innermost.
        if (!found->innermost && IsWindowEnabled(window)) {
            found->innermost = window;
        }
    }
    return TRUE;
}

ModalWindows modal_windows() {
    ModalWindows found = {nullptr, 0};
    if (toolkit.gui_thread) {
        EnumThreadWindows(toolkit.gui_thread, collect_modal, reinterpret_cast<LPARAM>(&found));
    }
    return found;
}

bool is_file_dialog(HWND dialog) {
    return GetDlgItem(dialog, FILE_NAME_COMBO) || GetDlgItem(dialog, FILE_NAME_EDIT);
}

BOOL CALLBACK find_popup(HWND window, LPARAM parameter) {
    if (has_class(window, "popup") && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(parameter) = window;
        return FALSE;
    }
    return TRUE;
}

HWND popup_window() {
    HWND popup = nullptr;
    if (toolkit.gui_thread) {
        EnumThreadWindows(toolkit.gui_thread, find_popup, reinterpret_cast<LPARAM>(&popup));
    }
    return popup;
}

bool font_of(HWND window, GuiTestControl* control) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
    control->fixed_font = font && font == toolkit.fixed_font;
    LOGFONTA description = {};
    if (!font || !GetObjectA(font, sizeof(description), &description)) {
        return false;
    }
    copy_text(control->font_family, sizeof(control->font_family), description.lfFaceName);
    control->font_pixels = description.lfHeight < 0 ? -description.lfHeight : description.lfHeight;
    return true;
}

// A path from a file URI: "file:///tmp/a%20b" or "file://C:/Users/a". Unix paths are reached
// through Wine's drive Z:, which maps the Unix root.
std::string path_of_uri(const std::string& uri) {
    std::string rest = uri;
    if (rest.compare(0, 7, "file://") == 0) {
        rest = rest.substr(7);
    }
    if (rest.compare(0, 9, "localhost") == 0) {
        rest = rest.substr(9);
    }
    std::string path;
    for (size_t i = 0; i < rest.size(); i++) {
        if (rest[i] == '%' && i + 2 < rest.size()) {
            path += static_cast<char>(std::stoi(rest.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            path += rest[i] == '/' ? '\\' : rest[i];
        }
    }
    if (path.size() >= 3 && path[0] == '\\' && path[2] == ':') {
        return path.substr(1);
    }
    if (path.size() >= 2 && path[1] == ':') {
        return path;
    }
    return "Z:" + path;
}

int settle_until(DWORD deadline) {
    HWND window = nullptr;
    if (!session_window(&window) || !helper_window) {
        return 0;
    }
    LONG sequence = InterlockedIncrement(&ping_sent);
    if (!PostMessageA(helper_window, TEST_MSG_PING, 0, sequence)) {
        return 0;
    }
    while (InterlockedCompareExchange(&ping_served, 0, 0) < sequence) {
        DWORD now = GetTickCount();
        if (static_cast<LONG>(deadline - now) <= 0 || !session_window(&window)) {
            return 0;
        }
        WaitForSingleObject(ping_event, deadline - now < 50 ? deadline - now : 50);
    }
    return 1;
}

} // namespace

// ---- Sessions -------------------------------------------------------------------------------

int gui_test_run(GuiTestEntry entry, uint32_t argc, char** argv, GuiTestBody body, void* context) {
    if (!helper_window) {
        WNDCLASSEXA helper_class = {};
        helper_class.cbSize = sizeof(helper_class);
        helper_class.lpfnWndProc = helper_proc;
        helper_class.hInstance = GetModuleHandleA(nullptr);
        helper_class.lpszClassName = "quarnel_test_helper";
        RegisterClassExA(&helper_class);
        helper_window = CreateWindowExA(0, "quarnel_test_helper", "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                        nullptr, helper_class.hInstance, nullptr);
        ping_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    {
        std::lock_guard<std::mutex> lock(session_mutex);
        session_body = body;
        session_context = context;
        shutdown_steps.clear();
        message_log.clear();
        autoanswer = false;
        file_dialog = FileDialogRecord{};
    }
    body_thread = nullptr;
    InterlockedExchange(&entry_result, -1);
    win32_hooks.entry_returned = hook_entry_returned;
    win32_hooks.shutdown_step = hook_shutdown_step;
    win32_hooks.message_box = hook_message_box;
    win32_hooks.file_dialog = hook_file_dialog;
    int result = win32_toolkit_run(entry ? entry : app_main, argc, argv);
    if (body_thread) {
        win32_wait_serving(body_thread);
        CloseHandle(body_thread);
        body_thread = nullptr;
    }
    win32_hooks = Win32Hooks{};
    // A heartbeat that a body left running must not tick into the next session.
    if (heartbeat_running) {
        KillTimer(helper_window, HEARTBEAT_TIMER);
        heartbeat_running = false;
    }
    return result;
}

int gui_test_entry_result() {
    return static_cast<int>(InterlockedCompareExchange(&entry_result, 0, 0));
}

const char* gui_test_shutdown_steps() {
    static std::string copy;
    std::lock_guard<std::mutex> lock(session_mutex);
    copy = shutdown_steps;
    return copy.c_str();
}

int gui_test_settle(uint32_t timeout_ms) {
    DWORD deadline = GetTickCount() + timeout_ms;
    // Twice: what the first round's messages posted in turn is handled before the second ping.
    return settle_until(deadline) && settle_until(deadline);
}

int gui_test_on_gui_thread(void (*function)(void* context), void* context) {
    HWND window = nullptr;
    if (!session_window(&window)) {
        return 0;
    }
    // On the heap: if the session ends before it is served, the record must stay valid.
    RunRequest* request =
        new RunRequest{function, context, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    if (!request->done ||
        !PostMessageA(helper_window, TEST_MSG_RUN, 0, reinterpret_cast<LPARAM>(request))) {
        return 0;
    }
    while (WaitForSingleObject(request->done, 50) == WAIT_TIMEOUT) {
        if (!session_window(&window)) {
            return 0;
        }
    }
    CloseHandle(request->done);
    delete request;
    return 1;
}

// ---- Acting as the user ---------------------------------------------------------------------

int gui_test_click(uint32_t id) {
    void* handle = nullptr;
    ControlKind kind = 0;
    if (control_find_kind(id, &kind) || control_find_handle(id, 0, &handle)) {
        return 0;
    }
    HWND control = static_cast<HWND>(handle);
    HWND window = nullptr;
    // A disabled control, or a window disabled by the pop-up, takes no clicks.
    if (session_window(&window) && IsWindowEnabled(window) && IsWindowEnabled(control) &&
        IsWindowVisible(control)) {
        if (kind == GUI_BUTTON || kind == GUI_CHECKBOX || kind == GUI_RADIO_BUTTON) {
            PostMessageA(control, BM_CLICK, 0, 0);
        } else if (kind != GUI_COMBOBOX) {
            RECT rect = {};
            GetClientRect(control, &rect);
            LPARAM point = MAKELPARAM(rect.right / 2, rect.bottom / 2);
            PostMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, point);
            PostMessageA(control, WM_LBUTTONUP, 0, point);
        }
    }
    gui_test_settle(10000);
    return 1;
}

int gui_test_combobox_choose(uint32_t id, uint32_t index) {
    void* handle = nullptr;
    HWND window = nullptr;
    if (control_find_handle(id, GUI_COMBOBOX, &handle) || !session_window(&window)) {
        return 0;
    }
    HWND combo = static_cast<HWND>(handle);
    LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    if (count == CB_ERR || index >= static_cast<uint32_t>(count)) {
        return 0;
    }
    // What the list does when the user picks an item: select it, then tell the parent.
    SendMessageA(combo, CB_SETCURSEL, index, 0);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
    gui_test_settle(10000);
    return 1;
}

int gui_test_type(uint32_t id, const char* text) {
    void* handle = nullptr;
    if (!text || control_find_handle(id, GUI_EDIT, &handle)) {
        return 0;
    }
    int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::vector<wchar_t> wide(length > 0 ? length : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
    for (wchar_t c : wide) {
        if (c == L'\0') {
            break;
        }
        PostMessageW(static_cast<HWND>(handle), WM_CHAR, c == L'\n' ? L'\r' : c, 1);
    }
    gui_test_settle(10000);
    return 1;
}

int gui_test_drop(const char* uri_list) {
    HWND window = nullptr;
    if (!uri_list || !session_window(&window) ||
        !(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES)) {
        return 0;
    }
    std::string names;
    std::string list = uri_list;
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find('\n', start);
        std::string line =
            list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? list.size() : end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        if (!line.empty() && line[0] != '#') {
            names += path_of_uri(line);
            names += '\0';
        }
    }
    if (names.empty()) {
        return 0;
    }
    names += '\0';
    // The system's drop record: DROPFILES, then the names, each NUL-ended, and one more NUL.
    HGLOBAL drop = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + names.size());
    if (!drop) {
        return 0;
    }
    DROPFILES* files = static_cast<DROPFILES*>(GlobalLock(drop));
    files->pFiles = sizeof(DROPFILES);
    files->fWide = FALSE;
    std::memcpy(reinterpret_cast<char*>(files) + sizeof(DROPFILES), names.data(), names.size());
    GlobalUnlock(drop);
    if (!PostMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0)) {
        GlobalFree(drop);
        return 0;
    }
    gui_test_settle(10000);
    return 1;
}

int gui_test_close() {
    HWND window = nullptr;
    if (!session_window(&window)) {
        return 0;
    }
    PostMessageA(window, WM_CLOSE, 0, 0);
    gui_test_settle(10000);
    return 1;
}

// ---- Message boxes and file dialogs ---------------------------------------------------------

int gui_test_modal_wait(GuiTestModal* modal, uint32_t timeout_ms) {
    DWORD deadline = GetTickCount() + timeout_ms;
    for (;;) {
        ModalWindows found = modal_windows();
        if (found.innermost) {
            *modal = GuiTestModal{};
            modal->depth = found.depth;
            HWND dialog = found.innermost;
            if (is_file_dialog(dialog)) {
                std::lock_guard<std::mutex> lock(session_mutex);
                modal->kind = file_dialog.save ? GUI_TEST_MODAL_SAVE : GUI_TEST_MODAL_OPEN;
                char title[512] = "";
                GetWindowTextA(dialog, title, sizeof(title));
                copy_text(modal->caption, sizeof(modal->caption),
                          file_dialog.title.empty() ? title : file_dialog.title.c_str());
                copy_text(modal->file_name, sizeof(modal->file_name),
                          file_dialog.file_name.c_str());
                copy_text(modal->folder, sizeof(modal->folder), file_dialog.folder.c_str());
                modal->filter_count = static_cast<uint32_t>(file_dialog.filters.size());
                return 1;
            }
            if (GetDlgItem(dialog, MESSAGE_BOX_TEXT)) {
                modal->kind = GUI_TEST_MODAL_MESSAGE;
                GetWindowTextA(dialog, modal->caption, sizeof(modal->caption));
                GetDlgItemTextA(dialog, MESSAGE_BOX_TEXT, modal->text, sizeof(modal->text));
                bool yes = GetDlgItem(dialog, IDYES);
                bool cancel = GetDlgItem(dialog, IDCANCEL);
                if (yes) {
                    modal->type = cancel ? GUI_NOTIFY_YES_NO_CANCEL : GUI_NOTIFY_YES_NO;
                } else if (GetDlgItem(dialog, IDABORT)) {
                    modal->type = GUI_NOTIFY_ABORT_RETRY_IGNORE;
                } else if (GetDlgItem(dialog, IDCONTINUE)) {
                    modal->type = GUI_NOTIFY_CANCEL_TRY_CONTINUE;
                } else if (GetDlgItem(dialog, IDRETRY)) {
                    modal->type = GUI_NOTIFY_RETRY_CANCEL;
                } else {
                    modal->type = cancel ? GUI_NOTIFY_OK_CANCEL : GUI_NOTIFY_OK;
                }
                return 1;
            }
        }
        if (static_cast<LONG>(deadline - GetTickCount()) <= 0) {
            return 0;
        }
        Sleep(5);
    }
}

int gui_test_message_answer(NotificationAnswer answer) {
    ModalWindows found = modal_windows();
    HWND box = found.innermost;
    if (!box || !GetDlgItem(box, MESSAGE_BOX_TEXT)) {
        return 0;
    }
    if (answer == GUI_TEST_CLOSE_BUTTON) {
        PostMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
        int id = button_of(answer);
        HWND button = id ? GetDlgItem(box, id) : nullptr;
        if (!button) {
            return 0;
        }
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    }
    gui_test_settle(10000);
    return 1;
}

void gui_test_message_autoanswer(int enabled, NotificationAnswer answer) {
    std::lock_guard<std::mutex> lock(session_mutex);
    autoanswer = enabled != 0;
    autoanswer_with = answer;
}

uint32_t gui_test_message_log(GuiTestModal* boxes, uint32_t max) {
    std::lock_guard<std::mutex> lock(session_mutex);
    for (uint32_t i = 0; boxes && i < max && i < message_log.size(); i++) {
        boxes[i] = message_log[i];
    }
    return static_cast<uint32_t>(message_log.size());
}

int gui_test_file_answer(const char* path) {
    ModalWindows found = modal_windows();
    HWND dialog = found.innermost;
    if (!dialog || !is_file_dialog(dialog)) {
        return 0;
    }
    if (!path) {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    } else {
        HWND name = GetDlgItem(dialog, FILE_NAME_COMBO);
        if (!name) {
            name = GetDlgItem(dialog, FILE_NAME_EDIT);
        }
        SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path));
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    }
    gui_test_settle(10000);
    return 1;
}

int gui_test_file_filter_accepts(const char* name) {
    ModalWindows found = modal_windows();
    HWND dialog = found.innermost;
    if (!dialog || !is_file_dialog(dialog) || !name) {
        return -1;
    }
    LRESULT chosen = SendMessageA(GetDlgItem(dialog, FILE_TYPE_COMBO), CB_GETCURSEL, 0, 0);
    std::lock_guard<std::mutex> lock(session_mutex);
    if (file_dialog.filters.empty()) {
        return 1;
    }
    size_t index = chosen == CB_ERR ? 0 : static_cast<size_t>(chosen);
    if (index >= file_dialog.filters.size()) {
        return -1;
    }
    for (const std::string& pattern : file_dialog.filters[index]) {
        if (file_pattern_match(pattern.c_str(), name)) {
            return 1;
        }
    }
    return 0;
}

// ---- Looking at the window ------------------------------------------------------------------

int gui_test_window(GuiTestWindow* window) {
    *window = GuiTestWindow{};
    HWND main = nullptr;
    if (!session_window(&main)) {
        return 0;
    }
    RECT rect = {};
    GetWindowRect(main, &rect);
    window->exists = 1;
    window->x = rect.left;
    window->y = rect.top;
    window->width = rect.right - rect.left;
    window->height = rect.bottom - rect.top;
    RECT client = {};
    GetClientRect(main, &client);
    window->client_width = client.right;
    window->client_height = client.bottom;
    LONG style = GetWindowLongA(main, GWL_STYLE);
    window->resizable = (style & (WS_THICKFRAME | WS_MAXIMIZEBOX)) != 0;
    window->sensitive = IsWindowEnabled(main) ? 1 : 0;
    window->accepts_drops = (GetWindowLongA(main, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) ? 1 : 0;
    GetWindowTextA(main, window->title, sizeof(window->title));
    window->shown = IsWindowVisible(main) ? 1 : 0;
    // Win32 icons are resources, not theme names: "#100" names resource 100.
    if (gui_description.icon) {
        std::snprintf(window->icon_name, sizeof(window->icon_name), "#%u",
                      static_cast<unsigned>(gui_description.icon));
    } else {
        copy_text(window->icon_name, sizeof(window->icon_name), "IDI_APPLICATION");
    }
    return 1;
}

int gui_test_control(uint32_t id, GuiTestControl* control) {
    *control = GuiTestControl{};
    void* handle = nullptr;
    ControlKind kind = 0;
    if (control_find_kind(id, &kind) || control_find_handle(id, 0, &handle)) {
        return 0;
    }
    HWND window = static_cast<HWND>(handle);
    control->kind = kind;
    RECT rect = {};
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, toolkit.main_window, reinterpret_cast<POINT*>(&rect), 2);
    control->x = rect.left;
    control->y = rect.top;
    control->width = rect.right - rect.left;
    control->height = rect.bottom - rect.top;
    // A Win32 control is drawn at exactly the size it was given.
    control->shown_width = control->width;
    control->shown_height = control->height;
    control->visible = IsWindowVisible(window) ? 1 : 0;
    control->enabled = IsWindowEnabled(window) ? 1 : 0;
    font_of(window, control);
    LONG style = GetWindowLongA(window, GWL_STYLE);
    control->text_right_of_box = (style & BS_LEFTTEXT) ? 0 : 1;
    if (kind == GUI_LABEL) {
        LONG type = style & SS_TYPEMASK;
        control->alignment = type == SS_CENTER ? 1 : type == SS_RIGHT ? 2 : 0;
    } else if (kind == GUI_BUTTON) {
        LONG align = style & BS_CENTER;
        control->alignment = align == BS_CENTER ? 1 : align == BS_RIGHT ? 2 : 0;
        if (align == 0) {
            control->alignment = 1; // a push button centres its text by itself
        }
    } else if (kind == GUI_EDIT) {
        control->alignment = (style & ES_CENTER) ? 1 : (style & ES_RIGHT) ? 2 : 0;
        control->read_only = (style & ES_READONLY) ? 1 : 0;
        control->multi_line = (style & ES_MULTILINE) ? 1 : 0;
    } else if (kind == GUI_PROGRESSBAR) {
        control->marquee = (style & PBS_MARQUEE) ? 1 : 0;
    }
    return 1;
}

int gui_test_popup(GuiTestPopup* popup) {
    *popup = GuiTestPopup{};
    HWND window = popup_window();
    if (!window) {
        return 0;
    }
    popup->open = 1;
    RECT rect = {};
    GetWindowRect(window, &rect);
    popup->x = rect.left;
    popup->y = rect.top;
    popup->width = rect.right - rect.left;
    popup->height = rect.bottom - rect.top;
    GetWindowTextA(window, popup->title, sizeof(popup->title));
    RECT client = {};
    GetClientRect(window, &client);
    popup->client_width = client.right;
    popup->client_height = client.bottom;
    HWND box = GetDlgItem(window, 999);
    if (box) {
        GetWindowTextA(box, popup->text, sizeof(popup->text));
        popup->text_length = static_cast<uint32_t>(GetWindowTextLengthA(box));
        popup->read_only = (GetWindowLongA(box, GWL_STYLE) & ES_READONLY) ? 1 : 0;
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(box, WM_GETFONT, 0, 0));
        popup->fixed_font = font && font == toolkit.fixed_font;
    }
    return 1;
}

int gui_test_popup_close() {
    HWND window = popup_window();
    if (!window) {
        return 0;
    }
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    gui_test_settle(10000);
    return 1;
}

int gui_test_heartbeat_start(uint32_t interval_ms) {
    struct Start {
        UINT interval;
        bool started;
    } start = {std::max<UINT>(interval_ms, USER_TIMER_MINIMUM), false};
    int reached = gui_test_on_gui_thread(
        [](void* context) {
            Start* s = static_cast<Start*>(context);
            heartbeat_last = std::chrono::steady_clock::now();
            heartbeat_longest = {};
            // Setting the timer again replaces it.
            s->started = helper_window &&
                         SetTimer(helper_window, HEARTBEAT_TIMER, s->interval, nullptr) != 0;
            heartbeat_running = s->started;
        },
        &start);
    return reached && start.started;
}

int64_t gui_test_heartbeat_stop() {
    int64_t longest = -1;
    gui_test_on_gui_thread(
        [](void* context) {
            if (!heartbeat_running) {
                return;
            }
            heartbeat_note();
            KillTimer(helper_window, HEARTBEAT_TIMER);
            heartbeat_running = false;
            *static_cast<int64_t*>(context) =
                std::chrono::duration_cast<std::chrono::milliseconds>(heartbeat_longest).count();
        },
        &longest);
    return longest;
}

int gui_test_wait(int (*condition)(void* context), void* context, uint32_t timeout_ms) {
    DWORD deadline = GetTickCount() + timeout_ms;
    while (!condition(context)) {
        if (static_cast<LONG>(deadline - GetTickCount()) <= 0) {
            return 0;
        }
        Sleep(2);
    }
    return 1;
}
