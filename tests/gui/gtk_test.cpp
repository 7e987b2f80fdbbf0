// The toolkit over GTK under an X server, driven as a user would; the application's tests drive
// the file dialogs.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "gui/gui.h"
#include "gui/gui_test.h"

using Ids = std::vector<uint32_t>;
constexpr uint32_t WAIT_MS = 20000;
enum { ID_LABEL = 1, ID_BUTTON, ID_CHECK, ID_EDIT, ID_PROGRESS, ID_COMBO, ID_RADIO, ID_MULTI };

// What the window's handlers received; `on_event` runs inside the event handler.
static std::mutex mutex;
static Ids events;
static std::vector<std::vector<std::string>> drops;
static std::function<void(uint32_t)> on_event;
static std::thread::id gui_thread;

static Ids take_events() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(events, {});
}

static void record_event(uint32_t id) {
    EXPECT_EQ(std::this_thread::get_id(), gui_thread) << "event " << id;
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(id);
    }
    if (on_event)
        on_event(id);
}

static void record_drop(uint32_t* count, char** names) {
    std::lock_guard<std::mutex> lock(mutex);
    drops.emplace_back(names, names + *count);
}

// Every session's window: one control of each kind that reacts or holds text.
int app_main(uint32_t, char**) {
    // Title, outer size, position, background, icon and the handlers.
    const WindowDescription window = {"Quarnel test", 600,         556,    20, 30, 5, 0,
                                      record_event,   record_drop, nullptr};
    gui_window_create(&window);
    ErrorCode failed = gui_control_create(GUI_LABEL, "Label", 0, ID_LABEL, 16, 24, 120, 18);
    failed |= gui_control_create(GUI_BUTTON, "Button", 0, ID_BUTTON, 16, 48, 80, 20);
    failed |= gui_control_create(GUI_CHECKBOX, "Check", 0, ID_CHECK, 100, 48, 80, 18);
    failed |= gui_control_create(GUI_EDIT, "", 0, ID_EDIT, 16, 72, 200, 20);
    failed |= gui_control_create(GUI_PROGRESSBAR, "", 0, ID_PROGRESS, 16, 100, 200, 14);
    failed |= gui_control_create(GUI_COMBOBOX, "", 0, ID_COMBO, 16, 120, 150, 100);
    failed |= gui_control_create(GUI_RADIO_BUTTON, "Radio", 0, ID_RADIO, 190, 48, 80, 18);
    failed |= gui_control_create(GUI_EDIT, "", 0x161, ID_MULTI, 320, 10, 260, 120);
    return failed != 0;
}

static void run_body(void* body) {
    gui_test_on_gui_thread([](void*) { gui_thread = std::this_thread::get_id(); }, nullptr);
    (*static_cast<std::function<void()>*>(body))();
}

// One whole session, `body` on the test thread; returns what the process would return.
static int session(std::function<void()> body) {
    take_events();
    drops.clear();
    int code = gui_test_run(nullptr, 0, nullptr, run_body, &body);
    EXPECT_NE(gui_test_entry_result(), -1) << "the toolkit did not start: is there a display?";
    on_event = nullptr;
    return code;
}

static std::string text_of(uint32_t id) {
    std::string buffer(4096, '\0');
    EXPECT_EQ(gui_control_get_text(id, buffer.data(), 4096), GUI_ERROR_NONE);
    return buffer.c_str();
}

