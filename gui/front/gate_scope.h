// The call gate around one public operation (see gui_gate_enter).
#pragma once

#include "gui/backend.h"

struct GateScope {
    int open;
    GateScope() : open(gui_gate_enter()) {}
    ~GateScope() {
        if (open) {
            gui_gate_leave();
        }
    }
    GateScope(const GateScope&) = delete;
    GateScope& operator=(const GateScope&) = delete;
};
