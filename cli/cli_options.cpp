// Reading quarnel-cli's arguments. Options may stand before or after the ELF name, as
// "--name value" or "--name=value"; "--" ends the options.
#include "cli/cli_options.h"

#include <cstdio>
#include <cstring>

const char* const CLI_USAGE =
    "usage: quarnel-cli [--endian big|little] [--align byte|half|word] [--range exec|data]\n"
    "                   [--format address|offset|pnach|raw] --search FILE [--replace FILE]\n"
    "                   [--output FILE | --output-dir DIR] [--files-from LIST] [--pnach-file]\n"
    "                   ELF...\n"
    "       quarnel-cli --checksum ELF\n"
    "       quarnel-cli --boot IMAGE\n"
    "       quarnel-cli --extract IMAGE OUT\n"
    "       quarnel-cli port ...    carry a patch file over to another build (port --help)\n"
    "       quarnel-cli apply ...   write a patch file into a copy of an executable\n"
    "                               (apply --help)\n"
    "       quarnel-cli --help | --version\n";

const char* const CLI_HELP =
    "Searches a 32-bit ELF file for hexadecimal patterns and prints what the result box of\n"
    "Quarnel's window would hold after the same search. Wherever an ELF file is taken, a\n"
    "disc image (ISO, BIN, CSO, or a cue sheet) may stand instead: its boot executable is\n"
    "searched, and gives the same result and checksum as the extracted file.\n"
    "\n"
    "  --endian big|little   how the patterns are written (default little):\n"
    "                        big    each group of eight digits is a 32-bit word of the file\n"
    "                        little the bytes stand in the order in which the file holds them\n"
    "  --align byte|half|word  alignment of candidate positions (default word);\n"
    "                        pnach and raw always search word-aligned\n"
    "  --range exec|data     the executable or the other loadable segments (default exec)\n"
    "  --format address|offset|pnach|raw  the result format (default pnach)\n"
    "  --search FILE         search patterns, one per line (required)\n"
    "  --replace FILE        replace patterns, one per line (required by pnach and raw)\n"
    "  --output FILE         write the result to FILE (\"-\": standard output)\n"
    "  --output-dir DIR      write one result file per ELF into DIR: CHECKSUM.PNACH for\n"
    "                        pnach, else the ELF's own name with .txt (GAME.ELF.txt); for a\n"
    "                        disc image, the name of its boot executable stands for the ELF's\n"
    "  --pnach-file          with --format pnach: write a whole PNACH file (a gametitle= line\n"
    "                        with the executable's name and checksum, a [section] per search\n"
    "                        pattern); in --output-dir it is named SERIAL_CHECKSUM.pnach\n"
    "                        (SLUS-20312_8917AF82.pnach) when the serial is known from the\n"
    "                        image or the executable's name, else CHECKSUM.pnach\n"
    "  --files-from LIST     search the ELF files listed in LIST too, one path per line\n"
    "                        (\"-\": standard input)\n"
    "  --checksum ELF        print the file's checksum (the name of its PNACH file)\n"
    "  --boot IMAGE          print the boot executable of a disc image as one line:\n"
    "                        PATH TAB SIZE TAB CHECKSUM, e.g. SLUS_203.12 12888 8917AF82\n"
    "                        (path inside the image, size in bytes, checksum in hex)\n"
    "  --extract IMAGE OUT   write the boot executable of a disc image to OUT, replacing OUT\n"
    "                        in one step as results are written\n"
    "  --help, --version     print this text or the version\n"
    "\n"
    "FILE \"-\" reads standard input (for one of --search, --replace and --files-from at\n"
    "most); pipes and process substitutions such as <(grep -v '^#' patterns.txt) are read to\n"
    "their end (at most 256 MiB). A pattern file that is named but cannot be read is an\n"
    "error with every format, also when the format does not use replace patterns.\n"
    "\n"
    "The result is written byte for byte as the window shows it: CR LF line ends, and\n"
    "\"No matches found\" without a line end when nothing matched.\n"
    "\n"
    "Several ELF files are searched at once on all processors with patterns read once. Each\n"
    "file's result is written in the given order, preceded by a line \"//File: PATH\" (on a\n"
    "line of its own); a file that cannot be searched is reported on standard error and the\n"
    "others are still searched. Two files that would give one name in --output-dir are\n"
    "refused before anything is written.\n"
    "\n"
    "Exit status: 0 the search found at least one match, 1 it found none, 2 anything else\n"
    "(a message on standard error, nothing on standard output). With several files: 2 when\n"
    "any file failed, else 0 when any matched, else 1.\n";

