// The toolkit over GTK, driven as a user would under an X server: controls, texts, events,
// threads, message boxes, the text pop-up, file dialogs, drops and shutdown.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "gtk_session.h"

static std::string text_of(uint32_t id, uint32_t size = 4096) {
    std::string buffer(size, '\0');
    EXPECT_EQ(gui_control_get_text(id, buffer.data(), size), GUI_ERROR_NONE);
    return buffer.c_str();
}

static std::string temp_dir() {
    char path[] = "/tmp/quarnel_gui_XXXXXX";
    EXPECT_NE(mkdtemp(path), nullptr);
    return path;
}

static void write_file(const std::string& path, const char* bytes, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes, 1, size, file);
    std::fclose(file);
}

enum : uint32_t {
    ID_GROUP = 1,
    ID_LABEL,
    ID_BUTTON,
    ID_CHECK,
    ID_EDIT,
    ID_PROGRESS,
    ID_COMBO,
    ID_RADIO,
    ID_MULTI,
    ID_NUMBER,
    ID_RIGHT_LABEL,
    ID_LEFT_CHECK,
    ID_LEFT_EDIT
};

// One control of every kind, plus a few with style flags.
static int create_every_kind() {
    ErrorCode failed = 0;
    failed |= gui_control_create(GUI_GROUPBOX, "Group", GUI_STYLE_LEFT, ID_GROUP, 8, 4, 300, 200);
    failed |= gui_control_create(GUI_LABEL, "Label", 0, ID_LABEL, 16, 24, 120, 18);
    failed |= gui_control_create(GUI_BUTTON, "Button", 0, ID_BUTTON, 16, 48, 80, 20);
    failed |= gui_control_create(GUI_CHECKBOX, "Check", 0, ID_CHECK, 100, 48, 80, 18);
    failed |= gui_control_create(GUI_EDIT, "", 0, ID_EDIT, 16, 72, 200, 20);
    failed |= gui_control_create(GUI_PROGRESSBAR, "ignored", 0, ID_PROGRESS, 16, 100, 200, 14);
    failed |= gui_control_create(GUI_COMBOBOX, "", 0, ID_COMBO, 16, 120, 150, 100);
    failed |= gui_control_create(GUI_RADIO_BUTTON, "Radio", 0, ID_RADIO, 190, 48, 80, 18);
    failed |= gui_control_create(GUI_EDIT, "", 0x161, ID_MULTI, 320, 10, 260, 120);
    failed |= gui_control_create(GUI_EDIT, "", GUI_STYLE_NUMBER, ID_NUMBER, 320, 140, 100, 20);
    failed |= gui_control_create(GUI_LABEL, "R", GUI_STYLE_RIGHT | GUI_STYLE_CENTER, ID_RIGHT_LABEL,
                                 320, 170, 100, 18);
    failed |=
        gui_control_create(GUI_CHECKBOX, "Left", GUI_STYLE_LEFT, ID_LEFT_CHECK, 320, 190, 80, 18);
    failed |= gui_control_create(GUI_EDIT, "L", GUI_STYLE_LEFT | GUI_STYLE_RIGHT, ID_LEFT_EDIT, 420,
                                 190, 100, 20);
    return failed != 0;
}

static SessionOptions every_kind() {
    SessionOptions options = session_defaults();
    options.setup = create_every_kind;
    return options;
}

