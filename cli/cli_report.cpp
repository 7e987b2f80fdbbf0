#include "cli/cli_report.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "core/platform/system.h"
#include "core/report.h"

namespace {

std::atomic<unsigned> messages_written{0};

void cli_report_sink(const char* caption, const char*, const ErrorReport* report) {
    cli_report_message(report && report->message ? report->message : caption);
}

} // namespace

void cli_report_install() {
    report_set_sink(cli_report_sink);
}

void cli_report_line(const std::string& line) {
    std::string whole = line + "\n";
    std::fwrite(whole.data(), 1, whole.size(), stderr);
    std::fflush(stderr);
    messages_written++;
}

void cli_report_message(const char* message) {
    cli_report_line("quarnel-cli: " + std::string(message, std::strcspn(message, "\r\n")));
}

std::string cli_report_file_text(const char* path, const char* message, const char* reason) {
    std::string line = std::string("quarnel-cli: ") + path + ": " + message;
    if (reason && *reason) {
        line += std::string(" (") + reason + ")";
    }
    return line;
}

std::string cli_report_system_text(const char* path, const char* message, uint32_t system_error) {
    char reason[256];
    reason[0] = '\0';
    if (system_error != 0) {
        system_error_text_of(system_error, reason, sizeof reason);
    }
    return cli_report_file_text(path, message, reason);
}

void cli_report_file(const char* path, const char* message, const char* reason) {
    cli_report_line(cli_report_file_text(path, message, reason));
}

unsigned cli_report_count() {
    return messages_written;
}
