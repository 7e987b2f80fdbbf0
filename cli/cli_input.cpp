#include "cli/cli_input.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/cli_report.h"
#include "core/platform/system.h"
#include "core/trace.h"

namespace {

// Pattern texts and file lists beyond this are refused rather than read: a pipe that never
// ends must not take all memory first.
const uint32_t TEXT_LIMIT = 256u << 20;
const char* const TEXT_LIMIT_REASON = "more than 256 MiB";

const char* const STDIN_NAME = "standard input";

// Standard input cannot be sized beforehand: it is read in pieces into a growing buffer.
char* stdin_read_all() {
    size_t capacity = 65536;
    size_t length = 0;
    char* buffer = static_cast<char*>(std::malloc(capacity));
    if (!buffer) {
        cli_report_file(STDIN_NAME, "Error allocating memory for file", nullptr);
        return nullptr;
    }
    for (;;) {
        if (capacity - length < 2) {
            if (capacity > TEXT_LIMIT) {
                std::free(buffer);
                cli_report_file(STDIN_NAME, "Error reading file", TEXT_LIMIT_REASON);
                return nullptr;
            }
            char* grown = static_cast<char*>(std::realloc(buffer, capacity * 2));
            if (!grown) {
                std::free(buffer);
                cli_report_file(STDIN_NAME, "Error allocating memory for file", nullptr);
                return nullptr;
            }
            buffer = grown;
            capacity *= 2;
        }
        size_t got = std::fread(buffer + length, 1, capacity - length - 1, stdin);
        length += got;
        if (got == 0) {
            break;
        }
    }
    if (std::ferror(stdin)) {
        std::free(buffer);
        cli_report_line(
            cli_report_system_text(STDIN_NAME, "Error reading file", system_last_error()));
        return nullptr;
    }
    buffer[length] = '\0';
    return buffer;
}

} // namespace

char* cli_input_read(const char* path) {
    if (std::strcmp(path, "-") == 0) {
        return stdin_read_all();
    }
    char* data = nullptr;
    uint32_t size = 0;
    uint32_t error = 0;
    int read = system_stream_read_all(path, TEXT_LIMIT, &data, &size, &error);
    if (read == 1) {
        return data;
    }
    switch (read) {
    case -1:
        cli_report_file(path, "Error reading file", TEXT_LIMIT_REASON);
        break;
    case -2:
        cli_report_file(path, "Error reading file", "no program writes to the pipe");
        break;
    case -3:
        cli_report_file(path, "Error allocating memory for file", nullptr);
        break;
    case -4:
        // Opened but unreadable.
        cli_report_line(cli_report_system_text(path, "Error reading file", error));
        break;
    default:
        cli_report_line(cli_report_system_text(path, "Error opening file", error));
        break;
    }
    return nullptr;
}
