#include <gtest/gtest.h>

#include <cerrno>

#include "fixtures.h"

namespace {

std::string compose(const ErrorReport& report, std::string* caption = nullptr) {
    char title[1024];
    char text[1024];
    error_report_compose(&report, title, text);
    if (caption) {
        *caption = title;
    }
    return text;
}

TEST(ErrorReport, Forms) {
    std::string caption;
    ErrorReport report{};
    report.message = "Error allocating memory";
    report.unit = "core";
    report.line = 794;
    report.function = "parse_pattern";
    EXPECT_EQ(compose(report, &caption),
              "Error allocating memory\r\n\r\nTrace\r\n\t[core]:parse_pattern()\r\n");
    EXPECT_EQ(caption, "Error 0794");

    report.message = "Error accessing control";
    report.unit = "app";
    report.line = 7;
    report.function = "load_elf";
    report.code = 1;
    report.code_text = gui_error_texts[1];
    report.gui_unit = gui_error_texts[0];
    report.gui_function = "gui_control_set_text";
    const std::string head = "Error accessing control\r\n\r\nTrace\r\n\t[app]:load_elf()\r\n"
                             "\t:[gui]:gui_control_set_text()";
    EXPECT_EQ(compose(report, &caption), head + "\r\n\tNull Pointer Error");
    EXPECT_EQ(caption, "Error 0007");

    report.code = 3;
    report.code_text = gui_error_texts[3];
    report.line = 12345;
    EXPECT_EQ(compose(report, &caption), head + "\r\n\tSystem Call Error"); // last error 0
    EXPECT_EQ(caption, "Error 12345");
    report.system_error = 5;
    report.system_call = "SetDlgItemText";
    report.system_text = "Access is denied.\r\n";
    EXPECT_EQ(compose(report),
              head + ":SetDlgItemText()\r\n\tSystem Call Error\r\n\tAccess is denied.\r\n");

    std::string long_message(2000, 'm');
    report.message = long_message.c_str();
    EXPECT_EQ(compose(report), long_message.substr(0, 1023));
}

TEST(ReportError, UsesTheThreadsTraceRecord) {
    ReportCapture reports;
    trace_begin("load_elf");
    trace_gui_enter("gui_control_set_text");
    errno = ENOENT;
    EXPECT_EQ(trace_end_call(trace_gui_system_failure("SetWindowText"), 301, "app", "Failed"), 0);
    EXPECT_EQ(trace_context()->line, 301u);
    // A check clears the toolkit's fields; the failed call's name stays.
    trace_begin("search");
    EXPECT_EQ(trace_context()->gui_function, nullptr);
    EXPECT_STREQ(trace_context()->system_call, "SetWindowText");
    EXPECT_EQ(trace_end_call(GUI_ERROR_NONE, 459, "app", "Failed"), 1);
    EXPECT_EQ(trace_end_condition(0, 595, "app", "Error allocating memory"), 0);

    ASSERT_EQ(reports.entries.size(), 2u);
    EXPECT_EQ(reports.entries[0].caption, "Error 0301");
    EXPECT_EQ(reports.entries[0].text,
              std::string("Failed\r\n\r\nTrace\r\n\t[app]:load_elf()\r\n"
                          "\t:[gui]:gui_control_set_text():SetWindowText()\r\n"
                          "\tSystem Call Error\r\n\t") +
                  strerror(ENOENT));
    EXPECT_EQ(reports.entries[1].text,
              "Error allocating memory\r\n\r\nTrace\r\n\t[app]:search()\r\n");
}

} // namespace
