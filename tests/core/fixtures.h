// Small helpers shared by the core tests: ELF files built byte by byte, and a report sink
// that keeps what it was given.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/elf_image.h"
#include "core/pattern.h"
#include "core/report.h"

struct SegmentSpec {
    uint32_t type;
    uint32_t offset;
    uint32_t address;
    uint32_t file_size;
    uint32_t flags;
};

// A 32-bit little-endian ELF file of `size` bytes whose program header table (at byte 52)
// lists `segments`. Everything else is zero until the test writes it.
inline std::vector<uint8_t> elf_bytes(uint32_t size, const std::vector<SegmentSpec>& segments) {
    std::vector<uint8_t> bytes(size, 0);
    const uint8_t magic[4] = {0x7F, 'E', 'L', 'F'};
    memcpy(bytes.data(), magic, 4);
    auto put32 = [&](uint32_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
        }
    };
    put32(28, 52);
    bytes[44] = static_cast<uint8_t>(segments.size());
    for (size_t i = 0; i < segments.size(); ++i) {
        uint32_t at = 52 + 32 * static_cast<uint32_t>(i);
        put32(at, segments[i].type);
        put32(at + 4, segments[i].offset);
        put32(at + 8, segments[i].address);
        put32(at + 16, segments[i].file_size);
        put32(at + 24, segments[i].flags);
    }
    return bytes;
}

// Hands the bytes to the image in a heap block of exactly their size, so that the address
// sanitizer sees every read past the end.
inline ElfImage* elf_load(const std::vector<uint8_t>& bytes) {
    uint8_t* data = static_cast<uint8_t*>(malloc(bytes.size() ? bytes.size() : 1));
    if (!bytes.empty()) {
        memcpy(data, bytes.data(), bytes.size());
    }
    return elf_image_from_bytes(data, static_cast<uint32_t>(bytes.size()));
}

// Parses pattern text that the test knows to be valid.
inline PatternList patterns(const char* text) {
    PatternList list{};
    pattern_list_parse(text, &list);
    return list;
}

// Collects every report made while it lives.
struct ReportCapture {
    struct Entry {
        std::string caption;
        std::string text;
        std::string message;
    };
    static inline std::vector<Entry> entries;

    ReportCapture() {
        entries.clear();
        report_set_sink(&ReportCapture::keep);
    }
    ~ReportCapture() {
        report_set_sink(nullptr);
    }
    static void keep(const char* caption, const char* text, const ErrorReport* report) {
        entries.push_back({caption, text, report->message ? report->message : ""});
    }
};
