// Command lines into command_line_to_argv: the vector fits its block (ASan sees the block's end),
// ends in a null pointer and holds the arguments that a small model of the splitting rules gives.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "gui/backend.h"

namespace {

// Blanks separate arguments outside quotes; quotes group and are dropped; an empty quoted run
// standing alone is an empty argument; nothing else is special.
std::vector<std::string> model_split(const char* line) {
    std::vector<std::string> args;
    bool quoted = false, open = false;
    for (const char* p = line; *p; p++) {
        if (!quoted && strchr(" \t\n\r", *p)) {
            open = false;
            continue;
        }
        if (!open && !quoted) {
            args.emplace_back();
            open = true;
        }
        if (*p == '"')
            quoted = !quoted;
        else
            args.back() += *p;
    }
    return args;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char* line = fuzz_copy_text(data, size);
    size_t length = strlen(line);
    uint32_t argc = 0xFFFFFFFF;
    char** argv = command_line_to_argv(line, &argc);
    if (argv != nullptr) {
        std::vector<std::string> expected = model_split(line);
        fuzz_require(argc == expected.size(), "wrong number of arguments");
        fuzz_require(argc <= (length + 2) / 2, "more arguments than the block has room for");
        fuzz_require(argv[argc] == nullptr, "the vector does not end in a null pointer");
        const char* strings =
            reinterpret_cast<const char*>(argv) + ((length + 2) / 2 + 1) * sizeof(char*);
        for (uint32_t i = 0; i < argc; i++) {
            fuzz_require(argv[i] >= strings && argv[i] <= strings + length + 1,
                         "an argument lies outside the string area");
            fuzz_require(expected[i] == argv[i], "an argument differs from the rules");
        }
        free(argv);
    }
    free(line);
    return 0;
}
