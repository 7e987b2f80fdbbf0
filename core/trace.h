// Error codes of the toolkit and the per-thread trace record that both layers write, so that
// an error report can name the application step, the toolkit operation and the system call.
#pragma once

#include <cstdint>

typedef uint32_t ErrorCode;
enum : uint32_t {
    GUI_ERROR_NONE = 0,
    GUI_ERROR_NULL_POINTER = 1,
    GUI_ERROR_INITIALIZATION = 2,
    GUI_ERROR_SYSTEM_CALL = 3,
    GUI_ERROR_MALLOC = 4,
};

// Row 0: the toolkit's unit name "gui"; row k: the text of ErrorCode k.
extern const char gui_error_texts[5][32];

struct TraceContext {
    uint32_t result;             // value of the last trace check's expression
    const char* function;        // application function of the last check
    const char* system_call;     // last failed system call, kept until the next failure
    const char* gui_function;    // toolkit operation entered last (cleared by each check)
    const char (*gui_texts)[32]; // its unit's text table (cleared by each check)
    uint32_t line;               // number of the last check
};

// The calling thread's record; zeroed when the thread starts.
TraceContext* trace_context();

// The calling thread's system error number (errno on POSIX, GetLastError on Windows).
uint32_t system_last_error();
void system_set_last_error(uint32_t error);

// A toolkit operation's entry: records its name and the toolkit's text table.
void trace_gui_enter(const char* gui_function);

// A toolkit operation's failed system call: records its name (and keeps the error number).
ErrorCode trace_gui_system_failure(const char* system_call);
