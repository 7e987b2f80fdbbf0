// The toolkit over Win32, read back through the system itself under Wine.
#include "gui/win32/win32_internal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "gui/gui_test.h"

namespace {

std::mutex events_mutex;
std::vector<uint32_t> events;
std::function<void(uint32_t)> on_event_extra;

void record_event(uint32_t id) {
    EXPECT_EQ(toolkit.gui_thread, GetCurrentThreadId()) << "event " << id;
    std::lock_guard<std::mutex> lock(events_mutex);
    events.push_back(id);
    if (on_event_extra) {
        on_event_extra(id);
    }
}

std::vector<uint32_t> take_events() {
    std::lock_guard<std::mutex> lock(events_mutex);
    return std::exchange(events, {});
}

// The controls of every session, ids 1 to 20 in order, each with its style as created.
const struct {
    uint32_t id;
    ControlKind kind;
    ControlStyle flags;
    const char* class_name;
    DWORD style;
} STYLES[] = {
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
    {11, GUI_EDIT, 0x161, "Edit", 0x50B01004}, // the application's pattern and result boxes
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

// The creation style of each child of the main window; `refuse_creation` fails every creation
// as a system out of resources would.
std::map<HWND, DWORD> created;
std::atomic<bool> refuse_creation{false};

LRESULT CALLBACK watch_creation(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_CREATEWND && refuse_creation) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 1;
    }
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lparam)->lpcs;
        if (create->hwndParent && create->hwndParent == toolkit.main_window) {
            created[reinterpret_cast<HWND>(wparam)] = static_cast<DWORD>(create->style);
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

// One session with this thread as the GUI thread and the controls of STYLES; `body` runs on the
// test thread.
int session(std::function<void()> body) {
    on_event_extra = nullptr;
    take_events();
    created.clear();
    HHOOK hook = SetWindowsHookExA(WH_CBT, watch_creation, nullptr, GetCurrentThreadId());
    EXPECT_NE(nullptr, hook);
    int result = gui_test_run(
        nullptr, 0, nullptr,
        [](void* context) { (*static_cast<std::function<void()>*>(context))(); }, &body);
    UnhookWindowsHookEx(hook);
    return result;
}

HWND control_window(uint32_t id) {
    void* handle = nullptr;
    control_find_handle(id, 0, &handle);
    return static_cast<HWND>(handle);
}

bool wait_for(const std::function<bool()>& condition) {
    for (DWORD start = GetTickCount(); !condition() && GetTickCount() - start < 20000;) {
        Sleep(2);
    }
    return condition();
}

HWND find_box(const char* caption) {
    HWND box = nullptr;
    wait_for([&] { return (box = FindWindowA("#32770", caption)) && IsWindowVisible(box); });
    return box;
}

} // namespace

int app_main(uint32_t, char**) {
    // Placed by the system; the pop-up's place depends on the size.
    WindowDescription d = {"Quarnel", 600, 556, -1, 0, 0, 0, record_event, nullptr, nullptr};
    gui_window_create(&d);
    for (const auto& c : STYLES) {
        if (gui_control_create(c.kind, "abcdef", c.flags, c.id, 10, int32_t(22 * c.id), 120, 20)) {
            return 1;
        }
    }
    return 0;
}

TEST(Controls, KindsAndFlagsGiveTheNativeClassStyleAndIdentifier) {
    session([] {
        for (const auto& expected : STYLES) {
            SCOPED_TRACE(expected.id);
            HWND window = control_window(expected.id);
            ASSERT_NE(nullptr, window);
            char name[64] = "";
            GetClassNameA(window, name, sizeof(name));
            EXPECT_STRCASEEQ(expected.class_name, name);
            EXPECT_EQ(expected.style, created[window]);
            // Edit boxes draw their own border and manage their scroll bits; a combo box hands
            // its scroll bar to its list.
            DWORD managed = expected.kind == GUI_EDIT ? WS_BORDER | WS_HSCROLL | WS_VSCROLL |
                                                            ES_AUTOHSCROLL | ES_AUTOVSCROLL
                            : expected.kind == GUI_COMBOBOX ? WS_VSCROLL
                                                            : 0;
            DWORD kept = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
            EXPECT_EQ(expected.style & ~managed, kept & ~managed);
            bool bar = expected.kind == GUI_PROGRESSBAR; // has no child identifier
            EXPECT_EQ(bar ? 0 : static_cast<int>(expected.id), GetDlgCtrlID(window));
        }
        LOGFONTA fixed = {};
        ASSERT_NE(0, GetObjectA(toolkit.fixed_font, sizeof(fixed), &fixed));
        EXPECT_STREQ("Courier New", fixed.lfFaceName);
        EXPECT_EQ(16, fixed.lfHeight);
        // A fixed frame with a minimise box only.
        LONG style = GetWindowLongA(toolkit.main_window, GWL_STYLE);
        EXPECT_EQ(0x008A0000, style & 0x00FF0000 & ~WS_DLGFRAME);
        EXPECT_FALSE(style & (WS_THICKFRAME | WS_MAXIMIZEBOX));
    });
}