namespace {

enum OptionId : unsigned {
    OPTION_ENDIAN,
    OPTION_ALIGN,
    OPTION_RANGE,
    OPTION_FORMAT,
    OPTION_SEARCH,
    OPTION_REPLACE,
    OPTION_OUTPUT,
    OPTION_OUTPUT_DIR,
    OPTION_FILES_FROM,
    OPTION_PNACH_FILE, // a flag of the search
    OPTION_CHECKSUM,   // the options from here on choose a mode and take no value
    OPTION_HELP,
    OPTION_VERSION,
    OPTION_BOOT,
    OPTION_EXTRACT,
    OPTION_COUNT,
};

struct OptionName {
    const char* name;
    bool takes_value;
};

// In the order of OptionId.
const OptionName option_names[OPTION_COUNT] = {
    {"--endian", true},     {"--align", true},       {"--range", true},     {"--format", true},
    {"--search", true},     {"--replace", true},     {"--output", true},    {"--output-dir", true},
    {"--files-from", true}, {"--pnach-file", false}, {"--checksum", false}, {"--help", false},
    {"--version", false},   {"--boot", false},       {"--extract", false},
};

// Picks `value` from `choices` (null-terminated); returns its index or -1.
int choice_find(const char* value, const char* const* choices) {
    for (int i = 0; choices[i]; i++) {
        if (std::strcmp(value, choices[i]) == 0) {
            return i;
        }
    }
    return -1;
}

// Applies one option with its value. Returns 1, or 0 with `problem` filled.
int option_apply(unsigned index, const char* value, CliOptions* options, char* problem,
                 unsigned problem_size) {
    static const char* const endians[] = {"big", "little", nullptr};
    static const char* const aligns[] = {"byte", "half", "word", nullptr};
    static const char* const ranges[] = {"exec", "data", nullptr};
    static const char* const formats[] = {"address", "offset", "pnach", "raw", nullptr};
    static const uint32_t steps[] = {1, 2, 4};
    static const ResultFormat format_values[] = {FORMAT_ADDRESS, FORMAT_OFFSET, FORMAT_PNACH,
                                                 FORMAT_RAW_CODE};
    const char* name = option_names[index].name;
    const char* const* choices = nullptr;
    switch (index) {
    case OPTION_ENDIAN:
        choices = endians;
        break;
    case OPTION_ALIGN:
        choices = aligns;
        break;
    case OPTION_RANGE:
        choices = ranges;
        break;
    case OPTION_FORMAT:
        choices = formats;
        break;
    default:
        break;
    }
    if (choices) {
        int found = choice_find(value, choices);
        if (found < 0) {
            std::snprintf(problem, problem_size, "quarnel-cli: bad value '%s' for %s", value, name);
            return 0;
        }
        if (index == OPTION_ENDIAN) {
            options->swap = found == 1;
        } else if (index == OPTION_ALIGN) {
            options->step = steps[found];
        } else if (index == OPTION_RANGE) {
            options->executable = found == 0;
        } else {
            options->format = format_values[found];
        }
        return 1;
    }
    if (value[0] == '\0') {
        std::snprintf(problem, problem_size, "quarnel-cli: empty file name for %s", name);
        return 0;
    }
    if (index == OPTION_SEARCH) {
        options->search_path = value;
    } else if (index == OPTION_REPLACE) {
        options->replace_path = value;
    } else if (index == OPTION_OUTPUT_DIR) {
        options->output_dir = value;
    } else if (index == OPTION_FILES_FROM) {
        options->files_from = value;
    } else {
        options->output_path = value;
    }
    return 1;
}

} // namespace

