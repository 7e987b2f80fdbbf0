#include "hostile_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/report.h"

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
    std::string name = (fs::temp_directory_path() / "quarnel-hostile-XXXXXX").string();
    if (mkdtemp(name.data()) != nullptr)
        path = name;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    if (!path.empty())
        fs::remove_all(path, ignored);
}

std::string read_whole_file(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

void write_whole_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<std::string> list_dir(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(dir, ignored))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

static std::vector<std::string>* catcher_target = nullptr;

ReportCatcher::ReportCatcher() {
    catcher_target = &messages;
    report_set_sink([](const char*, const char* text, const ErrorReport* report) {
        catcher_target->push_back(report && report->message ? report->message : text);
    });
}

ReportCatcher::~ReportCatcher() {
    report_set_sink(nullptr);
    catcher_target = nullptr;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double time_factor() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return 8.0;
#else
    return 1.0;
#endif
}

std::string make_elf_bytes(uint32_t words, uint32_t fill) {
    std::string data(0x100 + 4 * size_t(words), '\0');
    auto put32 = [&data](size_t at, uint32_t value) {
        for (int i = 0; i < 4; i++)
            data[at + i] = char(value >> (8 * i));
    };
    data.replace(0, 7, "\177ELF\1\1\1"); // 32-bit, little-endian, version 1
    put32(28, 52);                       // e_phoff
    data[44] = 1;                        // e_phnum
    put32(52, 1);                        // PT_LOAD
    put32(56, 0x100);                    // p_offset
    put32(60, 0x100100);                 // p_vaddr
    put32(68, 4 * words);                // p_filesz
    put32(76, 5);                        // p_flags: R+X
    for (uint32_t i = 0; i < words; i++)
        put32(0x100 + 4 * size_t(i), fill);
    return data;
}
