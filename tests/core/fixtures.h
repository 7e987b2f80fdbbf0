// Helpers shared by the core tests: ELF files built byte by byte, pattern lists, and a report
// sink that keeps what it was given.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/elf_image.h"
#include "core/pattern.h"
#include "core/report.h"

const uint32_t PT_LOAD = 1;
const uint32_t PF_X = 1;

struct SegmentSpec {
    uint32_t type, offset, address, file_size, flags;
};

inline void put32(std::vector<uint8_t>& bytes, uint32_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

// A little-endian ELF file of `size` bytes, its program header table at byte 52.
inline std::vector<uint8_t> elf_bytes(uint32_t size, const std::vector<SegmentSpec>& segments,
                                      uint32_t at = 0, std::vector<uint8_t> content = {}) {
    std::vector<uint8_t> bytes(size, 0);
    memcpy(bytes.data(),
           "\x7F"
           "ELF",
           4);
    put32(bytes, 28, 52);
    bytes[44] = static_cast<uint8_t>(segments.size());
    for (uint32_t i = 0; i < segments.size(); ++i) {
        const SegmentSpec& s = segments[i];
        for (uint32_t field : {0u, 1u, 2u, 4u, 6u}) {
            uint32_t v = field == 0   ? s.type
                         : field == 1 ? s.offset
                         : field == 2 ? s.address
                         : field == 4 ? s.file_size
                                      : s.flags;
            put32(bytes, 52 + 32 * i + 4 * field, v);
        }
    }
    std::copy(content.begin(), content.end(), bytes.begin() + at);
    return bytes;
}

// Hands the bytes over in a block of exactly their size, so the sanitizer sees any overread.
inline ElfImage* elf_load(const std::vector<uint8_t>& bytes) {
    uint8_t* data = static_cast<uint8_t*>(malloc(bytes.size() + 1));
    memcpy(data, bytes.data(), bytes.size());
    return elf_image_from_bytes(data, static_cast<uint32_t>(bytes.size()));
}

inline PatternList patterns(const char* text) {
    PatternList list{};
    pattern_list_parse(text, &list);
    return list;
}

// Collects the reports made while it lives.
struct ReportCapture {
    struct Entry {
        std::string caption, text;
    };
    static inline std::vector<Entry> entries;
    ReportCapture() {
        entries.clear();
        report_set_sink([](const char* caption, const char* text, const ErrorReport*) {
            entries.push_back({caption, text});
        });
    }
    ~ReportCapture() {
        report_set_sink(nullptr);
    }
};
