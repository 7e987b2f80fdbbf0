// Error reports as the window shows them: the caption names the check, the text the trace.
#include <gtest/gtest.h>

#include <thread>

#include "app_session.h"
#include "core/report.h"

namespace {

// Makes a failing check on a thread of its own (the report waits for its box to be closed)
// and returns the box that it showed.
template <typename Check> GuiTestModal report_shown(Check check) {
    std::thread reporter(check);
    GuiTestModal modal{};
    EXPECT_TRUE(gui_test_modal_wait(&modal, 20000));
    EXPECT_TRUE(gui_test_message_answer(GUI_ANSWER_OK));
    reporter.join();
    return modal;
}

} // namespace

TEST(Report, ShowsTheCheckNumberAndTheTraceInAnOkBox) {
    app_session([] {
        GuiTestModal modal = report_shown([] {
            TRACE_CALL("load_elf", 433, "app", "Error accessing control",
                       gui_control_set_text(3, nullptr));
        });
        EXPECT_EQ(GUI_TEST_MODAL_MESSAGE, modal.kind);
        EXPECT_EQ(GUI_NOTIFY_OK, modal.type);
        EXPECT_STREQ("Error 0433", modal.caption);
        EXPECT_EQ(std::string("Error accessing control\r\n\r\nTrace\r\n\t[app]:load_elf()\r\n"
                              "\t:[gui]:gui_control_set_text()\r\n\t") +
                      gui_error_texts[GUI_ERROR_NULL_POINTER],
                  modal.text);

        modal = report_shown(
            [] { TRACE_CONDITION("search", 595, "app", "Error allocating memory", nullptr); });
        EXPECT_STREQ("Error 0595", modal.caption);
        EXPECT_STREQ("Error allocating memory\r\n\r\nTrace\r\n\t[app]:search()\r\n", modal.text);
    });
}
