// Shared by the hostile-input and race tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

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
std::vector<std::string> list_dir(const std::string& dir); // sorted

// Collects the messages of the reports made while it lives.
struct ReportCatcher {
    ReportCatcher();
    ~ReportCatcher();
    std::vector<std::string> messages;
};

double seconds_since(std::chrono::steady_clock::time_point start);

// Sanitizer builds run several times slower; time limits are stretched by this factor.
double time_factor();

// A minimal ELF: one executable loadable segment at file offset 0x100, virtual address
// 0x100100, holding `words` little-endian copies of `fill`.
std::string make_elf_bytes(uint32_t words, uint32_t fill);
