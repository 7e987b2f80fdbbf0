// Splitting a command line into arguments the way the toolkit's entry does on Windows.
#include <cstdlib>
#include <cstring>

#include "gui/backend.h"

static int is_blank(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

char** command_line_to_argv(const char* command_line, uint32_t* argc) {
    size_t length = std::strlen(command_line);
    // Every argument but an empty quoted one needs a character and a separator; an empty quoted
    // one needs two quotes and a separator: (L+2)/2 pointers and the closing null are enough.
    size_t slots = (length + 2) / 2 + 1;
    char* block = static_cast<char*>(std::malloc(slots * sizeof(char*) + length + 2));
    if (!block) {
        return nullptr;
    }
    char** argv = reinterpret_cast<char**>(block);
    char* out = block + slots * sizeof(char*);

    uint32_t count = 0;
    bool quoted = false;
    bool open = false;
    bool due = true;
    for (const char* in = command_line; *in; in++) {
        char c = *in;
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else {
                *out++ = c;
            }
        } else if (is_blank(c)) {
            if (open) {
                *out++ = '\0';
                open = false;
            }
            due = true;
        } else {
            if (due) {
                argv[count++] = out;
                open = true;
                due = false;
            }
            if (c == '"') {
                quoted = true;
            } else {
                *out++ = c;
            }
        }
    }
    if (open) {
        *out = '\0';
    }
    argv[count] = nullptr;
    *argc = count;
    return argv;
}
