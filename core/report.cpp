// Trace checks and the composition of error reports.
#include "report.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

static void sink_to_standard_error(const char* caption, const char* text, const ErrorReport*) {
    fprintf(stderr, "%s\n%s\n", caption, text);
    fflush(stderr);
}

static std::atomic<ErrorSink> current_sink{sink_to_standard_error};

void report_set_sink(ErrorSink sink) {
    current_sink.store(sink ? sink : sink_to_standard_error);
}

// A null text would be undefined behaviour for %s; reports must still come out.
static const char* shown(const char* text) {
    return text ? text : "(null)";
}

// Formats one piece into the free rest of `buffer`; what does not fit is cut, and the
// buffer keeps its terminator. `length` follows the text actually held.
static void piece_append(char* buffer, size_t size, size_t* length, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
static void piece_append(char* buffer, size_t size, size_t* length, const char* format, ...) {
    size_t rest = size - *length;
    if (rest <= 1) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    int written = vsnprintf(buffer + *length, rest, format, arguments);
    va_end(arguments);
    if (written < 0) {
        buffer[*length] = '\0';
        return;
    }
    size_t added = static_cast<size_t>(written);
    *length += added < rest ? added : rest - 1;
}

void error_report_compose(const ErrorReport* report, char caption[1024], char text[1024]) {
    const size_t size = 1024;
    size_t length = 0;
    caption[0] = '\0';
    piece_append(caption, size, &length, "Error %04u", static_cast<unsigned>(report->line));

    length = 0;
    text[0] = '\0';
    if (report->message) {
        piece_append(text, size, &length, "%s\r\n\r\n", report->message);
    }
    piece_append(text, size, &length, "Trace\r\n\t[%s]:%s()\r\n", shown(report->unit),
                 shown(report->function));
    if (report->gui_function) {
        piece_append(text, size, &length, "\t:[%s]:%s()", shown(report->gui_unit),
                     report->gui_function);
        if (report->system_error != 0) {
            piece_append(text, size, &length, ":%s()\r\n\t%s\r\n\t%s", shown(report->system_call),
                         shown(report->code_text), shown(report->system_text));
        } else {
            piece_append(text, size, &length, "\r\n\t%s", shown(report->code_text));
        }
    }
}

void show_error(const ErrorReport* report) {
    char caption[1024];
    char text[1024];
    error_report_compose(report, caption, text);
    current_sink.load()(caption, text, report);
}

void report_error(uint32_t line, const char* unit, const char* message) {
    // Read first: anything below may change the thread's error number.
    uint32_t last_error = system_last_error();
    const TraceContext* context = trace_context();
    ErrorReport report{};
    report.message = message;
    report.unit = unit;
    report.line = line;
    report.function = context->function;
    report.code = context->result;
    if (context->gui_texts) {
        report.gui_unit = context->gui_texts[0];
        // Only the five rows exist; a code beyond them has no text.
        report.code_text =
            report.code <= GUI_ERROR_MALLOC ? context->gui_texts[report.code] : nullptr;
    }
    report.gui_function = context->gui_function;
    bool text_allocated = false;
    if (report.code == GUI_ERROR_SYSTEM_CALL) {
        report.system_call = context->system_call;
        report.system_error = last_error;
        system_set_last_error(last_error);
        report.system_text = system_error_text(&text_allocated);
    }
    show_error(&report);
    if (text_allocated) {
        system_error_text_free(report.system_text);
    }
}

void trace_begin(const char* function) {
    TraceContext* context = trace_context();
    context->function = function;
    context->gui_function = nullptr;
    context->gui_texts = nullptr;
}

int trace_end_call(ErrorCode code, uint32_t line, const char* unit, const char* message) {
    TraceContext* context = trace_context();
    context->result = code;
    context->line = line;
    if (code != GUI_ERROR_NONE) {
        report_error(line, unit, message);
        return 0;
    }
    return 1;
}

int trace_end_condition(uintptr_t value, uint32_t line, const char* unit, const char* message) {
    TraceContext* context = trace_context();
    context->result = value != 0 ? 1 : 0;
    context->line = line;
    if (value == 0) {
        report_error(line, unit, message);
        return 0;
    }
    return 1;
}
