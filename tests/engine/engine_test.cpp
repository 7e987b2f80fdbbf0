// Three views of one search must agree record for record and in order: the comparison rule
// written out position by position, the literal engine, and the fast scan however it divides
// the work.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/elf_image.h"
#include "core/match.h"
#include "core/match_fast.h"
#include "core/pattern.h"

namespace {

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

// Range sets exactly as given, unclipped, over a copy exactly as long as the file, so that
// AddressSanitizer sees any read past it.
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

// Patterns given as bytes in written order, with their masks.
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
        // The bytes after the pattern in its last word must never count: fill them with
        // something that would show.
        std::memset(raw, filler, words * 4);
        for (size_t n = 0; n < bytes.size(); n++)
            raw[n ^ 3] = bytes[n];
        return r;
    }
};

struct FoundMatch {
    uint32_t pattern, address, offset;
    bool operator==(const FoundMatch&) const = default;
};

struct ScanOptions {
    bool executable, swap;
    uint32_t step;
};

enum class Engine { reference, fast_default, fast_tuned };

// The matches of one engine as plain records. Each must name a pattern by its very pointers.
std::vector<FoundMatch> scan(Engine engine, const TestImage& image, const ScanOptions& o,
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
    std::vector<FoundMatch> found;
    if (!list) {
        ADD_FAILURE() << "no list";
        return found;
    }
    for (const Match* m = list->head; m; m = m->next) {
        uint32_t i = 0;
        while (i < p.count() && m->value != p.values[i])
            i++;
        EXPECT_TRUE(i < p.count() && m->mask == p.masks[i]) << "a match names no pattern";
        found.push_back({i, m->address, m->offset});
    }
    free_matches(list->head);
    return found;
}

// The rule, independent of both engines: words in table order with a cursor that never moves
// back, then patterns, then shifts; a match ends inside its segment and needs no byte past the
// file, whatever its mask.
std::vector<FoundMatch> rule(const TestImage& t, const ScanOptions& o, const TestPatterns& p) {
    std::vector<FoundMatch> out;
    const RangeSet& set = t.image.ranges[o.executable ? 0 : 1];
    uint64_t w = set.count ? set.file_offset[0] / 4 : 0;
    for (uint32_t k = 0; k < set.count; ++k) {
        uint64_t end = uint64_t{set.file_offset[k]} + set.file_size[k];
        for (; w < uint64_t{set.file_offset[k] / 4} + set.file_size[k] / 4; ++w) {
            for (uint32_t i = 0; i < p.count(); ++i) {
                for (uint32_t s = 0; s < 4; s += o.step) {
                    uint64_t start = 4 * w + s;
                    bool match = start + p.values[i]->length <= end;
                    for (uint32_t n = 0; match && n < p.values[i]->length; ++n) {
                        uint64_t at = (start + (n ^ 3)) ^ (o.swap ? 3 : 0);
                        uint8_t m = pattern_byte(p.masks[i], n);
                        match = at < t.bytes.size() &&
                                (t.bytes[at] & m) == (pattern_byte(p.values[i], n) & m);
                    }
                    if (match)
                        out.push_back({i, uint32_t(start) + set.address_delta[k], uint32_t(start)});
                }
            }
        }
        if (k + 1 < set.count)
            w = std::max<uint64_t>(w, set.file_offset[k + 1] / 4);
    }
    return out;
}

std::string show(const std::vector<FoundMatch>& list, size_t i) {
    char text[60] = "end";
    if (i < list.size())
        std::snprintf(text, sizeof text, "p%u @%X a%X", list[i].pattern, list[i].offset,
                      list[i].address);
    return text;
}

// Names the record where two lists part, instead of printing both.
testing::AssertionResult same(const std::vector<FoundMatch>& want,
                              const std::vector<FoundMatch>& got) {
    if (want == got)
        return testing::AssertionSuccess();
    size_t i = std::mismatch(want.begin(), want.end(), got.begin(), got.end()).first - want.begin();
    return testing::AssertionFailure() << "record " << i << " of " << want.size() << ": want "
                                       << show(want, i) << ", got " << show(got, i);
}

std::vector<uint8_t> random_file(TestRandom& rng, uint32_t size) {
    std::vector<uint8_t> bytes(size);
    static const uint8_t alphabet[] = {0x00, 0x00, 0xFF, 0x3C, 0x01, 0x10};
    uint32_t kind = rng.below(4);
    uint32_t period = 1 + rng.below(9);
    for (uint32_t i = 0; i < size; i++) {
        if (kind == 0) // few distinct bytes: many chance matches
            bytes[i] = alphabet[rng.below(sizeof alphabet)];
        else if (kind == 1) // repeating: overlapping matches everywhere
            bytes[i] = i >= period ? bytes[i - period] : uint8_t(rng.below(3));
        else
            bytes[i] = uint8_t(rng.next());
    }
    return bytes;
}

