// The call gate: counts the operations in progress so that shutdown can free the control table
// only once no other thread is still walking it.
#include <condition_variable>
#include <mutex>

#include "gui/backend.h"

static std::mutex gate_mutex;
static std::condition_variable gate_drained;
static uint32_t gate_inside;
static bool gate_closed;

int gui_gate_enter() {
    std::lock_guard<std::mutex> lock(gate_mutex);
    if (gate_closed) {
        return 0;
    }
    gate_inside++;
    return 1;
}

void gui_gate_leave() {
    std::lock_guard<std::mutex> lock(gate_mutex);
    if (--gate_inside == 0) {
        gate_drained.notify_all();
    }
}

void gui_gate_close() {
    std::unique_lock<std::mutex> lock(gate_mutex);
    gate_closed = true;
    gate_drained.wait(lock, [] { return gate_inside == 0; });
}

void gui_gate_reset() {
    std::lock_guard<std::mutex> lock(gate_mutex);
    gate_closed = false;
}
