// The window as it starts, its exclusive option groups, and how it shows an error report.
#include <algorithm>
#include <thread>

#include "app_session.h"
#include "core/report.h"

// The option groups, each with the member checked at the start first.
static const std::vector<uint32_t> GROUPS[] = {
    {ID_ENDIAN_LITTLE, ID_ENDIAN_BIG},
    {ID_ALIGNMENT_WORD, ID_ALIGNMENT_BYTE, ID_ALIGNMENT_HALF_WORD},
    {ID_RANGE_EXECUTABLE, ID_RANGE_NON_EXECUTABLE},
    {ID_FORMAT_PNACH, ID_FORMAT_ADDRESS, ID_FORMAT_OFFSET, ID_FORMAT_RAW_CODE},
};

static void expect_only_checked(const std::vector<uint32_t>& group, uint32_t checked) {
    for (uint32_t id : group)
        EXPECT_EQ(id == checked, radio_checked(id)) << "radio button " << id;
}

TEST(Window, StartsWithTheDescribedWindowAndEveryControlInPlace) {
    app_session([] {
        GuiTestWindow window{};
        ASSERT_TRUE(gui_test_window(&window));
        EXPECT_STREQ("Quarnel", window.title);
        EXPECT_TRUE(window.accepts_drops);
        // A virtual display may draw no frame; the bottom row ends at 524.
        EXPECT_LE(window.width, 600);
        EXPECT_LE(window.height, 556);
        EXPECT_GE(window.client_width, 588);
        EXPECT_GE(window.client_height, 524);

        const struct {
            uint32_t id;
            ControlKind kind;
            const char* caption;
            int32_t x, y, width, height;
        } rows[] = {
            {ID_BROWSE, GUI_BUTTON, "Browse", 7, 3, 60, 20},
            {ID_HELP, GUI_BUTTON, "Help", 528, 3, 60, 20},
            {ID_FILE_NAME, GUI_LABEL, "Click 'Browse' or drag and drop to open an ELF file", 72, 6,
             260, 18},
            {ID_PATTERN_GROUP, GUI_GROUPBOX, "Pattern", 8, 24, 579, 235},
            {ID_ENDIAN_GROUP, GUI_GROUPBOX, "Endian", 14, 44, 200, 40},
            {ID_ENDIAN_BIG, GUI_RADIO_BUTTON, "Big", 27, 60, 50, 18},
            {ID_ENDIAN_LITTLE, GUI_RADIO_BUTTON, "Little", 80, 60, 60, 18},
            {ID_ALIGNMENT_GROUP, GUI_GROUPBOX, "Alignment", 14, 88, 200, 40},
            {ID_ALIGNMENT_BYTE, GUI_RADIO_BUTTON, "Byte", 27, 104, 45, 18},
            {ID_ALIGNMENT_HALF_WORD, GUI_RADIO_BUTTON, "Half Word", 80, 104, 80, 18},
            {ID_ALIGNMENT_WORD, GUI_RADIO_BUTTON, "Word", 160, 104, 45, 18},
            {ID_RANGE_GROUP, GUI_GROUPBOX, "Range", 14, 132, 200, 40},
            {ID_RANGE_EXECUTABLE, GUI_RADIO_BUTTON, "Executable", 27, 148, 70, 18},
            {ID_RANGE_NON_EXECUTABLE, GUI_RADIO_BUTTON, "Non-Executable", 110, 148, 95, 18},
            {ID_SEARCH_LABEL, GUI_LABEL, "Search", 218, 34, 60, 16},
            {ID_SEARCH_PATTERNS, GUI_EDIT, "", 218, 50, 364, 78},
            {ID_LOAD_SEARCH_PATTERNS, GUI_BUTTON, "Load Search Patterns", 446, 132, 120, 20},
            {ID_REPLACE_LABEL, GUI_LABEL, "Replace", 218, 140, 60, 16},
            {ID_REPLACE_PATTERNS, GUI_EDIT, "", 218, 156, 364, 78},
            {ID_LOAD_REPLACE_PATTERNS, GUI_BUTTON, "Load Replace Patterns", 446, 234, 120, 20},
            {ID_RESULT_GROUP, GUI_GROUPBOX, "Result", 8, 265, 579, 235},
            {ID_FORMAT_GROUP, GUI_GROUPBOX, "Format", 14, 278, 279, 40},
            {ID_FORMAT_ADDRESS, GUI_RADIO_BUTTON, "Address", 27, 294, 60, 18},
            {ID_FORMAT_OFFSET, GUI_RADIO_BUTTON, "Offset", 92, 294, 50, 18},
            {ID_FORMAT_PNACH, GUI_RADIO_BUTTON, "PNACH", 147, 294, 60, 18},
            {ID_FORMAT_RAW_CODE, GUI_RADIO_BUTTON, "RAW Code", 211, 294, 70, 18},
            {ID_RESULT, GUI_EDIT, "", 14, 323, 567, 172},
            {ID_SEARCH, GUI_BUTTON, "Search", 235, 504, 60, 20},
            {ID_SAVE, GUI_BUTTON, "Save", 299, 504, 60, 20},
        };
        for (const auto& row : rows) {
            SCOPED_TRACE(row.id);
            GuiTestControl control{};
            ASSERT_TRUE(gui_test_control(row.id, &control));
            EXPECT_EQ(row.kind, control.kind);
            EXPECT_EQ(row.x, control.x);
            EXPECT_EQ(row.y, control.y);
            // A window system may widen a control to fit its caption in its font, never shrink it.
            EXPECT_GE(control.width, row.width);
            EXPECT_GE(control.height, row.height);
            EXPECT_EQ(row.caption, control_text(row.id));
            EXPECT_TRUE(control.visible && control.enabled);
            // The edit boxes alone are multi-line, editable and in the fixed font.
            EXPECT_EQ(row.kind == GUI_EDIT, control.fixed_font != 0);
            EXPECT_EQ(row.kind == GUI_EDIT, control.multi_line && !control.read_only);
        }
        static_assert(sizeof rows / sizeof rows[0] == 29);
        GuiTestControl none{};
        EXPECT_FALSE(gui_test_control(30, &none));

        for (const auto& group : GROUPS)
            expect_only_checked(group, group[0]);
    });
}

