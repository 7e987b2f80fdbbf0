// An error report as the window shows it: the caption names the check, the text the trace.
#include <gtest/gtest.h>

#include <thread>

#include "app_session.h"
#include "core/report.h"

TEST(Report, ShowsTheCheckNumberAndTheTraceInAnOkBox) {
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
