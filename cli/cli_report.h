// quarnel-cli's messages: every failure is one line on standard error.
#pragma once

// Installs the error-report sink that writes just a report's message, as one line, to
// standard error, so the core's trace checks ("Error opening file", ...) read like the
// command line's own messages.
void cli_report_install();

// Writes `message` and a line feed to standard error and counts it.
void cli_report_message(const char* message);

// Writes `message` up to its first line break, as one line. Used for the system's messages
// that span two lines in a message box.
void cli_report_first_line(const char* message);

// The number of messages written so far, by the sink or by cli_report_message: a step that
// failed after its own report has been written adds no second line.
unsigned cli_report_count();