TEST(Controls, ErrorCodesOfEveryOperation) {
    session([] {
        uint32_t value = 0;
        CheckState state = 0;
        char buffer[8];
        // Null pointers are reported before identifiers, kinds and indexes.
        // clang-format off
        const ErrorCode null_pointer[] = {
            gui_control_create(GUI_LABEL, nullptr, 0, 0, 0, 0, 1, 1),
            gui_control_enabled(0, nullptr), gui_checkbox_get(ID_RADIO, nullptr),
            gui_control_get_text(0, nullptr, 0),
            gui_control_set_text(0, nullptr), gui_combobox_add(ID_LABEL, nullptr),
            gui_window_set_title(nullptr), gui_notification(nullptr, "c", GUI_NOTIFY_OK),
            gui_notification("t", "c", GUI_NOTIFY_YES_NO),
            gui_dialog_open_file(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)};
        const ErrorCode initialization[] = {
            gui_control_create(GUI_LABEL, "x", 0, 0, 0, 0, 1, 1),
            gui_control_create(0, "x", 0, 900, 0, 0, 1, 1),
            gui_control_create(9, "x", 0, 900, 0, 0, 1, 1),
            gui_control_create(GUI_BUTTON, "Other", 0, ID_LABEL, 0, 0, 9, 9),
            gui_checkbox_get(ID_RADIO, &state), gui_radio_button_set(ID_CHECK, GUI_CHECKED),
            gui_control_move(4242, 1, 1), gui_control_enabled(0, &value),
            gui_control_get_text(ID_LABEL, buffer, 0), gui_control_set_text(0, "x"),
            gui_progressbar_set(ID_COMBO, 1), gui_combobox_select(ID_PROGRESS, 1),
            gui_combobox_insert(ID_COMBO, 1, "z"), gui_combobox_delete(ID_COMBO, 0),
            gui_notification("t", "c", 8, &value)};
        // clang-format on
        for (size_t i = 0; i < std::size(null_pointer); i++)
            EXPECT_EQ(null_pointer[i], GUI_ERROR_NULL_POINTER) << "case " << i;
        for (size_t i = 0; i < std::size(initialization); i++)
            EXPECT_EQ(initialization[i], GUI_ERROR_INITIALIZATION) << "case " << i;
        // Texts reach controls by child identifier: an unknown one fails in the system call.
        EXPECT_EQ(gui_control_get_text(4242, buffer, sizeof buffer), GUI_ERROR_SYSTEM_CALL);
        // So does a progress bar's, which has none; the failed call and its error number reach
        // this thread.
        TraceContext* trace = trace_context();
        system_set_last_error(0);
        EXPECT_EQ(gui_control_set_text(ID_PROGRESS, "x"), GUI_ERROR_SYSTEM_CALL);
        EXPECT_STREQ(trace->system_call, "SetDlgItemText");
        EXPECT_STREQ(trace->gui_function, "gui_control_set_text");
        EXPECT_EQ(system_last_error(), static_cast<uint32_t>(EINVAL));
        // A taken id left the first control as it was.
        EXPECT_EQ(text_of(ID_LABEL), "Label");
    });
}

TEST(Controls, TextsKeepTheirBytes) {
    session([] {
        // Bytes that are not UTF-8 are shown as Latin-1 and read back unchanged.
        const char *crlf = "first\r\nsecond\r\n\r\nfourth",
                   *latin1 = "caf\xe9 \xff\x80 \xe0 la carte";
        uint32_t length = 0;
        for (uint32_t id : {ID_LABEL, ID_BUTTON, ID_CHECK, ID_RADIO, ID_EDIT, ID_MULTI}) {
            for (const char* text : {latin1, id == ID_MULTI ? crlf : latin1}) {
                ASSERT_EQ(gui_control_set_text(id, text), GUI_ERROR_NONE) << id;
                EXPECT_EQ(text_of(id), text) << id;
                ASSERT_EQ(gui_control_get_text_length(id, &length), GUI_ERROR_NONE);
                EXPECT_EQ(length, std::strlen(text)) << id;
            }
        }
        // Enter typed in a multi-line box gives CR LF; short buffers get the first size-1 bytes.
        ASSERT_EQ(gui_control_set_text(ID_MULTI, "a"), GUI_ERROR_NONE);
        ASSERT_TRUE(gui_test_type(ID_MULTI, "\nb"));
        EXPECT_EQ(text_of(ID_MULTI), "a\r\nb");
        char small[4] = {'x', 'x', 'x', 'x'};
        ASSERT_EQ(gui_control_get_text(ID_MULTI, small, sizeof small), GUI_ERROR_NONE);
        EXPECT_STREQ(small, "a\r\n");
    });
}

