// The port and apply subcommands.
#include "cli/cli_port.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/file_io.h"
#include "core/image_copy.h"
#include "core/patch_apply.h"
#include "core/patch_file.h"
#include "core/patch_port.h"

const char* const CLI_PORT_HELP =
    "usage: quarnel-cli port --from OLD --patches FILE [--output FILE] NEW\n"
    "\n"
    "Carries the patch lines of FILE, written for the executable OLD, over to the build NEW.\n"
    "Each address is looked for in NEW by signatures of the words before it, after it and\n"
    "around it in OLD, with jump targets and the halves of lui addresses masked; a line moves\n"
    "only when every signature finds the same single place and the code around it in OLD\n"
    "went to the right sides of that place. Values that hold addresses (j, jal, a lui with\n"
    "its addiu, ori, load or store, data words pointing into OLD) are carried over too.\n"
    "\n"
    "  --from OLD       the executable the patch file was written for (required); OLD and\n"
    "                   NEW may be disc images, which stand for their boot executables\n"
    "  --patches FILE   PNACH (patch=P,EE,ADDRESS,byte|short|word|extended,VALUE) and RAW\n"
    "                   Code lines, with comments, [sections] and key=value lines (required)\n"
    "  --output FILE    write the ported file there (default: standard output)\n"
    "  --help           print this text\n"
    "\n"
    "Every other line is kept, in order; gametitle= gets NEW's checksum where it named OLD's.\n"
    "A line that cannot be ported becomes a comment saying why. A summary goes to standard\n"
    "error.\n"
    "\n"
    "Exit status: 0 every line ported, 1 some lines not ported (or FILE holds no patch\n"
    "line), 2 an error.\n";

const char* const CLI_APPLY_HELP =
    "usage: quarnel-cli apply --patches FILE --output OUT ELF\n"
    "\n"
    "Writes a copy of ELF to OUT with the patch=0 and patch=1 byte, short and word writes of\n"
    "FILE (and RAW Code types 0, 1 and 2) applied where their addresses lie in the file. ELF\n"
    "itself is never changed; OUT is replaced in one step. ELF may be a disc image (ISO, BIN,\n"
    "CSO, or a cue sheet): OUT is then the patched boot executable, not a patched image.\n"
    "\n"
    "  --patches FILE   the patch file (required)\n"
    "  --output OUT     the patched copy (required; not ELF itself)\n"
    "  --help           print this text\n"
    "\n"
    "Lines that are not applied (outside the file, patch=2, other code types, malformed) are\n"
    "listed on standard error. When no line at all can be applied, OUT is not written.\n"
    "\n"
    "Exit status: 0 every line applied, 1 some lines not applied, 2 an error.\n";

