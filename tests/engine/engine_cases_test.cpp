// Cases the random generator does not reach: the end of the file, segments that claim more
// than the file holds, anchor tables that overflow, and files large enough for several threads.
#include <algorithm>

#include "engine_fixture.h"

namespace {

std::vector<uint32_t> offsets(const std::vector<FoundMatch>& matches) {
    std::vector<uint32_t> out;
    for (const FoundMatch& m : matches)
        out.push_back(m.offset);
    return out;
}

// The fast scan under several divisions of the work, and find_matches itself, all equal to
// the literal engine. Returns the reference list.
std::vector<FoundMatch> expect_same(const TestImage& image, const ScanOptions& options,
                                    TestPatterns& patterns, bool every_division = true) {
    std::vector<FoundMatch> want = scan(Engine::reference, image, options, patterns);
    EXPECT_EQ(scan(Engine::fast_default, image, options, patterns), want);
    if (every_division) {
        for (MatchFastTuning tuning : {MatchFastTuning{1, 0, false}, MatchFastTuning{2, 7, false},
                                       MatchFastTuning{3, 1, true}, MatchFastTuning{2, 64, true}})
            EXPECT_EQ(scan(Engine::fast_tuned, image, options, patterns, tuning), want)
                << "threads " << tuning.threads << ", chunk " << tuning.chunk_words;
    }
    return want;
}

TEST(EngineCases, TheEndOfTheFile) {
    // 23 bytes: the last word is incomplete. "Big" 5-byte pattern at 16 needs F[16..19] and
    // F[23], which the file lacks; at 12 it needs F[12..15] = 04 03 02 01 and F[19] = 05.
    std::vector<uint8_t> file(23, 0x77);
    const uint8_t big_at_12[] = {4, 3, 2, 1, 4, 3, 2, 5};
    std::copy(std::begin(big_at_12), std::end(big_at_12), file.begin() + 12);
    TestImage image(file, {{0, 23, 0}}, {{4, 19, 0}});
    TestPatterns patterns;
    patterns.add({1, 2, 3, 4, 5}, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    patterns.add({0x77, 0, 0x77, 0x77}, {0xFF, 0, 0xFF, 0xFF});
    patterns.add({0x77, 0x77, 0x77, 0x77, 0x77}, {0xFF, 0xFF, 0xFF, 0xFF, 0});
    // A pattern byte past the file never matches, not even with a zero mask: at 20 "Little"
    // would need F[20..22] and F[23].
    patterns.add({0x77, 0x77, 0x77, 0}, {0xFF, 0xFF, 0xFF, 0});
    // Segments that claim more than the file holds (read_elf clips them; the scan must not
    // rely on it): nothing past the file is read, and nothing there matches.
    TestImage unclipped(file, {{8, 4000, 0}, {0xFFFFFF00u, 0xFF, 0}}, {{21, 70000, 0}});
    for (bool swap : {false, true})
        for (uint32_t step : {1u, 2u, 4u})
            for (bool executable : {true, false}) {
                for (const FoundMatch& m : expect_same(image, {executable, swap, step}, patterns))
                    EXPECT_TRUE(m.offset < 20 && (m.pattern != 0 || m.offset == 12)) << m.offset;
                expect_same(unclipped, {executable, swap, step}, patterns);
            }
    // An unusual step leaves the fast path for the literal engine.
    EXPECT_EQ(scan(Engine::fast_default, image, {true, true, 3}, patterns),
              scan(Engine::reference, image, {true, true, 3}, patterns));
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
        std::vector<uint32_t> want;
        for (uint32_t at : places)
            if (at % step == 0)
                want.insert(want.end(), {at, at});
        EXPECT_EQ(offsets(expect_same(image, {true, false, step}, patterns, false)), want);
    }
    expect_same(image, {true, true, 2}, patterns, false);
}

} // namespace
