// Check states as the backends store them: 0 unchecked, 1 checked, 2 indeterminate.
#include "gui/backend.h"

uint32_t check_state_to_native(CheckState state) {
    if (state == GUI_CHECKED || state == GUI_UNCHECKED) {
        return state;
    }
    return GUI_INDETERMINATE;
}

CheckState check_state_from_native(uint32_t native) {
    if (native == 1) {
        return GUI_CHECKED;
    }
    if (native == 0) {
        return GUI_UNCHECKED;
    }
    return GUI_INDETERMINATE;
}