TEST(Controls, EveryKindExistsAndArgumentsAreCheckedInOrder) {
    session_run(every_kind(), [] {
        GuiTestControl control;
        for (uint32_t id = ID_GROUP; id <= ID_LEFT_EDIT; id++) {
            ASSERT_TRUE(gui_test_control(id, &control)) << id;
            EXPECT_TRUE(control.visible && control.enabled) << id;
        }
        ASSERT_TRUE(gui_test_control(ID_BUTTON, &control));
        EXPECT_EQ(control.kind, GUI_BUTTON);
        EXPECT_EQ(control.x, 16);
        EXPECT_EQ(control.y, 48);
        EXPECT_EQ(control.width, 80);
        EXPECT_EQ(control.height, 20);

        TraceContext* trace = trace_context();
        EXPECT_EQ(gui_control_create(GUI_LABEL, nullptr, 0, 0, 0, 0, 1, 1), GUI_ERROR_NULL_POINTER);
        EXPECT_STREQ(trace->gui_function, "gui_control_create");
        EXPECT_EQ(trace->gui_texts, gui_error_texts);
        EXPECT_EQ(gui_control_create(GUI_LABEL, "x", 0, 0, 0, 0, 1, 1), GUI_ERROR_INITIALIZATION);
        EXPECT_EQ(gui_control_create(0, "x", 0, 900, 0, 0, 1, 1), GUI_ERROR_INITIALIZATION);
        EXPECT_EQ(gui_control_create(9, "x", 0, 900, 0, 0, 1, 1), GUI_ERROR_INITIALIZATION);
        // A taken id leaves the first control as it was.
        EXPECT_EQ(gui_control_create(GUI_BUTTON, "Other", 0, ID_LABEL, 0, 0, 9, 9),
                  GUI_ERROR_INITIALIZATION);
        EXPECT_EQ(text_of(ID_LABEL), "Label");
        ASSERT_TRUE(gui_test_control(ID_LABEL, &control));
        EXPECT_EQ(control.kind, GUI_LABEL);

        uint32_t value = 0;
        CheckState state = 0;
        char buffer[8];
        // Null pointers are reported before identifiers.
        EXPECT_EQ(gui_control_enabled(0, nullptr), GUI_ERROR_NULL_POINTER);
        EXPECT_EQ(gui_checkbox_get(ID_RADIO, nullptr), GUI_ERROR_NULL_POINTER);
        EXPECT_EQ(gui_control_get_text(0, nullptr, 0), GUI_ERROR_NULL_POINTER);
        EXPECT_EQ(gui_control_set_text(0, nullptr), GUI_ERROR_NULL_POINTER);
        EXPECT_EQ(gui_combobox_add(ID_LABEL, nullptr), GUI_ERROR_NULL_POINTER);
        EXPECT_EQ(gui_window_set_title(nullptr), GUI_ERROR_NULL_POINTER);
        // Then identifiers and kinds.
        EXPECT_EQ(gui_checkbox_get(ID_RADIO, &state), GUI_ERROR_INITIALIZATION);
        EXPECT_EQ(gui_radio_button_set(ID_CHECK, GUI_CHECKED), GUI_ERROR_INITIALIZATION);
        EXPECT_EQ(gui_control_move(4242, 1, 1), GUI_ERROR_INITIALIZATION);
        EXPECT_EQ(gui_control_enabled(0, &value), GUI_ERROR_INITIALIZATION);
        EXPECT_EQ(gui_control_get_text(ID_LABEL, buffer, 0), GUI_ERROR_INITIALIZATION);
        EXPECT_EQ(gui_control_set_text(0, "x"), GUI_ERROR_INITIALIZATION);
        EXPECT_EQ(gui_progressbar_set(ID_COMBO, 1), GUI_ERROR_INITIALIZATION);
        EXPECT_EQ(gui_combobox_select(ID_PROGRESS, 1), GUI_ERROR_INITIALIZATION);
        EXPECT_STREQ(trace->gui_function, "gui_combobox_select");

        // Texts reach controls by child identifier: a progress bar has none, and an unknown id
        // fails in the system call, whose name and error number reach this thread.
        trace->system_call = nullptr;
        system_set_last_error(0);
        EXPECT_EQ(gui_control_set_text(ID_PROGRESS, "x"), GUI_ERROR_SYSTEM_CALL);
        EXPECT_STREQ(trace->system_call, "SetDlgItemText");
        EXPECT_EQ(system_last_error(), static_cast<uint32_t>(EINVAL));
        EXPECT_EQ(gui_control_get_text(4242, buffer, sizeof buffer), GUI_ERROR_SYSTEM_CALL);
        EXPECT_STREQ(trace->system_call, "GetDlgItemText");

        // Combo boxes: an empty selection, items, and deletes past the end.
        EXPECT_EQ(gui_combobox_selected(ID_COMBO, &value), GUI_ERROR_NONE);
        EXPECT_EQ(value, 0xFFFFFFFFu);
        EXPECT_EQ(gui_combobox_add(ID_COMBO, "b"), GUI_ERROR_NONE);
        EXPECT_EQ(gui_combobox_insert(ID_COMBO, 0, "a"), GUI_ERROR_NONE);
        EXPECT_EQ(gui_combobox_insert(ID_COMBO, 5, "z"), GUI_ERROR_INITIALIZATION);
        EXPECT_EQ(gui_combobox_delete(ID_COMBO, 2), GUI_ERROR_INITIALIZATION);
        EXPECT_EQ(gui_combobox_select(ID_COMBO, 1), GUI_ERROR_NONE);
        EXPECT_EQ(gui_combobox_selected(ID_COMBO, &value), GUI_ERROR_NONE);
        EXPECT_EQ(value, 1u);
        EXPECT_EQ(text_of(ID_COMBO), "b");
        EXPECT_EQ(gui_combobox_delete(ID_COMBO, 0), GUI_ERROR_NONE);
        EXPECT_EQ(gui_combobox_selected(ID_COMBO, &value), GUI_ERROR_NONE);
        EXPECT_EQ(value, 0u);

        // Placement and state.
        EXPECT_EQ(gui_control_move(ID_BUTTON, 30, 60), GUI_ERROR_NONE);
        EXPECT_EQ(gui_control_resize(ID_BUTTON, 90, 22), GUI_ERROR_NONE);
        EXPECT_EQ(gui_control_enable(ID_BUTTON, 0), GUI_ERROR_NONE);
        EXPECT_EQ(gui_control_enabled(ID_BUTTON, &value), GUI_ERROR_NONE);
        EXPECT_EQ(value, 0u);
        EXPECT_EQ(gui_control_show(ID_LABEL, 0), GUI_ERROR_NONE);
        gui_test_settle(WAIT_MS);
        ASSERT_TRUE(gui_test_control(ID_BUTTON, &control));
        EXPECT_EQ(control.x, 30);
        EXPECT_EQ(control.y, 60);
        EXPECT_EQ(control.width, 90);
        EXPECT_FALSE(control.enabled);
        ASSERT_TRUE(gui_test_control(ID_LABEL, &control));
        EXPECT_FALSE(control.visible);
        EXPECT_EQ(gui_control_show(ID_LABEL, 7), GUI_ERROR_NONE);
        ASSERT_TRUE(gui_test_control(ID_LABEL, &control));
        EXPECT_TRUE(control.visible);
    });
}