std::vector<Segment> random_segments(TestRandom& rng, uint32_t size) {
    std::vector<Segment> segments(rng.below(5));
    uint32_t next = rng.below(size / 2 + 1);
    for (Segment& s : segments) {
        // Mostly ascending, sometimes overlapping, out of order, empty or at the very end.
        if (rng.chance(70))
            s.offset = std::min(size, next + rng.below(16));
        else
            s.offset =
                rng.chance(20) ? size - rng.below(std::min(size, 6u) + 1) : rng.below(size + 1);
        uint32_t room = size - s.offset;
        s.size = rng.chance(15) ? room : rng.below(room + 1);
        next = s.offset + s.size - std::min(s.size, rng.below(12));
        // read_elf clips segments to the file; the scan must not rely on it.
        if (rng.chance(3))
            s.size += 1 + rng.below(64);
        else if (rng.chance(2))
            s.offset = 0xFFFFFF00u + rng.below(0x100);
        s.delta = uint32_t(rng.next());
    }
    return segments;
}

// A pattern taken from the file (so that it matches somewhere), or made up.
void random_pattern(TestRandom& rng, const std::vector<uint8_t>& file, TestPatterns& patterns) {
    uint32_t length = 4 + rng.below(rng.chance(85) ? 17 : 40);
    std::vector<uint8_t> value(length), mask(length, 0xFF);
    uint32_t from = file.size() > length ? rng.below(uint32_t(file.size() - length)) : 0;
    for (uint32_t n = 0; n < length; n++)
        value[n] = n + from < file.size() && rng.chance(90) ? file[from + n] : uint8_t(rng.next());
    if (rng.chance(30)) // reversed in groups of four: a match in the other byte order
        for (uint32_t n = 0; n + 4 <= length; n += 4)
            std::reverse(value.begin() + n, value.begin() + n + 4);
    uint32_t kind = rng.below(10);
    if (kind == 0) { // bit masks as `*` writes them: value bits may stand outside the mask
        for (uint8_t& m : mask)
            m = uint8_t(rng.next());
    } else if (kind == 1) { // nothing fixed at all
        std::fill(mask.begin(), mask.end(), 0);
    } else if (kind <= 4) { // wildcard nibbles, some or many
        for (uint32_t n = 0; n < length; n++) {
            uint32_t p = rng.below(3) == 0 ? 60 : 15;
            for (uint8_t keep : {0x0F, 0xF0})
                if (rng.chance(p)) {
                    mask[n] &= keep;
                    value[n] &= keep;
                }
        }
    }
    patterns.add(value, mask);
}

TEST(EngineDifferential, RandomFilesLayoutsPatternsAndOptions) {
    TestRandom rng{20240611};
    uint64_t total_matches = 0;
    for (int round = 0; round < 2000; round++) {
        uint32_t size = 1 + rng.below(rng.chance(80) ? 700 : 5000);
        std::vector<uint8_t> file = random_file(rng, size);
        TestImage image(file, random_segments(rng, size), random_segments(rng, size));
        TestPatterns patterns;
        uint32_t count = 1 + rng.below(rng.chance(70) ? 4 : 40);
        for (uint32_t i = 0; i < count; i++)
            random_pattern(rng, file, patterns);
        ScanOptions options{rng.chance(50), rng.chance(50), 1u << rng.below(3)};
        MatchFastTuning tuning{1 + rng.below(3), 1 + rng.below(40), rng.chance(50)};
        SCOPED_TRACE(testing::Message()
                     << "round " << round << ", size " << size << ", step " << options.step
                     << (options.swap ? " Little" : " Big") << ", threads " << tuning.threads
                     << ", chunk " << tuning.chunk_words);

        std::vector<FoundMatch> want = scan(Engine::reference, image, options, patterns);
        total_matches += want.size();
        ASSERT_TRUE(same(rule(image, options, patterns), want)) << "the literal engine";
        ASSERT_TRUE(same(want, scan(Engine::fast_tuned, image, options, patterns, tuning)));
        if (round % 8 == 0) {
            ASSERT_TRUE(same(want, scan(Engine::fast_default, image, options, patterns)));
        }
    }
    // The cases must actually produce matches, or they prove nothing.
    EXPECT_GT(total_matches, 100000u);
}

