// The toolkit over Win32, read back through the system itself: the native classes, styles,
// identifiers and fonts of the controls, the error codes, the marshalled calls, message boxes
// found in the window list and answered with a click, the pop-up's placement, the events, the
// drops, shutdown and the taskbar. Runs under Wine (make test-windows).
#include "gui/win32/win32_internal.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gui/gui_test.h"

int app_main(uint32_t, char**) {
    return 0;
}

namespace {

const uint32_t WAIT_MS = 20000;

std::mutex events_mutex;
std::vector<uint32_t> events;
std::vector<DWORD> event_threads;
std::vector<std::vector<std::string>> drops;
std::function<void(uint32_t)> on_event_extra;
std::function<int()> setup;

void record_event(uint32_t id) {
    {
        std::lock_guard<std::mutex> lock(events_mutex);
        events.push_back(id);
        event_threads.push_back(GetCurrentThreadId());
    }
    if (on_event_extra) {
        on_event_extra(id);
    }
}

void record_drop(uint32_t* count, char** names) {
    std::lock_guard<std::mutex> lock(events_mutex);
    drops.emplace_back(names, names + *count);
}

std::vector<uint32_t> take_events() {
    std::lock_guard<std::mutex> lock(events_mutex);
    std::vector<uint32_t> taken;
    taken.swap(events);
    return taken;
}

int session_entry(uint32_t, char**) {
    WindowDescription description = {};
    description.title = "Quarnel";
    description.width = 600;
    description.height = 556;
    description.x = -1;
    description.background = 5;
    description.icon = 100;
    description.on_event = record_event;
    description.on_drop = record_drop;
    gui_window_create(&description);
    return setup ? setup() : 0;
}

// One session: `prepare` runs in the entry after the window exists (its result is the entry's),
// `body` on the test thread.
int session(std::function<int()> prepare, std::function<void()> body) {
    setup = std::move(prepare);
    on_event_extra = nullptr;
    take_events();
    drops.clear();
    return gui_test_run(
        session_entry, 0, nullptr,
        [](void* context) { (*static_cast<std::function<void()>*>(context))(); }, &body);
}

HWND control_window(uint32_t id) {
    void* handle = nullptr;
    control_find_handle(id, 0, &handle);
    return static_cast<HWND>(handle);
}

std::string class_of(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof(name));
    return name;
}

std::string text_of(uint32_t id) {
    char buffer[256] = "";
    EXPECT_EQ(0u, gui_control_get_text(id, buffer, sizeof(buffer)));
    return buffer;
}

// A message box of the GUI thread with this caption, found in the window list.
HWND find_box(const char* caption) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < WAIT_MS; Sleep(2)) {
        HWND box = FindWindowA("#32770", caption);
        if (box && IsWindowVisible(box)) {
            return box;
        }
    }
    return nullptr;
}

// Clicks a button of a message box as the user would.
void click_box_button(HWND box, int button) {
    HWND child = GetDlgItem(box, button);
    ASSERT_NE(nullptr, child);
    PostMessageA(child, BM_CLICK, 0, 0);
}

bool wait_for(const std::function<bool()>& condition) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < WAIT_MS; Sleep(2)) {
        if (condition()) {
            return true;
        }
    }
    return condition();
}

struct Expected {
    uint32_t id;
    ControlKind kind;
    ControlStyle flags;
    const char* class_name;
    DWORD style;
};