// Failures of the system itself, including a creation refused on the GUI thread, whose call
// name and error number must reach the calling thread.
TEST(Controls, SystemFailuresGiveCodeThreeAndNameTheFailedCall) {
    session([] {
        char small[4] = "zzz";
        trace_context()->system_call = nullptr;
        EXPECT_EQ(3u, gui_control_set_text(999, "x"));
        EXPECT_EQ(static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND), GetLastError());
        EXPECT_STREQ("SetDlgItemText", trace_context()->system_call);
        EXPECT_EQ(3u, gui_control_get_text(999, small, sizeof(small)));
        EXPECT_STREQ("GetDlgItemText", trace_context()->system_call);
        EXPECT_EQ(3u, gui_control_set_text(17, "a progress bar has no child id"));
        EXPECT_EQ(3u, gui_taskbar_progressbar_state(1)); // no taskbar button announced yet
        EXPECT_STREQ("ITaskbarList3::SetProgressState", trace_context()->system_call);

        refuse_creation = true;
        for (ControlKind kind : {GUI_BUTTON, GUI_PROGRESSBAR}) {
            trace_context()->system_call = nullptr;
            SetLastError(0);
            EXPECT_EQ(3u, gui_control_create(kind, "refused", 0, 60 + kind, 0, 0, 10, 10));
            DWORD error = GetLastError();
            EXPECT_STREQ(kind == GUI_PROGRESSBAR ? "CreateWindowEx" : "CreateWindow",
                         trace_context()->system_call);
            EXPECT_NE(0u, error);
            EXPECT_EQ(toolkit.gui_last_error, error);
            EXPECT_EQ(nullptr, control_window(60 + kind));
        }
        refuse_creation = false;
        EXPECT_EQ(0u, gui_control_create(GUI_BUTTON, "accepted", 0, 70, 0, 0, 10, 10));

        EXPECT_EQ(0u, gui_control_get_text(5, small, sizeof(small)));
        EXPECT_STREQ("abc", small); // cut to the buffer
        uint32_t index = 0;
        EXPECT_EQ(0u, gui_combobox_selected(18, &index));
        EXPECT_EQ(0xFFFFFFFFu, index);
        EXPECT_EQ(2u, gui_combobox_delete(18, 0)); // past the end of an empty list
        // A two-state box cannot hold the third state: the system keeps it checked.
        EXPECT_EQ(0u, gui_checkbox_set(9, 7));
        EXPECT_NE(BST_UNCHECKED, IsDlgButtonChecked(toolkit.main_window, 9));
    });
}

TEST(Threads, CallsFromOtherThreadsAreServedWhileAMessageBoxIsOpen) {
    session([] {
        // A handler on the GUI thread creates a control, then waits in a box's own loop.
        static std::atomic<ErrorCode> asked{99}, in_place{99};
        static NotificationAnswer answer = GUI_ANSWER_OK;
        std::thread handler([] {
            gui_test_on_gui_thread(
                [](void*) {
                    in_place = gui_control_create(GUI_LABEL, "in place", 0, 31, 5, 5, 60, 20);
                    asked = gui_notification("Go on?", "Question", GUI_NOTIFY_YES_NO, &answer);
                },
                nullptr);
        });
        HWND box = find_box("Question");
        ASSERT_NE(nullptr, box);
        EXPECT_EQ(0u, in_place.load());
        EXPECT_NE(nullptr, control_window(31));
        EXPECT_EQ(nullptr, GetWindow(box, GW_OWNER));
        EXPECT_TRUE(IsWindowEnabled(toolkit.main_window));

        ErrorCode made = 99;
        std::thread([&] {
            made = gui_control_create(GUI_BUTTON, "late", 0, 30, 5, 5, 60, 20);
        }).join();
        EXPECT_EQ(0u, made);
        EXPECT_NE(nullptr, control_window(30));
        EXPECT_EQ(99u, asked.load());

        PostMessageA(GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
        handler.join();
        EXPECT_EQ(0u, asked.load());
        EXPECT_EQ(GUI_ANSWER_NO, answer);
    });
}

TEST(Notifications, MessageBoxesGiveTheAnswerOfTheClickedButton) {
    session([] {
        // Ids 1 to 20 in order, one below the other.
        const struct {
            NotificationType type;
            int button; // 0: the close button
            NotificationAnswer expected;
        } cases[] = {
            {GUI_NOTIFY_YES_NO_CANCEL, 0, GUI_ANSWER_CANCEL},
            {GUI_NOTIFY_OK_CANCEL, IDOK, GUI_ANSWER_OK},
            {GUI_NOTIFY_RETRY_CANCEL, IDRETRY, GUI_ANSWER_RETRY},
            {GUI_NOTIFY_ABORT_RETRY_IGNORE, IDIGNORE, GUI_ANSWER_IGNORE},
            {GUI_NOTIFY_CANCEL_TRY_CONTINUE, IDCONTINUE, GUI_ANSWER_CONTINUE},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.type);
            NotificationAnswer answer = 99;
            ErrorCode code = 99;
            std::thread asker([&] { code = gui_notification("text", "Box", c.type, &answer); });
            HWND box = find_box("Box");
            ASSERT_NE(nullptr, box);
            HWND target = c.button ? GetDlgItem(box, c.button) : box;
            PostMessageA(target, c.button ? BM_CLICK : WM_SYSCOMMAND, c.button ? 0 : SC_CLOSE, 0);
            asker.join();
            EXPECT_EQ(0u, code);
            EXPECT_EQ(c.expected, answer);
            ASSERT_TRUE(wait_for([] { return !FindWindowA("#32770", "Box"); }));
        }
    });
}