TEST(Controls, TextsKeepTheirBytes) {
    session_run(every_kind(), [] {
        const char* crlf = "first\r\nsecond\r\n\r\nfourth";
        ASSERT_EQ(gui_control_set_text(ID_MULTI, crlf), GUI_ERROR_NONE);
        EXPECT_EQ(text_of(ID_MULTI), crlf);
        uint32_t length = 0;
        ASSERT_EQ(gui_control_get_text_length(ID_MULTI, &length), GUI_ERROR_NONE);
        EXPECT_EQ(length, std::strlen(crlf));

        // Bytes that are not UTF-8 are shown as Latin-1 and read back unchanged.
        const char* latin1 = "caf\xe9 \xff\x80 \xe0 la carte";
        for (uint32_t id : {ID_LABEL, ID_BUTTON, ID_CHECK, ID_RADIO, ID_GROUP, ID_EDIT, ID_MULTI}) {
            ASSERT_EQ(gui_control_set_text(id, latin1), GUI_ERROR_NONE) << id;
            EXPECT_EQ(text_of(id), latin1) << id;
            ASSERT_EQ(gui_control_get_text_length(id, &length), GUI_ERROR_NONE);
            EXPECT_EQ(length, std::strlen(latin1)) << id;
        }
        const char* utf8 = "\xc3\xa9t\xc3\xa9 \xe2\x82\xac";
        ASSERT_EQ(gui_control_set_text(ID_LABEL, utf8), GUI_ERROR_NONE);
        EXPECT_EQ(text_of(ID_LABEL), utf8);
        ASSERT_EQ(gui_window_set_title("Titre \xe9"), GUI_ERROR_NONE);
        GuiTestWindow window;
        ASSERT_TRUE(gui_test_window(&window));
        EXPECT_STREQ(window.title, "Titre \xe9");

        // Short buffers get the first size-1 bytes; empty boxes an empty string.
        ASSERT_EQ(gui_control_set_text(ID_EDIT, "abcdef"), GUI_ERROR_NONE);
        char small[4] = {'x', 'x', 'x', 'x'};
        ASSERT_EQ(gui_control_get_text(ID_EDIT, small, sizeof small), GUI_ERROR_NONE);
        EXPECT_STREQ(small, "abc");
        ASSERT_EQ(gui_control_set_text(ID_EDIT, ""), GUI_ERROR_NONE);
        EXPECT_EQ(text_of(ID_EDIT), "");
        EXPECT_EQ(gui_control_get_text_length(ID_PROGRESS, &length), GUI_ERROR_NONE);
        EXPECT_EQ(length, 0u);

        // Typing: Enter in a multi-line box gives CR LF; a number box takes digits only.
        ASSERT_EQ(gui_control_set_text(ID_MULTI, ""), GUI_ERROR_NONE);
        ASSERT_TRUE(gui_test_type(ID_MULTI, "ab\ncd\n"));
        EXPECT_EQ(text_of(ID_MULTI), "ab\r\ncd\r\n");
        ASSERT_TRUE(gui_test_type(ID_NUMBER, "12x3"));
        EXPECT_EQ(text_of(ID_NUMBER), "123");
    });
}

TEST(Controls, ClicksProduceEventsAndOnlyCheckBoxesChangeThemselves) {
    std::atomic<uint32_t> state_in_handler{99};
    recorder.on_event = [&](uint32_t id) {
        CheckState state = 0;
        if (id == ID_CHECK && gui_checkbox_get(ID_CHECK, &state) == GUI_ERROR_NONE) {
            state_in_handler = state;
        }
    };
    session_run(every_kind(), [&] {
        CheckState state = 0;
        // Radio buttons: a click is only an event, checked or not.
        ASSERT_TRUE(gui_test_click(ID_RADIO));
        EXPECT_EQ(recorder.take_events(), std::vector<uint32_t>{ID_RADIO});
        ASSERT_EQ(gui_radio_button_get(ID_RADIO, &state), GUI_ERROR_NONE);
        EXPECT_EQ(state, GUI_UNCHECKED);
        ASSERT_EQ(gui_radio_button_set(ID_RADIO, GUI_CHECKED), GUI_ERROR_NONE);
        ASSERT_TRUE(gui_test_click(ID_RADIO));
        EXPECT_EQ(recorder.take_events(), std::vector<uint32_t>{ID_RADIO});
        ASSERT_EQ(gui_radio_button_get(ID_RADIO, &state), GUI_ERROR_NONE);
        EXPECT_EQ(state, GUI_CHECKED);
        ASSERT_EQ(gui_radio_button_set(ID_RADIO, GUI_UNCHECKED), GUI_ERROR_NONE);
        ASSERT_EQ(gui_radio_button_get(ID_RADIO, &state), GUI_ERROR_NONE);
        EXPECT_EQ(state, GUI_UNCHECKED);
        ASSERT_EQ(gui_radio_button_set(ID_RADIO, 5), GUI_ERROR_NONE);
        ASSERT_EQ(gui_radio_button_get(ID_RADIO, &state), GUI_ERROR_NONE);
        EXPECT_EQ(state, GUI_INDETERMINATE);

        // Check boxes are toggled before the handler sees the event; indeterminate becomes
        // checked.
        ASSERT_TRUE(gui_test_click(ID_CHECK));
        EXPECT_EQ(state_in_handler.load(), GUI_CHECKED);
        ASSERT_TRUE(gui_test_click(ID_CHECK));
        EXPECT_EQ(state_in_handler.load(), GUI_UNCHECKED);
        ASSERT_EQ(gui_checkbox_set(ID_CHECK, GUI_INDETERMINATE), GUI_ERROR_NONE);
        ASSERT_TRUE(gui_test_click(ID_CHECK));
        EXPECT_EQ(state_in_handler.load(), GUI_CHECKED);
        ASSERT_EQ(gui_checkbox_get(ID_CHECK, &state), GUI_ERROR_NONE);
        EXPECT_EQ(state, GUI_CHECKED);
        EXPECT_EQ(recorder.take_events(), (std::vector<uint32_t>{ID_CHECK, ID_CHECK, ID_CHECK}));

        // Setting states, selecting and filling a combo box make no events; the user's choice
        // does, once per change.
        ASSERT_EQ(gui_checkbox_set(ID_CHECK, GUI_UNCHECKED), GUI_ERROR_NONE);
        ASSERT_EQ(gui_combobox_add(ID_COMBO, "one"), GUI_ERROR_NONE);
        ASSERT_EQ(gui_combobox_add(ID_COMBO, "two"), GUI_ERROR_NONE);
        ASSERT_EQ(gui_combobox_select(ID_COMBO, 0), GUI_ERROR_NONE);
        ASSERT_EQ(gui_combobox_delete(ID_COMBO, 0), GUI_ERROR_NONE);
        ASSERT_TRUE(gui_test_combobox_choose(ID_COMBO, 0));
        ASSERT_TRUE(gui_test_combobox_choose(ID_COMBO, 0));
        EXPECT_EQ(recorder.take_events(), std::vector<uint32_t>{ID_COMBO});

        // Kinds without events, and a disabled button, stay silent.
        for (uint32_t id : {ID_LABEL, ID_GROUP, ID_EDIT, ID_PROGRESS}) {
            ASSERT_TRUE(gui_test_click(id));
        }
        ASSERT_EQ(gui_control_enable(ID_BUTTON, 0), GUI_ERROR_NONE);
        ASSERT_TRUE(gui_test_click(ID_BUTTON));
        ASSERT_EQ(gui_control_enable(ID_BUTTON, 1), GUI_ERROR_NONE);
        EXPECT_TRUE(recorder.take_events().empty());
        ASSERT_TRUE(gui_test_click(ID_BUTTON));
        EXPECT_EQ(recorder.take_events(), std::vector<uint32_t>{ID_BUTTON});
        std::lock_guard<std::mutex> lock(recorder.mutex);
        for (std::thread::id thread : recorder.event_threads) {
            EXPECT_EQ(thread, session_gui_thread());
        }
    });
    recorder.on_event = nullptr;
}

