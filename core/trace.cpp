// Error code texts and the per-thread trace record.
#include "trace.h"

const char gui_error_texts[5][32] = {
    "gui", "Null Pointer Error", "Initialization Error", "System Call Error", "malloc() Error",
};

// Zero-initialised for every thread that touches it, which is what a report of a thread that
// never made a check must see.
static thread_local TraceContext thread_trace;

TraceContext* trace_context() {
    return &thread_trace;
}

void trace_gui_enter(const char* gui_function) {
    thread_trace.gui_function = gui_function;
    thread_trace.gui_texts = gui_error_texts;
}

ErrorCode trace_gui_system_failure(const char* system_call) {
    // The error number stays in the thread's last-error value: nothing here may change it.
    thread_trace.system_call = system_call;
    return GUI_ERROR_SYSTEM_CALL;
}
