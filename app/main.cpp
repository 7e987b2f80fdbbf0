// Quarnel's entry: describes the main window, has the toolkit create it and fills it.
#include "app/controls.h"
#include "app/error_display.h"
#include "app/events.h"
#include "app/help.h"
#include "gui/gui.h"

int app_main(uint32_t argc, char** argv) {
    // Reports go to message boxes from the first check on.
    error_display_install();
    help_set_program_path(argc > 0 && argv != nullptr ? argv[0] : nullptr);

    WindowDescription description{};
    description.title = "Quarnel";
    description.width = 600;
    description.height = 556;
    description.x = -1;
    description.y = 0;
    description.background = 5; // the menu colour, as a class background (colour number + 1)
    description.icon = 100;
    description.on_event = event_handler;
    description.on_drop = dnd_handler;
    description.on_close = nullptr;
    gui_window_create(&description);

    return setup_controls() == 0 ? 0 : 1;
}
