// Trace checks and error reports. A check records the step in the thread's TraceContext; a
// failed check composes a report (caption "Error %04d" and a trace text) and hands it to the
// front end that is linked: a message box in the window, standard error on the command line.
#pragma once

#include <cstdint>

#include "trace.h"

struct ErrorReport {
    const char* message;
    const char* unit;
    uint32_t line;
    const char* function;
    uint32_t code;
    const char* code_text;
    const char* gui_unit;
    const char* gui_function;
    uint32_t system_error;
    const char* system_text;
    const char* system_call;
};

// Where composed reports go. `caption` and `text` are zero-terminated, at most 1023 characters.
typedef void (*ErrorSink)(const char* caption, const char* text, const ErrorReport* report);

// Installs the front end's sink; null restores the default (standard error).
void report_set_sink(ErrorSink sink);

// Assembles the report from the arguments and the calling thread's TraceContext and shows it.
void report_error(uint32_t line, const char* unit, const char* message);

// Composes the caption and text of `report` and hands them to the sink.
void show_error(const ErrorReport* report);

// Composes caption and text into two buffers of 1024 bytes each (cut at 1023 characters).
void error_report_compose(const ErrorReport* report, char caption[1024], char text[1024]);

// The system's text for the calling thread's last error number. Sets *allocated when the text
// must be released with system_error_text_free.
const char* system_error_text(bool* allocated);
void system_error_text_free(const char* text);

// Trace check steps 1-2: names the application function and clears the toolkit's fields.
void trace_begin(const char* function);

// Trace check steps 3-6 for a toolkit call: stores the code, and reports when it is not 0.
// Returns 1 when the step succeeded.
int trace_end_call(ErrorCode code, uint32_t line, const char* unit, const char* message);

// Trace check steps 3-6 in the condition form: reports when `value` is 0. Returns `value != 0`.
int trace_end_condition(uintptr_t value, uint32_t line, const char* unit, const char* message);

// One trace check around a toolkit call or a condition; the begin step runs before `expr`.
#define TRACE_CALL(function, line, unit, message, expr)                                            \
    (trace_begin(function), trace_end_call((expr), (line), (unit), (message)))
#define TRACE_CONDITION(function, line, unit, message, expr)                                       \
    (trace_begin(function), trace_end_condition((uintptr_t)(expr) != 0, (line), (unit), (message)))