const Expected STYLES[] = {
    {1, GUI_GROUPBOX, 0x1FF, "Button", 0x50000007},
    {2, GUI_LABEL, 0, "Static", 0x50000000},
    {3, GUI_LABEL, GUI_STYLE_RIGHT | GUI_STYLE_CENTER, "Static", 0x50000002},
    {4, GUI_LABEL, GUI_STYLE_CENTER | GUI_STYLE_LEFT, "Static", 0x50000001},
    {5, GUI_BUTTON, 0, "Button", 0x50000000},
    {6, GUI_BUTTON, GUI_STYLE_LEFT, "Button", 0x50000100},
    {7, GUI_BUTTON, GUI_STYLE_CENTER | GUI_STYLE_LEFT, "Button", 0x50000300},
    {8, GUI_BUTTON, GUI_STYLE_RIGHT | GUI_STYLE_CENTER, "Button", 0x50000200},
    {9, GUI_CHECKBOX, 0, "Button", 0x50000002},
    {10, GUI_CHECKBOX, GUI_STYLE_LEFT, "Button", 0x50000022},
    {11, GUI_EDIT, 0x161, "Edit", 0x50B01004},
    {12, GUI_EDIT, GUI_STYLE_NUMBER | GUI_STYLE_READONLY, "Edit", 0x50802800},
    {13, GUI_EDIT, GUI_STYLE_LEFT | GUI_STYLE_RIGHT, "Edit", 0x50800000},
    {14, GUI_EDIT, GUI_STYLE_RIGHT | GUI_STYLE_CENTER, "Edit", 0x50800002},
    {15, GUI_EDIT, GUI_STYLE_MULTILINE | GUI_STYLE_AUTOSCROLL, "Edit", 0x508010C4},
    {16, GUI_EDIT, GUI_STYLE_SCROLL | GUI_STYLE_AUTOSCROLL, "Edit", 0x50900080},
    {17, GUI_PROGRESSBAR, 0x1FF, "msctls_progress32", 0x50000000},
    {18, GUI_COMBOBOX, 0x1FF, "ComboBox", 0x50200003},
    {19, GUI_RADIO_BUTTON, 0, "Button", 0x50000004},
    {20, GUI_RADIO_BUTTON, GUI_STYLE_LEFT, "Button", 0x50000024},
};

int create_style_controls() {
    int y = 0;
    for (const Expected& control : STYLES) {
        ErrorCode code =
            gui_control_create(control.kind, "abcdef", control.flags, control.id, 10, y, 120, 20);
        if (code != 0) {
            return 1;
        }
        y += 22;
    }
    return 0;
}

// What the GUI thread passed to CreateWindowExA for each child of the main window.
struct CreatedWindow {
    DWORD style;
    DWORD extended;
};
std::map<HWND, CreatedWindow> created;

LRESULT CALLBACK record_creation(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lparam)->lpcs;
        if (create->hwndParent && create->hwndParent == toolkit.main_window) {
            created[reinterpret_cast<HWND>(wparam)] = {static_cast<DWORD>(create->style),
                                                       create->dwExStyle};
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

} // namespace

TEST(Controls, KindsAndFlagsGiveTheNativeClassStyleIdentifierAndFont) {
    // This thread becomes the GUI thread of the session.
    created.clear();
    HHOOK hook = SetWindowsHookExA(WH_CBT, record_creation, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);
    session(create_style_controls, [] {
        for (const Expected& expected : STYLES) {
            SCOPED_TRACE(expected.id);
            HWND window = control_window(expected.id);
            ASSERT_NE(nullptr, window);
            EXPECT_STRCASEEQ(expected.class_name, class_of(window).c_str());
            // The style given to CreateWindowExA, and the style the system keeps: edit boxes
            // draw their border themselves and manage their scroll bits (a box with scroll bars
            // scrolls automatically, a single-line box has none), and a combo box hands its
            // scroll bar to its list.
            ASSERT_EQ(1u, created.count(window));
            EXPECT_EQ(expected.style, created[window].style);
            EXPECT_EQ(0u, created[window].extended);
            DWORD dropped = 0;
            if (expected.kind == GUI_EDIT) {
                dropped = WS_BORDER | WS_HSCROLL | WS_VSCROLL | ES_AUTOHSCROLL | ES_AUTOVSCROLL;
            } else if (expected.kind == GUI_COMBOBOX) {
                dropped = WS_VSCROLL;
            }
            DWORD kept = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
            EXPECT_EQ(expected.style & ~dropped, kept & ~dropped);
            EXPECT_EQ(toolkit.main_window, GetParent(window));
            int child_id = expected.kind == GUI_PROGRESSBAR ? 0 : static_cast<int>(expected.id);
            EXPECT_EQ(child_id, GetDlgCtrlID(window));
            if (expected.kind == GUI_PROGRESSBAR) {
                continue;
            }
            HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageA(window, WM_GETFONT, 0, 0));
            bool fixed = expected.flags & GUI_STYLE_FIXED_FONT;
            EXPECT_EQ(fixed ? toolkit.fixed_font : GetStockObject(DEFAULT_GUI_FONT), font);
        }
        LOGFONTA fixed = {};
        ASSERT_NE(0, GetObjectA(toolkit.fixed_font, sizeof(fixed), &fixed));
        EXPECT_STREQ("Courier New", fixed.lfFaceName);
        EXPECT_EQ(16, fixed.lfHeight);
        // Windows without text keep none.
        char text[16] = "x";
        GetWindowTextA(control_window(17), text, sizeof(text));
        EXPECT_STREQ("", text);
    });
    UnhookWindowsHookEx(hook);
}