TEST(Controls, StylesFontsAndProgress) {
    session_run(every_kind(), [] {
        GuiTestControl control;
        ASSERT_TRUE(gui_test_control(ID_MULTI, &control));
        EXPECT_TRUE(control.fixed_font && control.multi_line);
        EXPECT_EQ(control.font_pixels, 16);
        EXPECT_TRUE(std::string(control.font_family) == "Courier New" ||
                    std::string(control.font_family) == "Monospace")
            << control.font_family;
        ASSERT_TRUE(gui_test_control(ID_BUTTON, &control));
        EXPECT_FALSE(control.fixed_font);
        EXPECT_STRNE(control.font_family, "Courier New");
        ASSERT_TRUE(gui_test_control(ID_RIGHT_LABEL, &control));
        EXPECT_EQ(control.alignment, 2); // right wins over centre
        ASSERT_TRUE(gui_test_control(ID_LEFT_EDIT, &control));
        EXPECT_EQ(control.alignment, 0); // left wins over right
        EXPECT_FALSE(control.multi_line);
        ASSERT_TRUE(gui_test_control(ID_LEFT_CHECK, &control));
        EXPECT_FALSE(control.text_right_of_box);
        ASSERT_TRUE(gui_test_control(ID_CHECK, &control));
        EXPECT_TRUE(control.text_right_of_box);

        uint32_t value = 0;
        ASSERT_EQ(gui_progressbar_set(ID_PROGRESS, 40), GUI_ERROR_NONE);
        ASSERT_EQ(gui_progressbar_get(ID_PROGRESS, &value), GUI_ERROR_NONE);
        EXPECT_EQ(value, 40u);
        ASSERT_EQ(gui_progressbar_set(ID_PROGRESS, 250), GUI_ERROR_NONE);
        ASSERT_EQ(gui_progressbar_get(ID_PROGRESS, &value), GUI_ERROR_NONE);
        EXPECT_EQ(value, 100u);
        ASSERT_EQ(gui_progressbar_state(ID_PROGRESS, GUI_PROGRESS_MARQUEE), GUI_ERROR_NONE);
        ASSERT_TRUE(gui_test_control(ID_PROGRESS, &control));
        EXPECT_TRUE(control.marquee);
        ASSERT_EQ(gui_progressbar_state(ID_PROGRESS, GUI_PROGRESS_ERROR), GUI_ERROR_NONE);
        ASSERT_TRUE(gui_test_control(ID_PROGRESS, &control));
        EXPECT_FALSE(control.marquee);
        EXPECT_EQ(gui_progressbar_state(ID_PROGRESS, 0), GUI_ERROR_NONE);
    });
}

TEST(Window, SizeStyleAndPlacement) {
    SessionOptions options = session_defaults();
    session_run(options, [] {
        GuiTestWindow window;
        ASSERT_TRUE(gui_test_window(&window));
        // The client area holds the application's layout, which reaches 588 x 524.
        EXPECT_GE(window.client_width, 588);
        EXPECT_GE(window.client_height, 524);
        // Without a window manager (as under Xvfb here) there is no frame: the outer size is
        // the described one exactly.
        EXPECT_EQ(window.width, 600);
        EXPECT_EQ(window.height, 556);
        EXPECT_FALSE(window.resizable);
        EXPECT_TRUE(window.sensitive);
        EXPECT_TRUE(window.accepts_drops);
        EXPECT_STREQ(window.title, "Quarnel test");
        EXPECT_STREQ(window.icon_name, "application-x-executable"); // icon 0
        EXPECT_EQ(window.x, 20);
        EXPECT_EQ(window.y, 30);
        ASSERT_EQ(gui_window_move(50, 60), GUI_ERROR_NONE);
        ASSERT_EQ(gui_window_resize(500, 400), GUI_ERROR_NONE);
        gui_test_settle(WAIT_MS);
        auto moved = [](void*) -> int {
            GuiTestWindow w;
            return gui_test_window(&w) && w.x == 50 && w.y == 60 && w.width == 500;
        };
        EXPECT_TRUE(gui_test_wait(moved, nullptr, WAIT_MS));
    });
}

