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

// A little-endian ELF file of `size` zero bytes, its program header table at byte 52.
inline std::vector<uint8_t> elf_bytes(uint32_t size, const std::vector<SegmentSpec>& segments) {
    std::vector<uint8_t> bytes(size, 0);
    auto put32 = [&](uint32_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
        }
    };
    put32(0, 0x464C457F);
    put32(28, 52);
    bytes[44] = static_cast<uint8_t>(segments.size());
    for (uint32_t i = 0; i < segments.size(); ++i) {
        const SegmentSpec& s = segments[i];
        const uint32_t fields[] = {s.type, s.offset, s.address, 0, s.file_size, 0, s.flags};
        for (uint32_t k = 0; k < 7; ++k) {
            put32(52 + 32 * i + 4 * k, fields[k]);
        }
    }
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
