// The command line of quarnel-cli: what the user asked for, read from argv.
#pragma once

#include <cstdint>
#include <vector>

#include "core/result_format.h"

enum CliMode : uint32_t {
    CLI_MODE_SEARCH = 0,
    CLI_MODE_CHECKSUM = 1,
    CLI_MODE_HELP = 2,
    CLI_MODE_VERSION = 3,
    CLI_MODE_BOOT = 4,    // --boot IMAGE
    CLI_MODE_EXTRACT = 5, // --extract IMAGE OUT
};

struct CliOptions {
    CliMode mode;
    bool swap;       // true for little (the written bytes appear in the file in written order)
    uint32_t step;   // 1, 2 or 4
    bool executable; // true for the executable segments
    ResultFormat format;
    bool pnach_file;          // --pnach-file: a whole PNACH file per executable
    const char* search_path;  // "-" for standard input; null when not given
    const char* replace_path; // "-" for standard input; null when not given
    const char* output_path;  // null for standard output
    const char* output_dir;   // --output-dir: one result file per ELF; null when not given
    const char* files_from;   // --files-from: a list of ELF paths ("-": standard input)
    const char* elf_path;     // the first ELF (or image) named on the command line, or null
    std::vector<const char*> elf_paths; // every ELF named on the command line, in order
};

// Fills `options` from the arguments (argv[1] .. argv[argc-1]); the strings stay argv's. A
// search with --files-from may name no ELF here: the list supplies them.
//   problem, problem_size: receives a one-line description of a usage error.
// Returns 1 when the command line is usable, 0 on a usage error.
int cli_options_parse(int argc, char** argv, CliOptions* options, char* problem,
                      unsigned problem_size);

// The usage synopsis, several lines, each ending in a line feed.
extern const char* const CLI_USAGE;

// The text of --help: the synopsis, the options, the exit statuses.
extern const char* const CLI_HELP;
