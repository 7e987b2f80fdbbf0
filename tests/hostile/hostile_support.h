// Shared by the hostile-input and race tests.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/report.h"

// A fresh folder under the system's temporary folder, removed with its content at the end.
struct ScratchDir {
    std::string path = (std::filesystem::temp_directory_path() / "quarnel-hostile-XXXXXX").string();
    ScratchDir() {
        if (mkdtemp(path.data()) == nullptr)
            path.clear();
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const {
        return path + "/" + name;
    }
};

inline std::string read_whole_file(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

inline void write_whole_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Collects the messages of the reports made while it lives.
struct ReportCatcher {
    static inline std::vector<std::string>* target = nullptr;
    std::vector<std::string> messages;
    ReportCatcher() {
        target = &messages;
        report_set_sink([](const char*, const char* text, const ErrorReport* report) {
            target->push_back(report && report->message ? report->message : text);
        });
    }
    ~ReportCatcher() {
        report_set_sink(nullptr);
    }
};

inline double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Sanitizer builds run several times slower; time limits are stretched by this factor.
inline double time_factor() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return 8.0;
#else
    return 1.0;
#endif
}

// One R+X loadable segment at offset 0x100, address 0x100100: `words` little-endian `fill`s.
inline std::string make_elf_bytes(uint32_t words, uint32_t fill) {
    std::string data(0x100 + 4 * size_t(words), '\0');
    auto put32 = [&data](size_t at, uint32_t value) { memcpy(&data[at], &value, 4); }; // x86 order
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