// find_matches and the fast scan under several divisions of the work, all equal to the
// literal engine. Returns the reference list.
std::vector<FoundMatch> expect_same(const TestImage& image, const ScanOptions& options,
                                    TestPatterns& patterns, bool every_division = true) {
    std::vector<FoundMatch> want = scan(Engine::reference, image, options, patterns);
    EXPECT_TRUE(same(want, scan(Engine::fast_default, image, options, patterns)));
    if (!every_division)
        return want;
    for (MatchFastTuning tuning : {MatchFastTuning{1, 0, false}, MatchFastTuning{2, 7, false},
                                   MatchFastTuning{3, 1, true}, MatchFastTuning{2, 64, true}})
        EXPECT_TRUE(same(want, scan(Engine::fast_tuned, image, options, patterns, tuning)))
            << "threads " << tuning.threads << ", chunk " << tuning.chunk_words;
    return want;
}

TEST(EngineCases, ManyPatternsSharingAnchors) {
    // Three hundred patterns over a file of few distinct words: anchors collide, the hash
    // buckets hold many entries, words match several patterns at once, and the wildcards ask
    // for more table slots than the scan allows.
    TestRandom rng{77};
    std::vector<uint8_t> file(1 << 14);
    static const uint32_t words[] = {0x27BDFFE0, 0xAFBF0014, 0x00000000, 0x8FBF0014, 0x03E00008};
    for (size_t at = 0; at + 4 <= file.size(); at += 4) {
        uint32_t w = words[rng.below(5)];
        for (int b = 0; b < 4; b++)
            file[at + b] = uint8_t(w >> (8 * b));
    }
    TestImage image(file, {{16, uint32_t(file.size()) - 16, 0x100000}}, {});
    TestPatterns patterns;
    for (int i = 0; i < 300; i++) {
        uint32_t length = 4 + rng.below(13);
        uint32_t from = 16 + rng.below(uint32_t(file.size()) - 64);
        std::vector<uint8_t> value(file.begin() + from, file.begin() + from + length);
        std::vector<uint8_t> mask(length, 0xFF);
        if (rng.chance(40)) {
            mask[rng.below(length)] = rng.chance(50) ? 0xF0 : 0x0F;
        } else if (rng.chance(50)) {
            // Two wildcard nibbles in every word: 256 table slots per anchor.
            for (uint32_t n = 0; n < length; n += 2)
                mask[n] = 0xF0;
        }
        for (uint32_t n = 0; n < length; n++)
            value[n] &= mask[n];
        patterns.add(value, mask);
    }
    for (uint32_t step : {1u, 4u})
        EXPECT_GT(expect_same(image, {true, step == 1, step}, patterns).size(), 1000u);
}

TEST(EngineCases, LargeFileAcrossThreadsAndChunks) {
    // Over 8 MiB, so that find_matches itself divides the work. Copies sit at the start, at
    // the end, around the middle where two threads part, and on a chunk's edge.
    const uint32_t size = (8u << 20) + 3;
    std::vector<uint8_t> file(size);
    TestRandom rng{5};
    for (uint8_t& b : file)
        b = uint8_t(rng.next());
    // 3C0F0040 123456 in "Big": the file word at p, then the top three bytes of the next.
    const uint8_t copy[] = {0x40, 0x00, 0x0F, 0x3C, 0x99, 0x56, 0x34, 0x12};
    std::vector<uint32_t> places = {
        0, 9, size / 2 - 10, size / 2 - 1, size / 2 + 8, 131072 - 4, 131072 + 5, size - 8};
    for (uint32_t at : places)
        std::copy(std::begin(copy), std::end(copy), file.begin() + at);
    std::sort(places.begin(), places.end());
    TestImage image(file, {{0, size, 0x400000}}, {});
    TestPatterns patterns;
    patterns.add({0x3C, 0x0F, 0x00, 0x40, 0x12, 0x34, 0x56}, std::vector<uint8_t>(7, 0xFF));
    patterns.add({0x3C, 0x0F, 0x00, 0x40, 0x12, 0x04, 0x56}, {255, 255, 255, 255, 255, 0x0F, 255});
    for (uint32_t step : {1u, 4u}) {
        std::vector<uint32_t> want, found;
        for (uint32_t at : places)
            if (at % step == 0)
                want.insert(want.end(), {at, at});
        for (const FoundMatch& m : expect_same(image, {true, false, step}, patterns, false))
            found.push_back(m.offset);
        EXPECT_EQ(found, want);
    }
    expect_same(image, {true, true, 2}, patterns, false);
}

} // namespace