TEST(Controls, OperationsReturnTheirErrorCodesAndNameTheFailedCall) {
    session(create_style_controls, [] {
        // Creation: null text first, then identifiers and kinds; a taken id leaves the first.
        EXPECT_EQ(1u, gui_control_create(GUI_LABEL, nullptr, 0, 0, 0, 0, 1, 1));
        EXPECT_EQ(2u, gui_control_create(GUI_LABEL, "x", 0, 0, 0, 0, 1, 1));
        EXPECT_EQ(2u, gui_control_create(0, "x", 0, 40, 0, 0, 1, 1));
        EXPECT_EQ(2u, gui_control_create(9, "x", 0, 40, 0, 0, 1, 1));
        EXPECT_EQ(2u, gui_control_create(GUI_BUTTON, "second", 0, 5, 0, 0, 1, 1));
        EXPECT_STREQ("gui_control_create", trace_context()->gui_function);
        EXPECT_EQ("abcdef", text_of(5));

        // Texts by child identifier: a cut copy, an empty box, and no child id at all.
        char small[4] = "zzz";
        EXPECT_EQ(0u, gui_control_get_text(11, small, sizeof(small)));
        EXPECT_STREQ("abc", small);
        EXPECT_EQ(0u, gui_control_set_text(11, ""));
        EXPECT_EQ("", text_of(11));
        EXPECT_EQ(0u, gui_control_set_text(11, "one\r\ntwo"));
        EXPECT_EQ("one\r\ntwo", text_of(11));
        uint32_t length = 0;
        EXPECT_EQ(0u, gui_control_get_text_length(11, &length));
        EXPECT_EQ(8u, length);
        trace_context()->system_call = nullptr;
        ErrorCode code = gui_control_set_text(999, "x");
        DWORD error = GetLastError();
        EXPECT_EQ(3u, code);
        EXPECT_EQ(static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND), error);
        EXPECT_STREQ("SetDlgItemText", trace_context()->system_call);
        EXPECT_EQ(3u, gui_control_get_text(999, small, sizeof(small)));
        EXPECT_STREQ("GetDlgItemText", trace_context()->system_call);
        EXPECT_EQ(3u, gui_control_set_text(17, "a progress bar has no child id"));
        EXPECT_EQ(1u, gui_control_get_text(11, nullptr, 4));
        EXPECT_EQ(2u, gui_control_get_text(11, small, 0));

        // Kinds: a check-box operation on a radio button, an unknown id.
        CheckState state = GUI_UNCHECKED;
        EXPECT_EQ(2u, gui_checkbox_get(19, &state));
        EXPECT_EQ(2u, gui_radio_button_set(999, GUI_CHECKED));
        EXPECT_EQ(1u, gui_radio_button_get(19, nullptr));
        EXPECT_EQ(0u, gui_checkbox_set(9, GUI_CHECKED));
        EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(toolkit.main_window, 9));
        EXPECT_EQ(0u, gui_checkbox_set(9, GUI_UNCHECKED));
        EXPECT_EQ(0u, gui_checkbox_get(9, &state));
        EXPECT_EQ(GUI_UNCHECKED, state);
        // A two-state box cannot hold the third state: the system keeps it checked.
        EXPECT_EQ(0u, gui_checkbox_set(9, 7));
        EXPECT_EQ(0u, gui_checkbox_get(9, &state));
        EXPECT_NE(GUI_UNCHECKED, state);
        EXPECT_EQ(0u, gui_radio_button_set(19, GUI_CHECKED));
        EXPECT_EQ(BST_CHECKED, SendMessageA(control_window(19), BM_GETCHECK, 0, 0));

        // Combo box: nothing selected, appended and inserted items, deleting past the end.
        uint32_t index = 0;
        EXPECT_EQ(0u, gui_combobox_selected(18, &index));
        EXPECT_EQ(0xFFFFFFFFu, index);
        EXPECT_EQ(0u, gui_combobox_add(18, "b"));
        EXPECT_EQ(0u, gui_combobox_insert(18, 0, "a"));
        EXPECT_EQ(0u, gui_combobox_select(18, 1));
        EXPECT_EQ(0u, gui_combobox_selected(18, &index));
        EXPECT_EQ(1u, index);
        char item[8] = "";
        SendMessageA(control_window(18), CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(item));
        EXPECT_STREQ("a", item);
        EXPECT_EQ(2u, gui_combobox_delete(18, 2));
        EXPECT_EQ(0u, gui_combobox_delete(18, 0));
        EXPECT_EQ(1u, gui_combobox_add(18, nullptr));

        // Progress bar: position, the marquee style on and off again.
        uint32_t value = 0;
        EXPECT_EQ(0u, gui_progressbar_set(17, 42));
        EXPECT_EQ(0u, gui_progressbar_get(17, &value));
        EXPECT_EQ(42u, value);
        EXPECT_EQ(0u, gui_progressbar_state(17, GUI_PROGRESS_MARQUEE));
        EXPECT_TRUE(GetWindowLongA(control_window(17), GWL_STYLE) & PBS_MARQUEE);
        EXPECT_EQ(0u, gui_progressbar_state(17, GUI_PROGRESS_NORMAL));
        EXPECT_FALSE(GetWindowLongA(control_window(17), GWL_STYLE) & PBS_MARQUEE);
        EXPECT_EQ(2u, gui_progressbar_set(18, 1));

        // Place, visibility and state.
        EXPECT_EQ(0u, gui_control_move(5, 300, 40));
        EXPECT_EQ(0u, gui_control_resize(5, 90, 30));
        RECT rect = {};
        GetWindowRect(control_window(5), &rect);
        MapWindowPoints(nullptr, toolkit.main_window, reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_EQ(300, rect.left);
        EXPECT_EQ(40, rect.top);
        EXPECT_EQ(90, rect.right - rect.left);
        EXPECT_EQ(30, rect.bottom - rect.top);
        EXPECT_EQ(0u, gui_control_show(5, 0));
        EXPECT_FALSE(IsWindowVisible(control_window(5)));
        EXPECT_EQ(0u, gui_control_show(5, 2));
        EXPECT_TRUE(IsWindowVisible(control_window(5)));
        uint32_t enabled = 7;
        EXPECT_EQ(0u, gui_control_enable(5, 0));
        EXPECT_EQ(0u, gui_control_enabled(5, &enabled));
        EXPECT_EQ(0u, enabled);
        EXPECT_EQ(1u, gui_control_enabled(5, nullptr));

        // The main window itself.
        EXPECT_EQ(0u, gui_window_set_title("Renamed"));
        char title[32] = "";
        GetWindowTextA(toolkit.main_window, title, sizeof(title));
        EXPECT_STREQ("Renamed", title);
        EXPECT_EQ(0u, gui_window_move(20, 30));
        EXPECT_EQ(0u, gui_window_resize(610, 500));
        GetWindowRect(toolkit.main_window, &rect);
        EXPECT_EQ(20, rect.left);
        EXPECT_EQ(30, rect.top);
        EXPECT_EQ(610, rect.right - rect.left);
        EXPECT_EQ(500, rect.bottom - rect.top);
    });
}