TEST(Threads, OtherThreadsAreServedWhileAMessageBoxIsOpen) {
    session([] {
        // A search-like thread asks a question; the GUI thread sits in the box's loop.
        std::atomic<int> asked{-1};
        NotificationAnswer answer = GUI_ANSWER_OK;
        std::thread asker([&] {
            asked = static_cast<int>(
                gui_notification("Go on?", "Question", GUI_NOTIFY_YES_NO, &answer));
        });
        GuiTestModal modal;
        ASSERT_TRUE(gui_test_modal_wait(&modal, WAIT_MS));
        EXPECT_STREQ(modal.text, "Go on?");
        EXPECT_STREQ(modal.caption, "Question");
        EXPECT_EQ(modal.type, GUI_NOTIFY_YES_NO);

        // Meanwhile this thread's calls are carried to the GUI thread and served, one of them
        // a second message box on top of the first.
        EXPECT_EQ(gui_control_set_text(ID_EDIT, "served"), GUI_ERROR_NONE);
        EXPECT_EQ(text_of(ID_EDIT), "served");
        std::thread second([] { gui_notification("Inner", "Note", GUI_NOTIFY_OK); });
        auto two_open = [](void*) -> int {
            GuiTestModal m;
            return gui_test_modal_wait(&m, WAIT_MS) && m.depth == 2;
        };
        ASSERT_TRUE(gui_test_wait(two_open, nullptr, WAIT_MS));
        ASSERT_TRUE(gui_test_message_answer(GUI_ANSWER_OK));
        second.join();
        // The main window stays usable: the box has no owner.
        ASSERT_TRUE(gui_test_click(ID_BUTTON));
        EXPECT_EQ(take_events(), Ids{ID_BUTTON});
        EXPECT_EQ(asked.load(), -1);

        // A Yes/No question has no Cancel and cannot be closed without an answer.
        EXPECT_FALSE(gui_test_message_answer(GUI_TEST_CLOSE_BUTTON));
        EXPECT_FALSE(gui_test_message_answer(GUI_ANSWER_CANCEL));
        ASSERT_TRUE(gui_test_message_answer(GUI_ANSWER_NO));
        asker.join();
        EXPECT_EQ(asked.load(), 0);
        EXPECT_EQ(answer, GUI_ANSWER_NO);
    });
}

TEST(Notifications, MessageBoxesGiveTheirAnswers) {
    session([] {
        // The answer is the button pressed; the close button gives Cancel. Yes/No is asked in
        // the threads test.
        // clang-format off
        const std::pair<NotificationType, uint32_t> cases[] = {
            {GUI_NOTIFY_YES_NO_CANCEL, GUI_TEST_CLOSE_BUTTON},
            {GUI_NOTIFY_YES_NO_CANCEL, GUI_ANSWER_YES},
            {GUI_NOTIFY_OK_CANCEL, GUI_ANSWER_OK}, {GUI_NOTIFY_RETRY_CANCEL, GUI_ANSWER_RETRY},
            {GUI_NOTIFY_ABORT_RETRY_IGNORE, GUI_ANSWER_IGNORE},
            {GUI_NOTIFY_CANCEL_TRY_CONTINUE, GUI_ANSWER_TRY_AGAIN},
            {GUI_NOTIFY_CANCEL_TRY_CONTINUE, GUI_ANSWER_CONTINUE}};
        // clang-format on
        for (const auto& [type, press] : cases) {
            NotificationAnswer answer = 77;
            std::thread asker([&, type = type] { gui_notification("T", "C", type, &answer); });
            GuiTestModal modal;
            ASSERT_TRUE(gui_test_modal_wait(&modal, WAIT_MS));
            EXPECT_EQ(modal.type, type);
            ASSERT_TRUE(gui_test_message_answer(press)) << type << " " << press;
            asker.join();
            EXPECT_EQ(answer, press == GUI_TEST_CLOSE_BUTTON ? GUI_ANSWER_CANCEL : press) << press;
        }
    });
}

