// Error reports in the window: a message box with the report's caption and text.
#pragma once

#include "core/report.h"

// Shows a composed report with gui_notification (OK button only) and waits until it is closed.
void error_display_show(const char* caption, const char* text, const ErrorReport* report);

// Sends every report of this process to error_display_show. Call before anything can fail.
void error_display_install();
