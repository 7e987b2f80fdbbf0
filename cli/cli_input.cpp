#include "cli/cli_input.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/cli_report.h"
#include "core/file_io.h"

namespace {

// Standard input cannot be sized beforehand: it is read in pieces into a growing buffer.
char* stdin_read_all() {
    size_t capacity = 65536;
    size_t length = 0;
    char* buffer = static_cast<char*>(std::malloc(capacity));
    if (!buffer) {
        cli_report_message("Error allocating memory for file");
        return nullptr;
    }
    for (;;) {
        if (capacity - length < 2) {
            // Pattern texts beyond 2 GiB lie outside what the core handles, as for files.
            if (capacity >= (size_t(1) << 31)) {
                std::free(buffer);
                cli_report_message("Error reading file");
                return nullptr;
            }
            char* grown = static_cast<char*>(std::realloc(buffer, capacity * 2));
            if (!grown) {
                std::free(buffer);
                cli_report_message("Error allocating memory for file");
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
        cli_report_message("Error reading file");
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
    // load_file reports its own failures through the installed sink.
    return load_file(path);
}