namespace {

struct Arguments {
    bool help;
    const char* from;
    const char* patches;
    const char* output;
    const char* target; // NEW or ELF
};

// Reads "--name value", "--name=value" and one plain argument. `port` allows --from.
bool arguments_parse(int argc, char** argv, bool port, Arguments* args) {
    *args = Arguments{};
    const char* command = argv[1];
    for (int i = 2; i < argc; i++) {
        const char* arg = argv[i];
        if (arg[0] != '-' || arg[1] == '\0') {
            if (args->target) {
                std::fprintf(stderr, "quarnel-cli %s: more than one executable ('%s')\n", command,
                             arg);
                return false;
            }
            args->target = arg;
            continue;
        }
        if (std::strcmp(arg, "--help") == 0) {
            args->help = true;
            continue;
        }
        const char* names[] = {"--from", "--patches", "--output"};
        const char** slots[] = {&args->from, &args->patches, &args->output};
        bool known = false;
        for (int n = 0; n < 3; n++) {
            if (n == 0 && !port)
                continue;
            size_t length = std::strlen(names[n]);
            if (std::strncmp(arg, names[n], length) != 0 ||
                (arg[length] != '\0' && arg[length] != '='))
                continue;
            known = true;
            const char* value = arg[length] == '=' ? arg + length + 1 : nullptr;
            if (!value) {
                if (i + 1 >= argc) {
                    std::fprintf(stderr, "quarnel-cli %s: %s needs a value\n", command, names[n]);
                    return false;
                }
                value = argv[++i];
            }
            if (*slots[n]) {
                std::fprintf(stderr, "quarnel-cli %s: %s given more than once\n", command,
                             names[n]);
                return false;
            }
            if (value[0] == '\0') {
                std::fprintf(stderr, "quarnel-cli %s: empty file name for %s\n", command, names[n]);
                return false;
            }
            *slots[n] = value;
        }
        if (!known) {
            std::fprintf(stderr, "quarnel-cli %s: unknown option '%s'\n", command, arg);
            return false;
        }
    }
    if (args->help)
        return true;
    const char* missing = !args->patches           ? "--patches FILE"
                          : port && !args->from    ? "--from OLD"
                          : !port && !args->output ? "--output OUT"
                          : !args->target          ? "the executable"
                                                   : nullptr;
    if (missing) {
        std::fprintf(stderr, "quarnel-cli %s: %s is missing\n", command, missing);
        return false;
    }
    return true;
}

// Reads and parses the patch file; malformed lines are reported with their numbers.
bool patches_read(const char* path, PatchFile* file) {
    char* text = nullptr;
    uint32_t size = 0;
    if (file_read_all(path, 0, &text, &size) != FILE_READ_OK) {
        std::fprintf(stderr, "quarnel-cli: cannot read the patch file '%s'\n", path);
        return false;
    }
    patch_file_parse(text, size, file);
    std::free(text);
    for (const PatchLine& line : file->lines) {
        if (line.kind == PATCH_LINE_MALFORMED)
            std::fprintf(stderr, "%s:%u: %s\n", path, line.number, line.problem.c_str());
    }
    return true;
}

std::unique_ptr<ImageCopy> executable_load(const char* path) {
    std::string message;
    std::unique_ptr<ImageCopy> copy = image_copy_load(path, &message);
    if (!copy)
        std::fprintf(stderr, "quarnel-cli: %s: %s\n", path, message.c_str());
    return copy;
}

// Writes a whole file in one step. Returns 1, or 0 after the message.
int bytes_write(const char* path, const void* data, size_t size) {
    uint32_t error = 0;
    FileWriteStatus status =
        file_write_all(path, static_cast<const char*>(data), uint32_t(size), &error);
    if (status == FILE_WRITE_OK)
        return 1;
    std::fprintf(stderr, "quarnel-cli: %s: %s\n", path,
                 status == FILE_WRITE_OPEN_FAILED ? "Error opening file" : "Error writing file");
    return 0;
}

int output_write(const char* path, const std::string& text) {
    if (!path || std::strcmp(path, "-") == 0) {
        bool ok = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
        if (std::fflush(stdout) != 0 || !ok) {
            std::fputs("Error writing file\n", stderr);
            return 0;
        }
        return 1;
    }
    return bytes_write(path, text.data(), text.size());
}

int port_run(const Arguments& args) {
    PatchFile file;
    if (!patches_read(args.patches, &file))
        return 2;
    std::unique_ptr<ImageCopy> old_copy = executable_load(args.from);
    if (!old_copy)
        return 2;
    std::unique_ptr<ImageCopy> new_copy = executable_load(args.target);
    if (!new_copy)
        return 2;
    PortReport report;
    patch_file_port(old_copy.get(), new_copy.get(), &file, &report);
    if (!output_write(args.output, patch_file_render(&file)))
        return 2;
    std::fprintf(stderr, "%s\n", port_report_summary(&report).c_str());
    return report.lines > 0 && report.counts[PORT_OK] == report.lines ? 0 : 1;
}

// Paths on the command line are UTF-8 on every system Quarnel runs on.
std::filesystem::path path_of(const char* name) {
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(name)));
}

bool same_file(const char* a, const char* b) {
    std::error_code error;
    return std::filesystem::equivalent(path_of(a), path_of(b), error) && !error;
}

int apply_run(const Arguments& args) {
    if (std::strcmp(args.output, "-") == 0) {
        std::fputs("quarnel-cli apply: --output must name a file\n", stderr);
        return 2;
    }
    if (same_file(args.output, args.target)) {
        std::fputs("quarnel-cli apply: --output names the input executable, which is never "
                   "changed\n",
                   stderr);
        return 2;
    }
    PatchFile file;
    if (!patches_read(args.patches, &file))
        return 2;
    std::unique_ptr<ImageCopy> copy = executable_load(args.target);
    if (!copy)
        return 2;
    std::vector<uint8_t> data = copy->data;
    ApplyReport report;
    patch_file_apply(&copy->image, data.data(), &file, &report);
    for (const std::string& problem : report.problems)
        std::fprintf(stderr, "%s\n", problem.c_str());
    std::fprintf(stderr, "%u of %u lines applied\n", report.applied, report.lines);
    if (report.applied == 0) {
        std::fputs("nothing applied: no output written\n", stderr);
        return 1;
    }
    if (!bytes_write(args.output, data.data(), data.size()))
        return 2;
    return report.applied == report.lines ? 0 : 1;
}

} // namespace

bool cli_port_wanted(int argc, char** argv) {
    return argc > 1 && (std::strcmp(argv[1], "port") == 0 || std::strcmp(argv[1], "apply") == 0);
}

int cli_port_main(int argc, char** argv) {
    bool port = std::strcmp(argv[1], "port") == 0;
    const char* help = port ? CLI_PORT_HELP : CLI_APPLY_HELP;
    Arguments args;
    if (!arguments_parse(argc, argv, port, &args)) {
        std::fputs(help, stderr);
        return 2;
    }
    if (args.help) {
        std::fputs(help, stdout);
        return std::fflush(stdout) == 0 ? 0 : 2;
    }
    return port ? port_run(args) : apply_run(args);
}
