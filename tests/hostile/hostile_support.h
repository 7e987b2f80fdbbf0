// Shared by the hostile-input tests: scratch folders, whole-file reads, running quarnel-cli,
// and the full set of scan options and formats a search can take.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "core/elf_image.h"
#include "core/pattern.h"

// A fresh folder under the system's temporary folder, removed with its content at the end.
struct ScratchDir {
    std::string path;
    ScratchDir();
    ~ScratchDir();
    std::string file(const std::string& name) const {
        return path + "/" + name;
    }
};

std::string read_whole_file(const std::string& path);
void write_whole_file(const std::string& path, const std::string& bytes);
// Names in `dir`, sorted, "." and ".." left out.
std::vector<std::string> list_dir(const std::string& dir);

struct CliRun {
    int exit_code; // -1 when the program did not exit normally (a signal, a sanitizer abort)
    std::string out;
    std::string err;
};
// Runs the command-line program with `args`; standard input is `input`.
CliRun run_cli(const std::vector<std::string>& args, const std::string& input = "");
bool cli_available();

// Reports are counted and dropped for the lifetime of the object, so tests can check that a
// failure was reported with the right message.
struct ReportCatcher {
    ReportCatcher();
    ~ReportCatcher();
    std::vector<std::string> messages;
};

double seconds_since(std::chrono::steady_clock::time_point start);

// Sanitizer builds run several times slower; time limits are stretched by this factor.
double time_factor();

struct SearchTotals {
    uint64_t matches = 0;
    uint64_t text_bytes = 0;
};
// Every scan option (both range sets, both byte orders, the three alignments) and every format
// over `image`, each scan checked against the reference engine when `with_reference`. Records a
// test failure for a disagreement or a match that runs past the file.
SearchTotals search_every_way(const ElfImage* image, bool with_reference);

// A minimal ELF in a malloc'd block (for elf_image_from_bytes): the header, one executable
// loadable segment at file offset 0x100 with virtual address 0x100100, and `words` words of
// `fill` (little-endian) as its content. *size receives the block's size.
uint8_t* make_elf_bytes(uint32_t words, uint32_t fill, uint32_t* size);
