#include "cli/cli_report.h"

#include <cstdio>
#include <cstring>

#include "core/report.h"

namespace {

unsigned messages_written = 0;

void cli_report_sink(const char* caption, const char*, const ErrorReport* report) {
    cli_report_first_line(report && report->message ? report->message : caption);
}

} // namespace

void cli_report_install() {
    report_set_sink(cli_report_sink);
}

void cli_report_message(const char* message) {
    std::fputs(message, stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    messages_written++;
}

void cli_report_first_line(const char* message) {
    size_t length = std::strcspn(message, "\r\n");
    std::fwrite(message, 1, length, stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    messages_written++;
}

unsigned cli_report_count() {
    return messages_written;
}