TEST(Window, EachOptionGroupKeepsExactlyOneChoice) {
    app_session([] {
        // Every member in turn, then the last again, which stays checked; then a choice in one
        // group leaves the others alone.
        for (const auto& group : GROUPS)
            for (size_t i = 0; i <= group.size(); ++i) {
                const uint32_t id = group[std::min(i, group.size() - 1)];
                ASSERT_TRUE(gui_test_click(id));
                expect_only_checked(group, id);
            }
        ASSERT_TRUE(gui_test_click(ID_ENDIAN_LITTLE));
        for (const auto& group : GROUPS)
            expect_only_checked(group, &group == &GROUPS[0] ? group[0] : group.back());
    });
}

// Whichever member of its group was clicked.
TEST(Window, AMemberThatCannotBeSetIsReportedUnderItsCheckNumber) {
    const std::pair<uint32_t, const char*> numbers[] = {
        {ID_ENDIAN_BIG, "Error 0345"},           {ID_ENDIAN_LITTLE, "Error 0346"},
        {ID_ALIGNMENT_BYTE, "Error 0354"},       {ID_ALIGNMENT_HALF_WORD, "Error 0355"},
        {ID_ALIGNMENT_WORD, "Error 0356"},       {ID_RANGE_EXECUTABLE, "Error 0363"},
        {ID_RANGE_NON_EXECUTABLE, "Error 0364"}, {ID_FORMAT_ADDRESS, "Error 0373"},
        {ID_FORMAT_OFFSET, "Error 0374"},        {ID_FORMAT_PNACH, "Error 0375"},
        {ID_FORMAT_RAW_CODE, "Error 0376"}};
    app_session([&] {
        for (const auto& [failing, caption] : numbers) {
            SCOPED_TRACE(caption);
            const auto& group = *std::find_if(std::begin(GROUPS), std::end(GROUPS), [&](auto& g) {
                return std::count(g.begin(), g.end(), failing) != 0;
            });
            const uint32_t last = *std::max_element(group.begin(), group.end());
            gui_test_control_fail_next(failing, GUI_ERROR_INITIALIZATION);
            ASSERT_TRUE(gui_test_click(last));
            const GuiTestModal box = expect_dialog(GUI_TEST_MODAL_MESSAGE);
            EXPECT_STREQ(caption, box.caption);
            EXPECT_EQ(0, std::strncmp(box.text, "Error accessing control\r\n", 25)) << box.text;
            ASSERT_TRUE(gui_test_message_answer(GUI_ANSWER_OK));
            ASSERT_TRUE(gui_test_settle(WAIT_MS));
            ASSERT_TRUE(gui_test_click(group[0]));
            expect_only_checked(group, group[0]);
        }
    });
}

TEST(Window, ShowsAnErrorReportWithItsCheckNumberAndTraceInAnOkBox) {
    app_session([] {
        // The report waits for its box to be closed, so the check fails on a thread of its own.
        std::thread reporter([] {
            TRACE_CALL("load_elf", 433, "app", "Error accessing control",
                       gui_control_set_text(3, nullptr));
        });
        const GuiTestModal modal = expect_dialog(GUI_TEST_MODAL_MESSAGE);
        EXPECT_TRUE(gui_test_message_answer(GUI_ANSWER_OK));
        reporter.join();
        EXPECT_EQ(GUI_NOTIFY_OK, modal.type);
        EXPECT_STREQ("Error 0433", modal.caption);
        EXPECT_EQ(std::string("Error accessing control\r\n\r\nTrace\r\n\t[app]:load_elf()\r\n"
                              "\t:[gui]:gui_control_set_text()\r\n\t") +
                      gui_error_texts[GUI_ERROR_NULL_POINTER],
                  modal.text);
    });
}