TEST(Notifications, TextPopUpBlocksTheMainWindowUntilClosed) {
    const std::string readme = "/tmp/quarnel_readme_" + std::to_string(getpid()) + ".txt";
    FILE* file = std::fopen(readme.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite("Quarnel help\r\nline two \xe9\0after the NUL", 1, 36, file);
    std::fclose(file);
    session([&] {
        EXPECT_EQ(gui_notification((readme + ".missing").c_str(), "Readme", GUI_NOTIFY_TEXT_FILE),
                  GUI_ERROR_INITIALIZATION);
        ASSERT_EQ(gui_notification(readme.c_str(), "Readme", GUI_NOTIFY_TEXT_FILE), GUI_ERROR_NONE);
        gui_test_settle(WAIT_MS);
        GuiTestPopup popup;
        GuiTestWindow window;
        ASSERT_TRUE(gui_test_popup(&popup));
        ASSERT_TRUE(gui_test_window(&window));
        EXPECT_EQ(popup.x - window.x, 100);
        EXPECT_EQ(popup.y - window.y, 78);
        EXPECT_EQ(popup.width, 400);
        EXPECT_EQ(popup.height, 400);
        EXPECT_STREQ(popup.title, "Readme");
        EXPECT_STREQ(popup.text, "Quarnel help\r\nline two \xe9");
        EXPECT_FALSE(window.sensitive);

        // While it is open the window takes no clicks and cannot be closed.
        ASSERT_TRUE(gui_test_click(ID_BUTTON));
        ASSERT_TRUE(gui_test_close());
        ASSERT_TRUE(gui_test_window(&window));
        EXPECT_TRUE(take_events().empty());

        ASSERT_TRUE(gui_test_popup_close());
        EXPECT_FALSE(gui_test_popup(&popup));
        ASSERT_TRUE(gui_test_window(&window));
        EXPECT_TRUE(window.sensitive);
        ASSERT_TRUE(gui_test_click(ID_BUTTON));
        EXPECT_EQ(take_events(), Ids{ID_BUTTON});
    });
    std::remove(readme.c_str());
}

TEST(Drops, LocalFilesArriveInOrderAndBadDropsAreDiscarded) {
    session([] {
        ASSERT_TRUE(gui_test_drop("file:///tmp/a.elf\r\n# a comment\r\nfile:///tmp/b%20c.elf\r\n"
                                  "file://localhost/tmp/d.elf\r\n"));
        ASSERT_TRUE(gui_test_drop("file:///tmp/x.elf\r\nhttp://example.invalid/y.elf\r\n"));
        ASSERT_TRUE(gui_test_drop("file:///tmp/%ZZ\r\n"));
        gui_window_accept_files(0);
        EXPECT_FALSE(gui_test_drop("file:///tmp/e.elf\r\n"));
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_EQ(drops.size(), 1u);
        EXPECT_EQ(drops[0], (std::vector<std::string>{"/tmp/a.elf", "/tmp/b c.elf", "/tmp/d.elf"}));
    });
}

TEST(Shutdown, ClosingRunsTheHandlersThenReleasesInOrder) {
    std::atomic<int> at_close{-1}, late{-1};
    std::thread waiter;
    on_event = [&](uint32_t id) {
        if (id != 0)
            return;
        // The window still exists while the handler hears of the closing; a call another thread
        // starts now meets the window on its way out and must fail, never hang.
        at_close = static_cast<int>(gui_control_set_text(ID_LABEL, "closing"));
        waiter = std::thread([&] { late = gui_control_set_text(ID_LABEL, "too late"); });
    };
    EXPECT_EQ(session([] {}), 0);
    if (waiter.joinable())
        waiter.join();
    EXPECT_EQ(at_close.load(), 0);
    EXPECT_EQ(late.load(), static_cast<int>(GUI_ERROR_INITIALIZATION));
    EXPECT_EQ(take_events(), Ids{0});
    EXPECT_STREQ(gui_test_shutdown_steps(), "destroy loop application font controls");
    // After the window is gone, calls fail at once instead of waiting for it.
    char buffer[8];
    EXPECT_EQ(gui_control_get_text(ID_LABEL, buffer, sizeof buffer), GUI_ERROR_INITIALIZATION);
    EXPECT_EQ(gui_notification("late", "late", GUI_NOTIFY_OK), GUI_ERROR_INITIALIZATION);
}
