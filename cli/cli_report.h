// quarnel-cli's messages: every failure is one line on standard error that starts with the
// program's name, then names the file involved, if any, and ends with the system's reason.
#pragma once

#include <cstdint>
#include <string>

// Installs the error-report sink that writes a report's message, as one line, to standard
// error, so the core's trace checks read like the command line's own messages.
void cli_report_install();

// Writes "quarnel-cli: `message`" and a line feed to standard error and counts it. Only the
// message's first line is written (the system's messages span two lines in a message box).
void cli_report_message(const char* message);

// Writes a line prepared by cli_report_file_text (or any whole line) and counts it.
void cli_report_line(const std::string& line);

// "quarnel-cli: PATH: MESSAGE (REASON)": the line for a failure about a file. `reason` null or
// empty leaves out the parenthesis. Safe from any thread.
std::string cli_report_file_text(const char* path, const char* message, const char* reason);

// Like cli_report_file_text, with the system's text for `system_error` as the reason (none
// when it is 0).
std::string cli_report_system_text(const char* path, const char* message, uint32_t system_error);

// Writes the line cli_report_file_text gives, and counts it.
void cli_report_file(const char* path, const char* message, const char* reason);

// The number of messages written so far, by the sink or by cli_report_message: a step that
// failed after its own report has been written adds no second line.
unsigned cli_report_count();