TEST(Threads, OtherThreadsAreServedWhileAMessageBoxIsOpen) {
    session_run(every_kind(), [] {
        // A search-like thread asks a question; the GUI thread sits in the box's loop.
        std::atomic<int> asked{-1};
        NotificationAnswer answer = GUI_ANSWER_OK;
        std::thread asker([&] {
            asked = static_cast<int>(
                gui_notification("Go on?", "Question", GUI_NOTIFY_YES_NO, &answer));
        });
        GuiTestModal modal;
        ASSERT_TRUE(gui_test_modal_wait(&modal, WAIT_MS));
        EXPECT_EQ(modal.kind, GUI_TEST_MODAL_MESSAGE);
        EXPECT_STREQ(modal.text, "Go on?");
        EXPECT_STREQ(modal.caption, "Question");
        EXPECT_EQ(modal.type, GUI_NOTIFY_YES_NO);

        // Meanwhile this thread's calls are carried to the GUI thread and served, one of them
        // a second message box on top of the first.
        EXPECT_EQ(gui_control_set_text(ID_EDIT, "served"), GUI_ERROR_NONE);
        EXPECT_EQ(text_of(ID_EDIT), "served");
        EXPECT_EQ(gui_control_create(GUI_BUTTON, "Late", 0, 200, 400, 400, 60, 20), GUI_ERROR_NONE);
        std::thread second([] { gui_notification("Inner", "Note", GUI_NOTIFY_OK); });
        auto two_open = [](void*) -> int {
            GuiTestModal m;
            return gui_test_modal_wait(&m, WAIT_MS) && m.depth == 2;
        };
        ASSERT_TRUE(gui_test_wait(two_open, nullptr, WAIT_MS));
        ASSERT_TRUE(gui_test_message_answer(GUI_ANSWER_OK));
        second.join();
        // The main window stays usable: the box has no owner.
        GuiTestWindow window;
        ASSERT_TRUE(gui_test_window(&window));
        EXPECT_TRUE(window.sensitive);
        ASSERT_TRUE(gui_test_click(ID_BUTTON));
        EXPECT_EQ(recorder.take_events(), std::vector<uint32_t>{ID_BUTTON});
        EXPECT_EQ(asked.load(), -1);

        ASSERT_FALSE(gui_test_message_answer(GUI_ANSWER_CANCEL)); // no such button
        ASSERT_TRUE(gui_test_message_answer(GUI_ANSWER_NO));
        asker.join();
        EXPECT_EQ(asked.load(), 0);
        EXPECT_EQ(answer, GUI_ANSWER_NO);
    });
}

static std::atomic<int> in_place_result{-1};
static std::atomic<int> in_place_thread_ok{0};

static void make_control_in_place(void*) {
    // On the GUI thread the marshalled operations run at once, without the loop.
    in_place_thread_ok = std::this_thread::get_id() == session_gui_thread();
    ErrorCode created = gui_control_create(GUI_LABEL, "in place", 0, 300, 0, 300, 80, 18);
    ErrorCode set = gui_control_set_text(300, "changed in place");
    in_place_result = static_cast<int>(created | set);
}

TEST(Threads, CallsOnTheGuiThreadRunInPlace) {
    recorder.on_event = [](uint32_t id) {
        if (id == ID_BUTTON) {
            // A handler's own call into the toolkit completes without the loop.
            gui_control_set_text(ID_LABEL, "from the handler");
        }
    };
    session_run(every_kind(), [] {
        ASSERT_TRUE(gui_test_on_gui_thread(make_control_in_place, nullptr));
        EXPECT_TRUE(in_place_thread_ok.load());
        EXPECT_EQ(in_place_result.load(), 0);
        EXPECT_EQ(text_of(300), "changed in place");
        ASSERT_TRUE(gui_test_click(ID_BUTTON));
        EXPECT_EQ(text_of(ID_LABEL), "from the handler");
    });
    recorder.on_event = nullptr;
}

TEST(Notifications, MessageBoxesGiveTheirAnswers) {
    session_run(every_kind(), [] {
        struct Case {
            NotificationType type;
            uint32_t press;
            NotificationAnswer expected;
        };
        const Case cases[] = {
            {GUI_NOTIFY_YES_NO_CANCEL, GUI_TEST_CLOSE_BUTTON, GUI_ANSWER_CANCEL},
            {GUI_NOTIFY_YES_NO_CANCEL, GUI_ANSWER_YES, GUI_ANSWER_YES},
            {GUI_NOTIFY_OK_CANCEL, GUI_ANSWER_OK, GUI_ANSWER_OK},
            {GUI_NOTIFY_RETRY_CANCEL, GUI_ANSWER_RETRY, GUI_ANSWER_RETRY},
            {GUI_NOTIFY_ABORT_RETRY_IGNORE, GUI_ANSWER_IGNORE, GUI_ANSWER_IGNORE},
            {GUI_NOTIFY_CANCEL_TRY_CONTINUE, GUI_ANSWER_TRY_AGAIN, GUI_ANSWER_TRY_AGAIN},
            {GUI_NOTIFY_CANCEL_TRY_CONTINUE, GUI_ANSWER_CONTINUE, GUI_ANSWER_CONTINUE},
        };
        for (const Case& c : cases) {
            NotificationAnswer answer = 77;
            std::thread asker([&] { gui_notification("Text", "Caption", c.type, &answer); });
            GuiTestModal modal;
            ASSERT_TRUE(gui_test_modal_wait(&modal, WAIT_MS));
            EXPECT_EQ(modal.type, c.type);
            ASSERT_TRUE(gui_test_message_answer(c.press)) << c.type << " " << c.press;
            asker.join();
            EXPECT_EQ(answer, c.expected) << c.type << " " << c.press;
        }
        // A Yes/No question cannot be closed without an answer.
        NotificationAnswer answer = 77;
        std::thread asker([&] { gui_notification("?", "Q", GUI_NOTIFY_YES_NO, &answer); });
        GuiTestModal modal;
        ASSERT_TRUE(gui_test_modal_wait(&modal, WAIT_MS));
        EXPECT_FALSE(gui_test_message_answer(GUI_TEST_CLOSE_BUTTON));
        ASSERT_TRUE(gui_test_message_answer(GUI_ANSWER_YES));
        asker.join();
        EXPECT_EQ(answer, GUI_ANSWER_YES);

        // Argument checks come before anything is shown.
        EXPECT_EQ(gui_notification(nullptr, "c", GUI_NOTIFY_OK), GUI_ERROR_NULL_POINTER);
        EXPECT_EQ(gui_notification("t", "c", GUI_NOTIFY_YES_NO), GUI_ERROR_NULL_POINTER);
        EXPECT_EQ(gui_notification("t", "c", 8, &answer), GUI_ERROR_INITIALIZATION);
        EXPECT_STREQ(trace_context()->gui_function, "gui_notification");

        // An OK box writes no answer; automatic answers are logged like the others.
        gui_test_message_autoanswer(1, GUI_ANSWER_OK);
        answer = 77;
        EXPECT_EQ(gui_notification("Only \xe9 OK", "Note", GUI_NOTIFY_OK, &answer), GUI_ERROR_NONE);
        EXPECT_EQ(answer, 77u);
        gui_test_message_autoanswer(0, GUI_ANSWER_OK);
        GuiTestModal log[16];
        uint32_t shown = gui_test_message_log(log, 16);
        ASSERT_EQ(shown, 9u);
        EXPECT_STREQ(log[8].text, "Only \xe9 OK");
    });
}