TEST(Window, TheMainWindowIsCreatedAsDescribed) {
    session(nullptr, [] {
        HWND window = toolkit.main_window;
        EXPECT_STREQ("main_window_class", class_of(window).c_str());
        LONG style = GetWindowLongA(window, GWL_STYLE);
        EXPECT_EQ(0x008A0000, style & 0x00FF0000 & ~WS_DLGFRAME);
        EXPECT_FALSE(style & (WS_THICKFRAME | WS_MAXIMIZEBOX));
        LONG extended = GetWindowLongA(window, GWL_EXSTYLE);
        EXPECT_TRUE(extended & WS_EX_COMPOSITED);
        EXPECT_TRUE(extended & WS_EX_ACCEPTFILES);
        RECT rect = {};
        GetWindowRect(window, &rect);
        EXPECT_EQ(600, rect.right - rect.left);
        EXPECT_EQ(556, rect.bottom - rect.top);
        // Icon 100 of the program's resources is the class icon.
        EXPECT_NE(nullptr, reinterpret_cast<HICON>(GetClassLongPtrA(window, GCLP_HICON)));
        EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(100)),
                  reinterpret_cast<HICON>(GetClassLongPtrA(window, GCLP_HICON)));
        EXPECT_EQ(5, GetClassLongPtrA(window, GCLP_HBRBACKGROUND));
        GuiTestWindow seen{};
        ASSERT_TRUE(gui_test_window(&seen));
        EXPECT_TRUE(seen.shown);
        EXPECT_STREQ("#100", seen.icon_name);
        EXPECT_FALSE(seen.resizable);
    });
}