TEST(Notifications, TheTextPopUpIsPlacedOverTheWindowAndBlocksItUntilClosed) {
    std::ofstream("popup_test.txt", std::ios::binary).write("line one\r\nline two\0hidden", 25);
    session([] {
        ASSERT_EQ(0u, gui_notification("popup_test.txt", "Help", GUI_NOTIFY_TEXT_FILE));
        HWND popup = FindWindowA("popup", "Help");
        ASSERT_NE(nullptr, popup);
        EXPECT_EQ(toolkit.main_window, GetWindow(popup, GW_OWNER));
        RECT m = {}, p = {};
        ASSERT_TRUE(GetWindowRect(toolkit.main_window, &m) && GetWindowRect(popup, &p));
        EXPECT_EQ((std::vector<LONG>{m.left + 100, m.top + 78, m.left + 500, m.top + 478}),
                  (std::vector<LONG>{p.left, p.top, p.right, p.bottom}));
        EXPECT_EQ(0x80C80000,
                  GetWindowLongA(popup, GWL_STYLE) & 0xFFFF0000 & ~(WS_CLIPSIBLINGS | WS_VISIBLE));
        EXPECT_TRUE(GetWindowLongA(popup, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);

        HWND box = GetDlgItem(popup, 999);
        ASSERT_NE(nullptr, box);
        char text[64] = "";
        GetWindowTextA(box, text, sizeof(text));
        EXPECT_STREQ("line one\r\nline two", text);
        EXPECT_EQ(0x50201844, GetWindowLongA(box, GWL_STYLE));
        EXPECT_FALSE(IsWindowEnabled(toolkit.main_window));

        PostMessageA(popup, WM_SYSCOMMAND, SC_CLOSE, 0);
        ASSERT_TRUE(wait_for([&] { return !IsWindow(popup); }));
        EXPECT_TRUE(IsWindowEnabled(toolkit.main_window));
    });
    DeleteFileA("popup_test.txt");
}

TEST(Events, OnlyButtonsCheckBoxesRadioButtonsAndComboSelectionsReachTheHandler) {
    session([] {
        ASSERT_EQ(0u, gui_combobox_add(18, "first"));
        for (uint32_t id : {1u, 2u, 11u, 17u}) {
            ASSERT_TRUE(gui_test_click(id));
        }
        PostMessageA(toolkit.main_window, WM_COMMAND, 999, 0);
        ASSERT_EQ(0u, gui_combobox_select(18, 0)); // programmatic: no event
        ASSERT_TRUE(gui_test_settle(20000));
        EXPECT_EQ(std::vector<uint32_t>{}, take_events());

        CheckState state = GUI_UNCHECKED;
        on_event_extra = [&state](uint32_t id) {
            if (id == 9) {
                gui_checkbox_get(9, &state); // toggled before the handler runs
            }
        };
        for (uint32_t id : {5u, 9u, 19u}) {
            ASSERT_TRUE(gui_test_click(id));
        }
        ASSERT_TRUE(gui_test_combobox_choose(18, 0));
        EXPECT_EQ((std::vector<uint32_t>{5, 9, 19, 18}), take_events());
        EXPECT_EQ(GUI_CHECKED, state);
    });
}

TEST(Shutdown, ClosingTellsTheHandlerThenReleasesInOrder) {
    static std::atomic<ErrorCode> late{99};
    std::thread caller;
    int result = session([&] {
        on_event_extra = [&caller](uint32_t id) {
            if (id == 0) { // a call that arrives once the window is gone fails, never waits
                caller = std::thread([] {
                    wait_for([] { return toolkit.window_gone; });
                    late = gui_control_create(GUI_LABEL, "late", 0, 50, 0, 0, 10, 10);
                });
            }
        };
        HWND window = toolkit.main_window;
        ASSERT_TRUE(gui_test_close());
        // The settle after WM_CLOSE is bounded: on a loaded machine the window may still be going.
        EXPECT_TRUE(wait_for([window] { return !IsWindow(window); }));
    });
    EXPECT_EQ(0, result);
    EXPECT_EQ(std::vector<uint32_t>{0}, take_events());
    EXPECT_STREQ("destroy loop application font controls", gui_test_shutdown_steps());
    ASSERT_TRUE(caller.joinable());
    caller.join();
    EXPECT_EQ(2u, late.load());
    EXPECT_EQ(2u, gui_notification("x", "y", GUI_NOTIFY_OK));
}