TEST(Notifications, TextPopUpBlocksTheMainWindowUntilClosed) {
    std::string dir = temp_dir();
    std::string readme = dir + "/readme.txt";
    write_file(readme, "Quarnel help\r\nline two \xe9\0after the NUL", 36);
    std::string empty = dir + "/empty.txt";
    write_file(empty, "", 0);
    session_run(every_kind(), [&] {
        EXPECT_EQ(gui_notification((dir + "/missing.txt").c_str(), "Readme", GUI_NOTIFY_TEXT_FILE),
                  GUI_ERROR_INITIALIZATION);
        EXPECT_EQ(gui_notification(empty.c_str(), "Readme", GUI_NOTIFY_TEXT_FILE),
                  GUI_ERROR_INITIALIZATION);
        GuiTestWindow window;
        ASSERT_TRUE(gui_test_window(&window));
        EXPECT_TRUE(window.sensitive);
        GuiTestPopup popup;
        EXPECT_FALSE(gui_test_popup(&popup));

        ASSERT_EQ(gui_notification(readme.c_str(), "Readme", GUI_NOTIFY_TEXT_FILE), GUI_ERROR_NONE);
        gui_test_settle(WAIT_MS);
        ASSERT_TRUE(gui_test_popup(&popup));
        ASSERT_TRUE(gui_test_window(&window));
        EXPECT_EQ(popup.x - window.x, 100);
        EXPECT_EQ(popup.y - window.y, 78);
        EXPECT_EQ(popup.width, 400);
        EXPECT_EQ(popup.height, 400);
        EXPECT_STREQ(popup.title, "Readme");
        EXPECT_STREQ(popup.text, "Quarnel help\r\nline two \xe9");
        EXPECT_TRUE(popup.read_only && popup.fixed_font);
        EXPECT_FALSE(window.sensitive);

        // While it is open the window takes no clicks and cannot be closed.
        ASSERT_TRUE(gui_test_click(ID_BUTTON));
        ASSERT_TRUE(gui_test_close());
        ASSERT_TRUE(gui_test_window(&window));
        EXPECT_TRUE(recorder.take_events().empty());

        ASSERT_TRUE(gui_test_popup_close());
        EXPECT_FALSE(gui_test_popup(&popup));
        ASSERT_TRUE(gui_test_window(&window));
        EXPECT_TRUE(window.sensitive);
        ASSERT_TRUE(gui_test_click(ID_BUTTON));
        EXPECT_EQ(recorder.take_events(), std::vector<uint32_t>{ID_BUTTON});
    });
}

// Opens a file dialog from a button's handler, as the application does.
struct DialogCall {
    int save = 0;
    const char* file_name = nullptr;
    const char* extension = nullptr;
    const char* filter = nullptr;
    ErrorCode result = 99;
    std::string path;
    bool null_path = false;
};
static DialogCall dialog_call;

static void open_dialog_on_click(uint32_t id) {
    if (id != ID_BUTTON) {
        return;
    }
    const char* path = "untouched";
    DialogCall& c = dialog_call;
    c.result =
        c.save ? gui_dialog_save_file(nullptr, c.file_name, nullptr, c.extension, c.filter, &path)
               : gui_dialog_open_file(nullptr, c.file_name, nullptr, c.extension, c.filter, &path);
    c.null_path = path == nullptr;
    c.path = path ? path : "";
}

static const char elf_filter[] = "ELF Files (*.elf, *.##)\0*.elf;*.00;*.45;*.99\0All Files\0*.*\0";

