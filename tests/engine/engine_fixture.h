// Helpers of the engine tests: images built in memory with any segment layout, patterns built
// from written bytes, a deterministic random source, and scans copied into plain records.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/elf_image.h"
#include "core/match.h"
#include "core/match_fast.h"
#include "core/pattern.h"

// splitmix64: the same numbers on every platform and standard library.
struct TestRandom {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) {
        return uint32_t(next() % n);
    }
    bool chance(uint32_t percent) {
        return below(100) < percent;
    }
};

struct Segment {
    uint32_t offset, size, delta;
};

// An image over a copy of `file` with the given executable and non-executable segments. The
// copy is exactly as long as the file, so that AddressSanitizer sees any read past it.
struct TestImage {
    ElfImage image{};
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> fields[2][3];
    TestImage(const std::vector<uint8_t>& file, const std::vector<Segment>& executable,
              const std::vector<Segment>& data)
        : bytes(file) {
        image.data = bytes.data();
        image.size = uint32_t(bytes.size());
        const std::vector<Segment>* sets[] = {&executable, &data};
        for (int k = 0; k < 2; k++) {
            for (const Segment& s : *sets[k]) {
                fields[k][0].push_back(s.delta);
                fields[k][1].push_back(s.offset);
                fields[k][2].push_back(s.size);
            }
            image.ranges[k] = {uint32_t(sets[k]->size()), fields[k][0].data(), fields[k][1].data(),
                               fields[k][2].data()};
        }
    }
};

// A search list whose patterns are given as bytes in written order, with their masks.
struct TestPatterns {
    std::vector<PatternRecord*> values, masks;
    void add(const std::vector<uint8_t>& value, const std::vector<uint8_t>& mask) {
        values.push_back(record(value, 0xA5));
        masks.push_back(record(mask, 0x5A));
    }
    uint32_t count() const {
        return uint32_t(values.size());
    }
    ~TestPatterns() {
        for (size_t i = 0; i < values.size(); i++) {
            std::free(values[i]);
            std::free(masks[i]);
        }
    }

  private:
    static PatternRecord* record(const std::vector<uint8_t>& bytes, uint8_t filler) {
        size_t words = (bytes.size() + 3) / 4;
        auto* r = static_cast<PatternRecord*>(std::malloc(sizeof(PatternRecord) + words * 4));
        r->length = uint32_t(bytes.size());
        auto* raw = reinterpret_cast<uint8_t*>(r->words);
        // The bytes after the pattern in its last word are never to be read: fill them with
        // something that would show if they were.
        std::memset(raw, filler, words * 4);
        for (size_t n = 0; n < bytes.size(); n++)
            raw[n ^ 3] = bytes[n];
        return r;
    }
};

struct FoundMatch {
    uint32_t pattern, address, offset;
    bool operator==(const FoundMatch& o) const {
        return pattern == o.pattern && address == o.address && offset == o.offset;
    }
};

struct ScanOptions {
    bool executable, swap;
    uint32_t step;
};

enum class Engine { reference, fast_default, fast_tuned };

// The matches of one engine as plain records; the list is released after it was copied. Each
// record must name a pattern of the list by its very pointers.
inline std::vector<FoundMatch> scan(Engine engine, const TestImage& image, const ScanOptions& o,
                                    TestPatterns& p, const MatchFastTuning& tuning = {}) {
    MatchList own{nullptr, nullptr}, *list = &own;
    own.tail = &own.head;
    const ElfImage* im = &image.image;
    if (engine == Engine::reference)
        list = find_matches_reference(im, o.executable, o.swap, o.step, p.count(), p.values.data(),
                                      p.masks.data());
    else if (engine == Engine::fast_default)
        list = find_matches(im, o.executable, o.swap, o.step, p.count(), p.values.data(),
                            p.masks.data());
    else
        EXPECT_EQ(match_fast_find(im, o.executable, o.swap, o.step, p.count(), p.values.data(),
                                  p.masks.data(), &own, &tuning),
                  MATCH_FAST_DONE);
    EXPECT_NE(list, nullptr);
    std::vector<FoundMatch> found;
    if (!list)
        return found;
    for (const Match* m = list->head; m; m = m->next) {
        uint32_t i = 0;
        while (i < p.count() && m->value != p.values[i])
            i++;
        EXPECT_TRUE(i < p.count() && m->mask == p.masks[i]) << "a match names no pattern";
        found.push_back({i, m->address, m->offset});
    }
    free_matches(list->head);
    list->head = nullptr;
    list->tail = &list->head;
    return found;
}
