// Helpers of the engine tests: images built in memory with any segment layout, patterns
// built from written bytes, and a deterministic random source.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/elf_image.h"
#include "core/match.h"
#include "core/match_fast.h"
#include "core/pattern.h"

// splitmix64: the same numbers on every platform and standard library.
struct TestRandom {
    uint64_t state;
    uint64_t next();
    uint32_t below(uint32_t n); // 0 .. n-1, n >= 1
    bool chance(uint32_t percent);
};

struct Segment {
    uint32_t offset;
    uint32_t size;
    uint32_t delta;
};

// An image over `bytes` with the given executable and non-executable segments. Segments stay
// inside the file, as read_elf leaves them, unless `past_end` allows otherwise.
struct TestImage {
    ElfImage image;
    TestImage(const std::vector<uint8_t>& bytes, const std::vector<Segment>& executable,
              const std::vector<Segment>& data, bool past_end = false);
    ~TestImage();
    TestImage(const TestImage&) = delete;
    TestImage& operator=(const TestImage&) = delete;
};

// A search list whose patterns are given as bytes in written order, with their masks.
struct TestPatterns {
    std::vector<PatternRecord*> values;
    std::vector<PatternRecord*> masks;
    void add(const std::vector<uint8_t>& value, const std::vector<uint8_t>& mask);
    // Hex digits, "x" for a wildcard nibble, blanks ignored: "3C0F00x0".
    void add_text(const std::string& hex);
    uint32_t count() const {
        return uint32_t(values.size());
    }
    ~TestPatterns();
};

struct FoundMatch {
    uint32_t pattern;
    uint32_t address;
    uint32_t offset;
    bool operator==(const FoundMatch& o) const {
        return pattern == o.pattern && address == o.address && offset == o.offset;
    }
};

// Options of one scan.
struct ScanOptions {
    bool executable;
    bool swap;
    uint32_t step;
};

// The matches of the literal engine, the default fast path (find_matches), and the fast scan
// with the given tuning; each list released after it was copied.
std::vector<FoundMatch> scan_reference(const TestImage& image, const ScanOptions& options,
                                       const TestPatterns& patterns);
std::vector<FoundMatch> scan_default(const TestImage& image, const ScanOptions& options,
                                     const TestPatterns& patterns);
std::vector<FoundMatch> scan_tuned(const TestImage& image, const ScanOptions& options,
                                   const TestPatterns& patterns, const MatchFastTuning& tuning);

std::string describe(const std::vector<FoundMatch>& matches, size_t limit = 8);