int cli_options_parse(int argc, char** argv, CliOptions* options, char* problem,
                      unsigned problem_size) {
    *options = CliOptions{};
    options->mode = CLI_MODE_SEARCH;
    options->swap = true;
    options->step = 4;
    options->executable = true;
    options->format = FORMAT_PNACH;
    problem[0] = '\0';

    bool seen[OPTION_COUNT] = {};
    bool options_ended = false;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (options_ended || arg[0] != '-' || arg[1] == '\0') {
            if (!options->elf_path) {
                options->elf_path = arg;
            }
            options->elf_paths.push_back(arg);
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            options_ended = true;
            continue;
        }
        const char* equals = std::strchr(arg, '=');
        size_t name_length = equals ? size_t(equals - arg) : std::strlen(arg);
        unsigned index = 0;
        while (index < OPTION_COUNT &&
               (std::strlen(option_names[index].name) != name_length ||
                std::strncmp(option_names[index].name, arg, name_length) != 0)) {
            index++;
        }
        if (index == OPTION_COUNT) {
            std::snprintf(problem, problem_size, "quarnel-cli: unknown option '%.*s'",
                          int(name_length), arg);
            return 0;
        }
        const char* name = option_names[index].name;
        if (seen[index]) {
            std::snprintf(problem, problem_size, "quarnel-cli: %s given more than once", name);
            return 0;
        }
        seen[index] = true;
        if (!option_names[index].takes_value) {
            if (equals) {
                std::snprintf(problem, problem_size, "quarnel-cli: %s takes no value", name);
                return 0;
            }
            static const CliMode modes[] = {CLI_MODE_CHECKSUM, CLI_MODE_HELP, CLI_MODE_VERSION,
                                            CLI_MODE_BOOT, CLI_MODE_EXTRACT};
            if (index == OPTION_PNACH_FILE) {
                options->pnach_file = true;
            } else {
                options->mode = modes[index - OPTION_CHECKSUM];
            }
            continue;
        }
        const char* value = equals ? equals + 1 : nullptr;
        if (!value) {
            if (i + 1 >= argc) {
                std::snprintf(problem, problem_size, "quarnel-cli: %s needs a value", name);
                return 0;
            }
            value = argv[++i];
        }
        if (!option_apply(index, value, options, problem, problem_size)) {
            return 0;
        }
    }

    // --checksum, --help and --version stand alone (apart from the ELF of --checksum).
    unsigned modes = 0;
    for (unsigned k = OPTION_CHECKSUM; k < OPTION_COUNT; k++) {
        modes += seen[k] ? 1 : 0;
    }
    bool search_options = false;
    for (unsigned k = 0; k < OPTION_CHECKSUM; k++) {
        search_options = search_options || seen[k];
    }
    if (modes > 1 || (modes == 1 && search_options)) {
        std::snprintf(problem, problem_size,
                      "quarnel-cli: --checksum, --boot, --extract, --help and --version are "
                      "used alone");
        return 0;
    }
    if (options->mode == CLI_MODE_HELP || options->mode == CLI_MODE_VERSION) {
        if (options->elf_path) {
            std::snprintf(problem, problem_size, "quarnel-cli: unexpected argument '%s'",
                          options->elf_path);
            return 0;
        }
        return 1;
    }
    if (options->mode == CLI_MODE_EXTRACT) {
        if (options->elf_paths.size() < 2) {
            std::snprintf(problem, problem_size, "quarnel-cli: --extract needs IMAGE and OUT");
            return 0;
        }
        if (options->elf_paths.size() > 2) {
            std::snprintf(problem, problem_size, "quarnel-cli: unexpected argument '%s'",
                          options->elf_paths[2]);
            return 0;
        }
        return 1;
    }
    if ((options->mode == CLI_MODE_CHECKSUM || options->mode == CLI_MODE_BOOT) &&
        options->elf_paths.size() > 1) {
        std::snprintf(problem, problem_size, "quarnel-cli: more than one ELF file ('%s')",
                      options->elf_paths[1]);
        return 0;
    }
    if (options->mode == CLI_MODE_BOOT && !options->elf_path) {
        std::snprintf(problem, problem_size, "quarnel-cli: no disc image given");
        return 0;
    }
    if (!options->elf_path && !options->files_from) {
        std::snprintf(problem, problem_size, "quarnel-cli: no ELF file given");
        return 0;
    }
    if (options->output_path && options->output_dir) {
        std::snprintf(problem, problem_size,
                      "quarnel-cli: --output and --output-dir cannot be used together");
        return 0;
    }
    if (options->mode == CLI_MODE_SEARCH) {
        if (!options->search_path) {
            std::snprintf(problem, problem_size, "quarnel-cli: --search FILE is required");
            return 0;
        }
        int readers = 0;
        for (const char* path :
             {options->search_path, options->replace_path, options->files_from}) {
            readers += path && std::strcmp(path, "-") == 0 ? 1 : 0;
        }
        if (options->pnach_file && options->format != FORMAT_PNACH) {
            std::snprintf(problem, problem_size, "quarnel-cli: --pnach-file needs --format pnach");
            return 0;
        }
        if (readers > 1) {
            std::snprintf(problem, problem_size,
                          "quarnel-cli: only one of --search, --replace and --files-from can "
                          "read standard input");
            return 0;
        }
    }
    return 1;
}
