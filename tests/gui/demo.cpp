// A window with one control of every kind, for looking at the toolkit (docs/toolkit-demo.png).
#include <cstdio>

#include "gui/gui.h"

static void on_event(uint32_t id) {
    if (id == 4) {
        gui_progressbar_state(6, GUI_PROGRESS_NORMAL);
    }
}

int app_main(uint32_t, char**) {
    // Title, outer size, position, background, icon and the handlers.
    const WindowDescription window = {
        "Quarnel toolkit demo", 600, 556, 0, 0, 5, 0, on_event, nullptr, nullptr};
    gui_window_create(&window);

    int failed = 0;
    failed |= gui_control_create(GUI_GROUPBOX, "Group box", 1, 1, 8, 4, 579, 250) != 0;
    failed |= gui_control_create(GUI_LABEL, "Label: plain text, Latin-1 too: \xe9t\xe9", 1, 2, 20,
                                 26, 300, 18) != 0;
    failed |= gui_control_create(GUI_BUTTON, "Button", 0, 3, 20, 50, 80, 20) != 0;
    failed |= gui_control_create(GUI_CHECKBOX, "Check box", 0, 4, 120, 50, 100, 18) != 0;
    failed |= gui_control_create(GUI_RADIO_BUTTON, "Radio button", 0, 5, 240, 50, 110, 18) != 0;
    failed |= gui_control_create(GUI_PROGRESSBAR, "", 0, 6, 20, 80, 250, 16) != 0;
    failed |= gui_control_create(GUI_COMBOBOX, "", 0, 7, 300, 76, 150, 100) != 0;
    failed |= gui_control_create(GUI_EDIT, "Single-line edit box", 1, 8, 20, 108, 300, 20) != 0;
    failed |= gui_control_create(GUI_EDIT,
                                 "Multi-line edit box, fixed font\r\n0x00100000 1A2B3C4D\r\n"
                                 "0x00100004 00000000",
                                 353, 9, 20, 136, 550, 100) != 0;
    failed |= gui_control_create(GUI_BUTTON, "Search", 0, 10, 235, 504, 60, 20) != 0;
    failed |= gui_control_create(GUI_BUTTON, "Save", 0, 11, 299, 504, 60, 20) != 0;
    failed |= gui_control_create(GUI_LABEL, "Controls reach 588 x 524 in the client area", 2, 12,
                                 240, 480, 348, 18) != 0;
    failed |= gui_combobox_add(7, "Combo box") != 0;
    failed |= gui_combobox_add(7, "Second item") != 0;
    failed |= gui_combobox_select(7, 0) != 0;
    failed |= gui_checkbox_set(4, GUI_CHECKED) != 0;
    failed |= gui_radio_button_set(5, GUI_CHECKED) != 0;
    failed |= gui_progressbar_set(6, 60) != 0;
    if (failed) {
        std::fprintf(stderr, "demo: a control could not be made\n");
    }
    return failed;
}
