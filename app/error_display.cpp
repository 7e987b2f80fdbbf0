#include "app/error_display.h"

#include "gui/gui.h"

void error_display_show(const char* caption, const char* text, const ErrorReport*) {
    // Nothing is left to tell the user when the box itself cannot be shown.
    gui_notification(text, caption, GUI_NOTIFY_OK);
}

void error_display_install() {
    report_set_sink(error_display_show);
}
