#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "core/report.h"
#include "fixtures.h"

namespace {

struct Composed {
    std::string caption;
    std::string text;
};

Composed compose(const ErrorReport& report) {
    char caption[1024];
    char text[1024];
    memset(caption, 'z', sizeof caption);
    memset(text, 'z', sizeof text);
    error_report_compose(&report, caption, text);
    return {caption, text};
}

TEST(ErrorReport, ConditionFormIsFourLines) {
    ErrorReport report{};
    report.message = "Error allocating memory";
    report.unit = "core";
    report.line = 794;
    report.function = "parse_pattern";
    Composed c = compose(report);
    EXPECT_EQ(c.caption, "Error 0794");
    EXPECT_EQ(c.text, "Error allocating memory\r\n\r\nTrace\r\n\t[core]:parse_pattern()\r\n");
}

TEST(ErrorReport, ToolkitCallForms) {
    ErrorReport report{};
    report.message = "Error accessing control";
    report.unit = "app";
    report.line = 7;
    report.function = "load_elf";
    report.code = GUI_ERROR_NULL_POINTER;
    report.code_text = gui_error_texts[1];
    report.gui_unit = gui_error_texts[0];
    report.gui_function = "gui_control_set_text";
    Composed c = compose(report);
    EXPECT_EQ(c.caption, "Error 0007");
    EXPECT_EQ(c.text, "Error accessing control\r\n\r\nTrace\r\n\t[app]:load_elf()\r\n"
                      "\t:[gui]:gui_control_set_text()\r\n\tNull Pointer Error");

    report.code = GUI_ERROR_SYSTEM_CALL;
    report.code_text = gui_error_texts[3];
    report.system_call = "SetDlgItemText";
    report.system_error = 5;
    report.system_text = "Access is denied.\r\n";
    report.line = 12345;
    c = compose(report);
    EXPECT_EQ(c.caption, "Error 12345");
    EXPECT_EQ(c.text, "Error accessing control\r\n\r\nTrace\r\n\t[app]:load_elf()\r\n"
                      "\t:[gui]:gui_control_set_text():SetDlgItemText()\r\n"
                      "\tSystem Call Error\r\n\tAccess is denied.\r\n");

    // The same failure without an error number shows no call and no system text.
    report.system_error = 0;
    c = compose(report);
    EXPECT_EQ(c.text, "Error accessing control\r\n\r\nTrace\r\n\t[app]:load_elf()\r\n"
                      "\t:[gui]:gui_control_set_text()\r\n\tSystem Call Error");
}

TEST(ErrorReport, LongPiecesAreCutAt1023Characters) {
    std::string message(2000, 'm');
    ErrorReport report{};
    report.message = message.c_str();
    report.unit = "app";
    report.function = "search";
    report.gui_function = "gui_control_get_text";
    report.gui_unit = "gui";
    report.code_text = "Null Pointer Error";
    Composed c = compose(report);
    EXPECT_EQ(c.text, message.substr(0, 1023));

    std::string function(1100, 'f');
    report.message = "short";
    report.function = function.c_str();
    c = compose(report);
    EXPECT_EQ(c.text.size(), 1023u);
    EXPECT_EQ(c.text.substr(0, 25), "short\r\n\r\nTrace\r\n\t[app]:ff");
}

TEST(ReportError, TakesTheThreadsTraceRecord) {
    ReportCapture reports;
    trace_begin("load_elf");
    trace_gui_enter("gui_control_set_text");
    errno = ENOENT;
    ErrorCode code = trace_gui_system_failure("SetWindowText");
    EXPECT_EQ(code, GUI_ERROR_SYSTEM_CALL);
    EXPECT_EQ(trace_end_call(code, 301, "app", "Error accessing control"), 0);
    ASSERT_EQ(reports.entries.size(), 1u);
    EXPECT_EQ(reports.entries[0].caption, "Error 0301");
    std::string expected = std::string("Error accessing control\r\n\r\nTrace\r\n\t[app]:load_elf()"
                                       "\r\n\t:[gui]:gui_control_set_text():SetWindowText()\r\n"
                                       "\tSystem Call Error\r\n\t") +
                           strerror(ENOENT);
    EXPECT_EQ(reports.entries[0].text, expected);
    TraceContext* context = trace_context();
    EXPECT_EQ(context->result, GUI_ERROR_SYSTEM_CALL);
    EXPECT_EQ(context->line, 301u);

    // A check clears the toolkit's fields; the failed call's name stays.
    trace_begin("search");
    EXPECT_EQ(context->gui_function, nullptr);
    EXPECT_EQ(context->gui_texts, nullptr);
    EXPECT_STREQ(context->system_call, "SetWindowText");
    EXPECT_EQ(trace_end_call(GUI_ERROR_NONE, 459, "app", "Error accessing control"), 1);
    EXPECT_EQ(trace_end_condition(0, 595, "app", "Error allocating memory"), 0);
    ASSERT_EQ(reports.entries.size(), 2u);
    EXPECT_EQ(reports.entries[1].text,
              "Error allocating memory\r\n\r\nTrace\r\n\t[app]:search()\r\n");

    // System call code with last error 0.
    trace_begin("event_handler");
    trace_gui_enter("gui_dialog_open_file");
    errno = 0;
    trace_end_call(GUI_ERROR_SYSTEM_CALL, 200, "app", "Error accessing control");
    EXPECT_EQ(reports.entries.back().text,
              "Error accessing control\r\n\r\nTrace\r\n\t[app]:event_handler()\r\n"
              "\t:[gui]:gui_dialog_open_file()\r\n\tSystem Call Error");
}

TEST(TraceContext, EachThreadHasItsOwn) {
    trace_begin("main_thread_function");
    TraceContext fresh{};
    std::string first, second;
    bool fresh_was_zero = false;
    std::thread a([&] {
        TraceContext* context = trace_context();
        fresh_was_zero = memcmp(context, &fresh, sizeof fresh) == 0;
        for (int i = 0; i < 10000; ++i) {
            trace_begin("thread_a");
        }
        first = trace_context()->function;
    });
    std::thread b([&] {
        for (int i = 0; i < 10000; ++i) {
            trace_begin("thread_b");
        }
        second = trace_context()->function;
    });
    a.join();
    b.join();
    EXPECT_TRUE(fresh_was_zero);
    EXPECT_EQ(first, "thread_a");
    EXPECT_EQ(second, "thread_b");
    EXPECT_STREQ(trace_context()->function, "main_thread_function");
}

TEST(SystemErrorText, FixedTextsForNoError) {
    errno = 0;
    bool allocated = false;
    const char* text = system_error_text(&allocated);
    EXPECT_STREQ(text, "No Error");
    if (allocated) {
        system_error_text_free(text);
    }
}

} // namespace