TEST(Dialogs, OpenAndSaveFollowTheWindowsRules) {
    std::string dir = temp_dir();
    std::string game = dir + "/GAME.ELF";
    write_file(game, "x", 1);
    std::string taken = dir + "/taken.txt";
    write_file(taken, "x", 1);
    char* before = getcwd(nullptr, 0);
    recorder.on_event = open_dialog_on_click;
    session_run(every_kind(), [&] {
        dialog_call = DialogCall{};
        dialog_call.filter = elf_filter;
        ASSERT_TRUE(gui_test_click(ID_BUTTON));
        GuiTestModal modal;
        ASSERT_TRUE(gui_test_modal_wait(&modal, WAIT_MS));
        EXPECT_EQ(modal.kind, GUI_TEST_MODAL_OPEN);
        EXPECT_EQ(modal.filter_count, 2u);
        EXPECT_EQ(gui_test_file_filter_accepts("SLUS_123.45"), 1);
        EXPECT_EQ(gui_test_file_filter_accepts("GAME.ELF"), 1);
        EXPECT_EQ(gui_test_file_filter_accepts("a.100"), 0);
        // A missing file is refused with a message, and the dialog stays.
        ASSERT_TRUE(gui_test_file_answer((dir + "/missing.elf").c_str()));
        ASSERT_TRUE(gui_test_modal_wait(&modal, WAIT_MS));
        EXPECT_EQ(modal.kind, GUI_TEST_MODAL_MESSAGE);
        EXPECT_NE(std::strstr(modal.text, "File not found"), nullptr);
        ASSERT_TRUE(gui_test_message_answer(GUI_ANSWER_OK));
        ASSERT_TRUE(gui_test_modal_wait(&modal, WAIT_MS));
        EXPECT_EQ(modal.kind, GUI_TEST_MODAL_OPEN);
        ASSERT_TRUE(gui_test_file_answer(game.c_str()));
        EXPECT_EQ(dialog_call.result, GUI_ERROR_NONE);
        EXPECT_EQ(dialog_call.path, game);

        // Cancel: success with a null path.
        ASSERT_TRUE(gui_test_click(ID_BUTTON));
        ASSERT_TRUE(gui_test_modal_wait(&modal, WAIT_MS));
        ASSERT_TRUE(gui_test_file_answer(nullptr));
        EXPECT_EQ(dialog_call.result, GUI_ERROR_NONE);
        EXPECT_TRUE(dialog_call.null_path);

        // Save: the proposed name, the default extension added, overwriting asked for.
        dialog_call = DialogCall{};
        dialog_call.save = 1;
        dialog_call.file_name = "0A1B2C3D.PNACH";
        dialog_call.extension = ".txt";
        ASSERT_TRUE(gui_test_click(ID_BUTTON));
        ASSERT_TRUE(gui_test_modal_wait(&modal, WAIT_MS));
        EXPECT_EQ(modal.kind, GUI_TEST_MODAL_SAVE);
        EXPECT_STREQ(modal.file_name, "0A1B2C3D.PNACH");
        ASSERT_TRUE(gui_test_file_answer((dir + "/taken").c_str()));
        ASSERT_TRUE(gui_test_modal_wait(&modal, WAIT_MS));
        EXPECT_EQ(modal.kind, GUI_TEST_MODAL_MESSAGE);
        EXPECT_NE(std::strstr(modal.text, "taken.txt already exists"), nullptr);
        ASSERT_TRUE(gui_test_message_answer(GUI_ANSWER_NO));
        ASSERT_TRUE(gui_test_modal_wait(&modal, WAIT_MS));
        EXPECT_EQ(modal.kind, GUI_TEST_MODAL_SAVE);
        ASSERT_TRUE(gui_test_file_answer(taken.c_str()));
        ASSERT_TRUE(gui_test_modal_wait(&modal, WAIT_MS));
        ASSERT_TRUE(gui_test_message_answer(GUI_ANSWER_YES));
        EXPECT_EQ(dialog_call.result, GUI_ERROR_NONE);
        EXPECT_EQ(dialog_call.path, taken);
        ASSERT_TRUE(gui_test_click(ID_BUTTON));
        ASSERT_TRUE(gui_test_modal_wait(&modal, WAIT_MS));
        ASSERT_TRUE(gui_test_file_answer((dir + "/new").c_str()));
        EXPECT_EQ(dialog_call.path, dir + "/new.txt");

        EXPECT_EQ(gui_dialog_open_file(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
                  GUI_ERROR_NULL_POINTER);
    });
    recorder.on_event = nullptr;
    char* after = getcwd(nullptr, 0);
    EXPECT_STREQ(before, after);
    std::free(before);
    std::free(after);
}

TEST(Drops, LocalFilesArriveInOrderAndBadDropsAreDiscarded) {
    session_run(every_kind(), [] {
        ASSERT_TRUE(gui_test_drop("file:///tmp/a.elf\r\n# a comment\r\nfile:///tmp/b%20c.elf\r\n"
                                  "file://localhost/tmp/d.elf\r\n"));
        ASSERT_TRUE(gui_test_drop("file:///tmp/x.elf\r\nhttp://example.invalid/y.elf\r\n"));
        ASSERT_TRUE(gui_test_drop("file:///tmp/%ZZ\r\n"));
        std::lock_guard<std::mutex> lock(recorder.mutex);
        ASSERT_EQ(recorder.drops.size(), 1u);
        EXPECT_EQ(recorder.drops[0],
                  (std::vector<std::string>{"/tmp/a.elf", "/tmp/b c.elf", "/tmp/d.elf"}));
    });
    SessionOptions no_drops = every_kind();
    no_drops.drops = false;
    session_run(no_drops, [] {
        EXPECT_FALSE(gui_test_drop("file:///tmp/a.elf\r\n"));
        GuiTestWindow window;
        ASSERT_TRUE(gui_test_window(&window));
        EXPECT_FALSE(window.accepts_drops);
    });
    session_run(every_kind(), [] {
        gui_window_accept_files(0);
        EXPECT_FALSE(gui_test_drop("file:///tmp/a.elf\r\n"));
        gui_window_accept_files(1);
        EXPECT_TRUE(gui_test_drop("file:///tmp/a.elf\r\n"));
    });
}

static std::atomic<int> set_text_at_close{-1};

TEST(Shutdown, ClosingRunsTheHandlersThenReleasesInOrder) {
    recorder.on_event = [](uint32_t id) {
        if (id == 0) {
            // The window still exists while the handler hears of the closing.
            set_text_at_close = static_cast<int>(gui_control_set_text(ID_LABEL, "closing"));
        }
    };
    EXPECT_EQ(session_run(every_kind(), [] {}), 0);
    EXPECT_EQ(set_text_at_close.load(), 0);
    EXPECT_EQ(recorder.take_events(), std::vector<uint32_t>{0});
    EXPECT_STREQ(gui_test_shutdown_steps(), "destroy loop application font controls");
    recorder.on_event = nullptr;

    // After the window is gone, calls fail at once instead of waiting for it.
    char buffer[8];
    EXPECT_EQ(gui_control_get_text(ID_LABEL, buffer, sizeof buffer), GUI_ERROR_INITIALIZATION);
    EXPECT_EQ(gui_notification("late", "late", GUI_NOTIFY_OK), GUI_ERROR_INITIALIZATION);

    // A close handler that says no keeps the window; one that says yes lets it go.
    SessionOptions guarded = every_kind();
    guarded.close_handler = true;
    recorder.close_result = 1;
    session_run(guarded, [] {
        ASSERT_TRUE(gui_test_close());
        GuiTestWindow window;
        EXPECT_TRUE(gui_test_window(&window));
        recorder.close_result = 0;
        ASSERT_TRUE(gui_test_close());
        EXPECT_FALSE(gui_test_window(&window));
    });
    EXPECT_EQ(recorder.closes, 2);
    EXPECT_TRUE(recorder.take_events().empty());

    // An application that fails to set up ends the program without a body.
    SessionOptions failing = every_kind();
    failing.setup = [] { return 1; };
    bool body_ran = false;
    EXPECT_EQ(session_run(failing, [&] { body_ran = true; }), 0);
    EXPECT_FALSE(body_ran);
    EXPECT_EQ(gui_test_entry_result(), 1);
    EXPECT_STREQ(gui_test_shutdown_steps(), "loop destroy application font controls");
}

TEST(Shutdown, ACallStartedAsTheWindowClosesFailsInsteadOfWaiting) {
    std::atomic<int> result{-1};
    std::thread waiter;
    recorder.on_event = [&](uint32_t id) {
        if (id == 0) {
            // Whenever this thread reaches the GUI thread's queue, the window is on its way out:
            // the call must come back with an error, never hang.
            waiter = std::thread([&] { result = gui_control_set_text(ID_LABEL, "too late"); });
        }
    };
    session_run(every_kind(), [] {});
    recorder.on_event = nullptr;
    waiter.join();
    EXPECT_EQ(result.load(), static_cast<int>(GUI_ERROR_INITIALIZATION));
}

TEST(Taskbar, WithoutALauncherBothOperationsFailWithTheirCallNames) {
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    std::string runtime = temp_dir();
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    session_run(every_kind(), [] {
        TraceContext* trace = trace_context();
        EXPECT_EQ(gui_taskbar_progressbar_state(1), GUI_ERROR_SYSTEM_CALL);
        EXPECT_STREQ(trace->system_call, "ITaskbarList3::SetProgressState");
        EXPECT_STREQ(trace->gui_function, "gui_taskbar_progressbar_state");
        EXPECT_EQ(gui_taskbar_progressbar_set(50), GUI_ERROR_SYSTEM_CALL);
        EXPECT_STREQ(trace->system_call, "ITaskbarList3::SetProgressValue");
    });
}

// Real pointer and keyboard input through the X server, where xdotool is there to send it.
static bool x_input(const std::string& arguments) {
    std::string command = "xdotool " + arguments + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

TEST(RealInput, PointerClicksAndTheEnterKey) {
    if (!std::getenv("DISPLAY") || std::system("command -v xdotool >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no X server input here";
    }
    if (sessions_run() > 0) {
        // GTK keeps pointer state across windows of earlier sessions in one process, which can
        // swallow the first real click; ctest runs every test in a process of its own.
        GTEST_SKIP() << "real input is tested in a process of its own";
    }
    session_run(every_kind(), [] {
        auto shown = [](void*) -> int {
            GuiTestWindow w;
            return gui_test_window(&w) && w.shown;
        };
        ASSERT_TRUE(gui_test_wait(shown, nullptr, WAIT_MS));
        GuiTestWindow window;
        ASSERT_TRUE(gui_test_window(&window));
        GuiTestControl radio;
        ASSERT_TRUE(gui_test_control(ID_RADIO, &radio));
        int32_t x = window.x + (window.width - window.client_width) / 2 + radio.x + 8;
        int32_t y = window.y + (window.height - window.client_height) + radio.y + radio.height / 2;
        // The button must have seen the pointer come in before the press counts as its click.
        ASSERT_TRUE(x_input("mousemove --sync " + std::to_string(x) + " " + std::to_string(y)));
        gui_test_settle(WAIT_MS);
        ASSERT_TRUE(x_input("click 1"));
        auto clicked = [](void*) -> int {
            std::lock_guard<std::mutex> lock(recorder.mutex);
            return !recorder.events.empty();
        };
        ASSERT_TRUE(gui_test_wait(clicked, nullptr, WAIT_MS));
        EXPECT_EQ(recorder.take_events(), std::vector<uint32_t>{ID_RADIO});
        CheckState state = GUI_CHECKED;
        ASSERT_EQ(gui_radio_button_get(ID_RADIO, &state), GUI_ERROR_NONE);
        EXPECT_EQ(state, GUI_UNCHECKED);

        GuiTestControl box;
        ASSERT_TRUE(gui_test_control(ID_MULTI, &box));
        x = window.x + (window.width - window.client_width) / 2 + box.x + 20;
        y = window.y + (window.height - window.client_height) + box.y + 10;
        ASSERT_TRUE(x_input("mousemove --sync " + std::to_string(x) + " " + std::to_string(y)));
        gui_test_settle(WAIT_MS);
        ASSERT_TRUE(x_input("click 1 type a"));
        ASSERT_TRUE(x_input("key Return type b"));
        auto typed = [](void*) -> int { return text_of(ID_MULTI) == "a\r\nb"; };
        EXPECT_TRUE(gui_test_wait(typed, nullptr, WAIT_MS)) << text_of(ID_MULTI);
    });
}

TEST(Taskbar, WithASessionBusTheLauncherSignalGoesOut) {
    if (sessions_run() > 0) {
        GTEST_SKIP() << "the bus is looked for once per process; tested in a process of its own";
    }
    FILE* daemon =
        popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null", "r");
    ASSERT_NE(daemon, nullptr);
    char address[512] = "", pid[32] = "";
    bool started =
        std::fgets(address, sizeof address, daemon) && std::fgets(pid, sizeof pid, daemon);
    pclose(daemon);
    if (!started) {
        GTEST_SKIP() << "no dbus-daemon here";
    }
    address[std::strcspn(address, "\n")] = '\0';
    setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);
    session_run(every_kind(), [] {
        EXPECT_EQ(gui_taskbar_progressbar_state(1), GUI_ERROR_NONE);
        EXPECT_EQ(gui_taskbar_progressbar_set(40), GUI_ERROR_NONE);
        EXPECT_EQ(gui_taskbar_progressbar_state(0), GUI_ERROR_NONE);
    });
    std::system(("kill " + std::string(pid)).c_str());
}