TEST(Threads, CallsFromOtherThreadsAreServedWhileAMessageBoxIsOpen) {
    session(nullptr, [] {
        // A handler on the GUI thread asks a question and waits in the box's own loop.
        static std::atomic<ErrorCode> asked;
        static NotificationAnswer answer;
        asked = 99;
        answer = GUI_ANSWER_OK;
        std::thread handler([] {
            gui_test_on_gui_thread(
                [](void*) {
                    asked = gui_notification("Go on?", "Question", GUI_NOTIFY_YES_NO, &answer);
                },
                nullptr);
        });
        HWND box = find_box("Question");
        ASSERT_NE(nullptr, box);
        EXPECT_EQ(nullptr, GetWindow(box, GW_OWNER));
        EXPECT_TRUE(IsWindowEnabled(toolkit.main_window));

        // Meanwhile another thread creates a control; the GUI thread serves it from the box.
        ErrorCode created = 99;
        std::thread creator(
            [&] { created = gui_control_create(GUI_BUTTON, "late", 0, 30, 5, 5, 60, 20); });
        creator.join();
        EXPECT_EQ(0u, created);
        EXPECT_NE(nullptr, control_window(30));
        EXPECT_EQ(99u, asked.load());

        click_box_button(box, IDNO);
        handler.join();
        EXPECT_EQ(0u, asked.load());
        EXPECT_EQ(GUI_ANSWER_NO, answer);
    });
}

// Refuses the creation of every window while set, as a system out of resources would.
std::atomic<bool> refuse_creation{false};

LRESULT CALLBACK refuse_windows(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_CREATEWND && refuse_creation) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 1;
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

TEST(Threads, AFailureOnTheGuiThreadIsHandedBackToTheCaller) {
    HHOOK hook = SetWindowsHookExA(WH_CBT, refuse_windows, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);
    session(nullptr, [] {
        refuse_creation = true;
        for (ControlKind kind : {GUI_BUTTON, GUI_PROGRESSBAR}) {
            trace_context()->system_call = nullptr;
            SetLastError(0);
            ErrorCode code = gui_control_create(kind, "refused", 0, 60 + kind, 0, 0, 10, 10);
            DWORD error = GetLastError();
            EXPECT_EQ(3u, code);
            EXPECT_STREQ(kind == GUI_PROGRESSBAR ? "CreateWindowEx" : "CreateWindow",
                         trace_context()->system_call);
            EXPECT_NE(0u, error);
            EXPECT_EQ(toolkit.gui_last_error, error);
            EXPECT_EQ(nullptr, control_window(60 + kind));
        }
        refuse_creation = false;
        EXPECT_EQ(0u, gui_control_create(GUI_BUTTON, "accepted", 0, 70, 0, 0, 10, 10));
    });
    UnhookWindowsHookEx(hook);
}

TEST(Threads, AMarshalledCallOnTheGuiThreadRunsInPlace) {
    session(nullptr, [] {
        static ErrorCode created;
        static DWORD thread;
        ASSERT_TRUE(gui_test_on_gui_thread(
            [](void*) {
                thread = GetCurrentThreadId();
                created = gui_control_create(GUI_LABEL, "in place", 0, 31, 5, 5, 60, 20);
            },
            nullptr));
        EXPECT_EQ(toolkit.gui_thread, thread);
        EXPECT_EQ(0u, created);
        EXPECT_EQ("in place", text_of(31));
    });
}

TEST(Notifications, MessageBoxesGiveTheAnswerOfTheClickedButton) {
    session(nullptr, [] {
        struct Case {
            NotificationType type;
            int button; // 0: the close button
            NotificationAnswer expected;
        };
        const Case cases[] = {
            {GUI_NOTIFY_YES_NO, IDNO, GUI_ANSWER_NO},
            {GUI_NOTIFY_YES_NO_CANCEL, 0, GUI_ANSWER_CANCEL},
            {GUI_NOTIFY_OK_CANCEL, IDOK, GUI_ANSWER_OK},
            {GUI_NOTIFY_RETRY_CANCEL, IDRETRY, GUI_ANSWER_RETRY},
            {GUI_NOTIFY_ABORT_RETRY_IGNORE, IDIGNORE, GUI_ANSWER_IGNORE},
            {GUI_NOTIFY_CANCEL_TRY_CONTINUE, IDCONTINUE, GUI_ANSWER_CONTINUE},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.type);
            NotificationAnswer answer = GUI_ANSWER_OK;
            if (c.expected == GUI_ANSWER_OK) {
                answer = GUI_ANSWER_ABORT;
            }
            ErrorCode code = 99;
            std::thread asker([&] { code = gui_notification("text", "Box", c.type, &answer); });
            HWND box = find_box("Box");
            ASSERT_NE(nullptr, box);
            if (c.button) {
                click_box_button(box, c.button);
            } else {
                PostMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0);
            }
            asker.join();
            EXPECT_EQ(0u, code);
            EXPECT_EQ(c.expected, answer);
            ASSERT_TRUE(wait_for([] { return !FindWindowA("#32770", "Box"); }));
        }
        // An OK box needs no answer; a type past 7 shows nothing.
        ErrorCode code = 99;
        std::thread informer([&] { code = gui_notification("Done", "Plain", GUI_NOTIFY_OK); });
        HWND box = find_box("Plain");
        ASSERT_NE(nullptr, box);
        char text[16] = "";
        GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
        EXPECT_STREQ("Done", text);
        click_box_button(box, IDOK);
        informer.join();
        EXPECT_EQ(0u, code);
        NotificationAnswer answer = GUI_ANSWER_OK;
        EXPECT_EQ(2u, gui_notification("x", "y", 8, &answer));
        EXPECT_EQ(1u, gui_notification("x", "y", GUI_NOTIFY_YES_NO));
        EXPECT_EQ(1u, gui_notification(nullptr, "y", GUI_NOTIFY_OK));
    });
}

TEST(Notifications, TheTextPopUpIsPlacedOverTheWindowAndBlocksItUntilClosed) {
    char folder[MAX_PATH] = "";
    GetTempPathA(sizeof(folder), folder);
    std::string path = std::string(folder) + "quarnel-popup-test.txt";
    std::string empty = std::string(folder) + "quarnel-popup-empty.txt";
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, file);
    std::fwrite("line one\r\nline two\0hidden", 1, 25, file);
    std::fclose(file);
    file = std::fopen(empty.c_str(), "wb");
    ASSERT_NE(nullptr, file);
    std::fclose(file);
    session(nullptr, [&] {
        EXPECT_EQ(2u, gui_notification("no-such-file.txt", "Help", GUI_NOTIFY_TEXT_FILE));
        EXPECT_EQ(2u, gui_notification(empty.c_str(), "Help", GUI_NOTIFY_TEXT_FILE));
        EXPECT_TRUE(IsWindowEnabled(toolkit.main_window));

        ASSERT_EQ(0u, gui_notification(path.c_str(), "Help", GUI_NOTIFY_TEXT_FILE));
        HWND popup = FindWindowA("popup", "Help");
        ASSERT_NE(nullptr, popup);
        EXPECT_EQ(toolkit.main_window, GetWindow(popup, GW_OWNER));
        RECT main_rect = {};
        RECT popup_rect = {};
        GetWindowRect(toolkit.main_window, &main_rect);
        GetWindowRect(popup, &popup_rect);
        EXPECT_EQ(main_rect.left + 100, popup_rect.left);
        EXPECT_EQ(main_rect.top + 78, popup_rect.top);
        EXPECT_EQ(400, popup_rect.right - popup_rect.left);
        EXPECT_EQ(400, popup_rect.bottom - popup_rect.top);
        EXPECT_EQ(0x80C80000,
                  GetWindowLongA(popup, GWL_STYLE) & 0xFFFF0000 & ~(WS_CLIPSIBLINGS | WS_VISIBLE));
        EXPECT_TRUE(GetWindowLongA(popup, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);

        HWND box = GetDlgItem(popup, 999);
        ASSERT_NE(nullptr, box);
        char text[64] = "";
        GetWindowTextA(box, text, sizeof(text));
        EXPECT_STREQ("line one\r\nline two", text);
        EXPECT_EQ(0x50201844, GetWindowLongA(box, GWL_STYLE));
        EXPECT_EQ(toolkit.fixed_font, reinterpret_cast<HFONT>(SendMessageA(box, WM_GETFONT, 0, 0)));
        EXPECT_FALSE(IsWindowEnabled(toolkit.main_window));

        PostMessageA(popup, WM_SYSCOMMAND, SC_CLOSE, 0);
        ASSERT_TRUE(wait_for([&] { return !IsWindow(popup); }));
        EXPECT_TRUE(IsWindowEnabled(toolkit.main_window));
    });
    DeleteFileA(path.c_str());
    DeleteFileA(empty.c_str());
}

TEST(Dialogs, ChoosingAFileElsewhereKeepsTheCurrentDirectory) {
    char folder[MAX_PATH] = "";
    GetTempPathA(sizeof(folder), folder);
    static std::string chosen_file;
    chosen_file = std::string(folder) + "quarnel-dialog-test.elf";
    FILE* file = std::fopen(chosen_file.c_str(), "wb");
    ASSERT_NE(nullptr, file);
    std::fclose(file);
    session(nullptr, [] {
        char before[MAX_PATH] = "";
        GetCurrentDirectoryA(sizeof(before), before);
        struct Outcome {
            ErrorCode code = 99;
            const char* path = "unset";
            std::string copy;
        };
        static Outcome outcome;
        for (bool cancel : {true, false}) {
            outcome = Outcome{};
            std::thread opener([] {
                gui_test_on_gui_thread(
                    [](void*) {
                        outcome.code = gui_dialog_open_file("Pick", nullptr, nullptr, nullptr,
                                                            "ELF File\0*.elf\0All Files\0*.*\0",
                                                            &outcome.path);
                        outcome.copy = outcome.path ? outcome.path : "";
                    },
                    nullptr);
            });
            GuiTestModal modal{};
            ASSERT_TRUE(gui_test_modal_wait(&modal, WAIT_MS));
            EXPECT_EQ(GUI_TEST_MODAL_OPEN, modal.kind);
            EXPECT_EQ(2u, modal.filter_count);
            EXPECT_EQ(1, gui_test_file_filter_accepts("GAME.ELF"));
            EXPECT_EQ(0, gui_test_file_filter_accepts("game.txt"));
            ASSERT_TRUE(gui_test_file_answer(cancel ? nullptr : chosen_file.c_str()));
            opener.join();
            EXPECT_EQ(0u, outcome.code);
            if (cancel) {
                EXPECT_EQ(nullptr, outcome.path);
            } else {
                EXPECT_STRCASEEQ(chosen_file.c_str(), outcome.copy.c_str());
            }
            char after[MAX_PATH] = "";
            GetCurrentDirectoryA(sizeof(after), after);
            EXPECT_STREQ(before, after);
        }
        const char* path = nullptr;
        EXPECT_EQ(1u, gui_dialog_save_file(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(nullptr, path);
    });
    DeleteFileA(chosen_file.c_str());
}

TEST(Events, OnlyButtonsCheckBoxesRadioButtonsAndComboSelectionsReachTheHandler) {
    session(create_style_controls, [] {
        ASSERT_EQ(0u, gui_combobox_add(18, "first"));
        for (uint32_t id : {1u, 2u, 11u, 17u}) {
            ASSERT_TRUE(gui_test_click(id));
        }
        PostMessageA(toolkit.main_window, WM_COMMAND, 999, 0);
        ASSERT_EQ(0u, gui_combobox_select(18, 0)); // programmatic: no event
        ASSERT_TRUE(gui_test_settle(WAIT_MS));
        EXPECT_EQ(std::vector<uint32_t>{}, take_events());

        CheckState state = GUI_UNCHECKED;
        on_event_extra = [&state](uint32_t id) {
            if (id == 9) {
                gui_checkbox_get(9, &state); // toggled before the handler runs
            }
        };
        ASSERT_TRUE(gui_test_click(5));
        ASSERT_TRUE(gui_test_click(9));
        ASSERT_TRUE(gui_test_click(19));
        ASSERT_TRUE(gui_test_combobox_choose(18, 0));
        EXPECT_EQ((std::vector<uint32_t>{5, 9, 19, 18}), take_events());
        EXPECT_EQ(GUI_CHECKED, state);
        CheckState radio = GUI_CHECKED;
        EXPECT_EQ(0u, gui_radio_button_get(19, &radio));
        EXPECT_EQ(GUI_UNCHECKED, radio);
        ASSERT_TRUE(gui_test_click(9));
        EXPECT_EQ(0u, gui_checkbox_get(9, &state));
        EXPECT_EQ(GUI_UNCHECKED, state);
        std::lock_guard<std::mutex> lock(events_mutex);
        for (DWORD thread : event_threads) {
            EXPECT_EQ(toolkit.gui_thread, thread);
        }
    });
}

TEST(Events, ADropDeliversEveryNameInOrderOnce) {
    session(nullptr, [] {
        ASSERT_TRUE(gui_test_drop("file:///C:/one.elf\r\nfile:///C:/two%20words.elf\r\n"
                                  "file:///C:/three.elf\r\n"));
        std::lock_guard<std::mutex> lock(events_mutex);
        ASSERT_EQ(1u, drops.size());
        EXPECT_EQ((std::vector<std::string>{"C:\\one.elf", "C:\\two words.elf", "C:\\three.elf"}),
                  drops[0]);
    });
}

TEST(Shutdown, ClosingTellsTheHandlerThenReleasesInOrder) {
    static std::atomic<ErrorCode> late{99};
    std::thread caller;
    int result = session(nullptr, [&] {
        on_event_extra = [&caller](uint32_t id) {
            if (id == 0) {
                // A call that arrives once the window is gone must fail instead of waiting.
                caller = std::thread([] {
                    while (!toolkit.window_gone) {
                        Sleep(1);
                    }
                    late = gui_control_create(GUI_LABEL, "late", 0, 50, 0, 0, 10, 10);
                });
            }
        };
        HWND window = toolkit.main_window;
        ASSERT_TRUE(gui_test_close());
        EXPECT_FALSE(IsWindow(window));
    });
    EXPECT_EQ(0, result);
    EXPECT_EQ(std::vector<uint32_t>{0}, take_events());
    EXPECT_STREQ("destroy loop application font controls", gui_test_shutdown_steps());
    ASSERT_TRUE(caller.joinable());
    caller.join();
    EXPECT_EQ(2u, late.load());
    EXPECT_EQ(2u, gui_notification("x", "y", GUI_NOTIFY_OK));
}

TEST(Shutdown, AFailedEntryEndsTheProgramWithoutAWindow) {
    static HWND window;
    int result = session(
        [] {
            window = toolkit.main_window;
            return 1;
        },
        [] { ADD_FAILURE() << "the body runs only after a successful entry"; });
    EXPECT_EQ(0, result);
    EXPECT_EQ(1, gui_test_entry_result());
    EXPECT_FALSE(IsWindow(window));
}

TEST(Taskbar, ProgressWorksOnlyOnceTheTaskbarButtonExists) {
    session(nullptr, [] {
        trace_context()->system_call = nullptr;
        EXPECT_EQ(3u, gui_taskbar_progressbar_state(1));
        EXPECT_STREQ("ITaskbarList3::SetProgressState", trace_context()->system_call);
        EXPECT_EQ(3u, gui_taskbar_progressbar_set(50));
        EXPECT_STREQ("ITaskbarList3::SetProgressValue", trace_context()->system_call);
        // The shell's announcement, twice: the interface created first stays.
        UINT created = RegisterWindowMessageA("TaskbarButtonCreated");
        SendMessageA(toolkit.main_window, created, 0, 0);
        SendMessageA(toolkit.main_window, created, 0, 0);
        EXPECT_EQ(0u, gui_taskbar_progressbar_state(2));
        EXPECT_EQ(0u, gui_taskbar_progressbar_set(50));
        EXPECT_EQ(0u, gui_taskbar_progressbar_state(0));
    });
}

// What every program linked with the toolkit carries: icon group 100 with the seven sizes in
// 32-bit colour, and the manifest asking for common controls 6 and the invoker's rights.
TEST(Resources, IconGroupAndManifest) {
    HMODULE program = GetModuleHandleA(nullptr);
    HRSRC group = FindResourceA(program, MAKEINTRESOURCEA(100), MAKEINTRESOURCEA(14));
    ASSERT_NE(nullptr, group);
    const uint8_t* directory =
        static_cast<const uint8_t*>(LockResource(LoadResource(program, group)));
    ASSERT_NE(nullptr, directory);
    uint16_t count = static_cast<uint16_t>(directory[4] | directory[5] << 8);
    ASSERT_EQ(7u, count);
    std::vector<int> sizes;
    for (uint16_t i = 0; i < count; i++) {
        const uint8_t* entry = directory + 6 + 14 * i; // packed GRPICONDIRENTRY
        sizes.push_back(entry[0] == 0 ? 256 : entry[0]);
        EXPECT_EQ(entry[0], entry[1]);
        EXPECT_EQ(32, entry[6] | entry[7] << 8);
    }
    EXPECT_EQ((std::vector<int>{128, 96, 64, 48, 32, 24, 16}), sizes);

    HRSRC manifest = FindResourceA(program, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(nullptr, manifest);
    std::string text(static_cast<const char*>(LockResource(LoadResource(program, manifest))),
                     SizeofResource(program, manifest));
    EXPECT_NE(std::string::npos, text.find("Microsoft.Windows.Common-Controls"));
    EXPECT_NE(std::string::npos, text.find("version=\"6.0.0.0\""));
    EXPECT_NE(std::string::npos, text.find("level=\"asInvoker\""));
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
