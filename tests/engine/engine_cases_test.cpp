// Cases chosen by hand: byte orders at odd positions, patterns with nothing fixed, overlapping
// and repeating matches, segment ends, the end of the file, and files large enough for several
// threads. Each is checked against the literal engine and, where the answer is short, against
// the expected positions themselves.
#include <algorithm>

#include <gtest/gtest.h>

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
                                    const TestPatterns& patterns, bool every_division = true) {
    std::vector<FoundMatch> want = scan_reference(image, options, patterns);
    EXPECT_EQ(scan_default(image, options, patterns), want);
    if (!every_division)
        return want;
    for (MatchFastTuning tuning : {MatchFastTuning{1, 0, false}, MatchFastTuning{2, 7, false},
                                   MatchFastTuning{3, 1, true}, MatchFastTuning{2, 64, true}})
        EXPECT_EQ(scan_tuned(image, options, patterns, tuning), want)
            << "threads " << tuning.threads << ", chunk " << tuning.chunk_words
            << (tuning.portable ? ", portable" : "");
    return want;
}

TEST(EngineCases, ByteOrdersAtOddPositions) {
    // "Little" keeps the file's four-byte groups: AA BB CC DD at 4w+1 takes bytes 4w+1, 4w+2,
    // 4w+3 of one group... read through the flip, F[4w]=BB, F[4w+1]=CC, F[4w+2]=DD, F[4w+7]=AA.
    std::vector<uint8_t> file(32, 0x11);
    file[8] = 0xBB;
    file[9] = 0xCC;
    file[10] = 0xDD;
    file[15] = 0xAA;
    // The same bytes in plain order at 21 for "Big", which compares unaligned words.
    file[21] = 0xDD;
    file[22] = 0xCC;
    file[23] = 0xBB;
    file[24] = 0xAA;
    TestImage image(file, {{0, 32, 0x1000}}, {});
    TestPatterns patterns;
    patterns.add_text("AABBCCDD");
    EXPECT_EQ(offsets(expect_same(image, {true, true, 1}, patterns)), std::vector<uint32_t>{9});
    EXPECT_EQ(offsets(expect_same(image, {true, false, 1}, patterns)), std::vector<uint32_t>{21});
    EXPECT_TRUE(expect_same(image, {true, true, 2}, patterns).empty());

    // Five bytes in "Big": F[p+3..p] hold 01..04, F[p+7] holds 05, F[p+4..p+6] are free.
    std::vector<uint8_t> five = {4, 3, 2, 1, 0xEE, 0xEE, 0xEE, 5};
    TestImage image5(five, {{0, 8, 0}}, {});
    TestPatterns p5;
    p5.add_text("0102030405");
    EXPECT_EQ(offsets(expect_same(image5, {true, false, 4}, p5)), std::vector<uint32_t>{0});
    EXPECT_TRUE(expect_same(image5, {true, true, 4}, p5).empty());
}

TEST(EngineCases, NothingFixedMatchesEveryCandidateThatFits) {
    std::vector<uint8_t> file(4096, 0x5A);
    TestImage image(file, {{0, 64, 0}, {1000, 3000, 0x400000}}, {});
    TestPatterns patterns;
    patterns.add({0, 0, 0, 0}, {0, 0, 0, 0});
    patterns.add(std::vector<uint8_t>(9, 0x5A), std::vector<uint8_t>(9, 0));
    std::vector<FoundMatch> all = expect_same(image, {true, true, 1}, patterns);
    // First segment: p + 4 <= 64 gives 61 places for the short pattern, 56 for the long one.
    size_t first = 0;
    while (first < all.size() && all[first].offset < 64)
        first++;
    EXPECT_EQ(first, 61u + 56u);
    // Every position from the cursor on, addresses with the second segment's delta.
    EXPECT_EQ(all.back().address, all.back().offset + 0x400000);
    expect_same(image, {true, false, 2}, patterns);
}

TEST(EngineCases, RepeatingBytesGiveOverlappingMatchesInOrder) {
    // A large run of zeros: every shift of every word matches, several patterns per word, so
    // the order within a word (pattern, then shift) decides the whole list.
    std::vector<uint8_t> file(1 << 14, 0);
    file[10001] = 1;
    TestImage image(file, {{6, (1 << 14) - 6, 0x80000000}}, {{0, 1 << 14, 0}});
    TestPatterns patterns;
    patterns.add_text("00000000");
    patterns.add_text("0000000000x0");
    patterns.add_text("00 00 00 00 00 00 00 01");
    std::vector<FoundMatch> want = expect_same(image, {true, false, 1}, patterns);
    EXPECT_GT(want.size(), 30000u);
    ASSERT_GE(want.size(), 4u);
    // Word 1 holds shifts 2 and 3 of the segment that starts at 6.
    EXPECT_EQ(want[0].offset, 4u);
    EXPECT_EQ(want[0].pattern, 0u);
    expect_same(image, {false, true, 2}, patterns);
    expect_same(image, {true, true, 4}, patterns);
}

TEST(EngineCases, SegmentEndsAndTheCursor) {
    std::vector<uint8_t> file(256, 0);
    for (uint32_t at : {60u, 100u, 128u, 200u}) { // DEADBEEF, little-endian words
        file[at] = 0xEF;
        file[at + 1] = 0xBE;
        file[at + 2] = 0xAD;
        file[at + 3] = 0xDE;
    }
    TestPatterns patterns;
    patterns.add_text("DEADBEEF");
    ScanOptions big{true, false, 4};
    // 60..63 runs past the end of [0, 62), and [64, 100) starts after it.
    TestImage split(file, {{0, 62, 0}, {64, 36, 0}}, {});
    EXPECT_TRUE(expect_same(split, big, patterns).empty());
    // Out of order and overlapping: [120, 210) first, then [0, 140) is not scanned at all
    // (it ends before the cursor), then [100, 256) only from the cursor on.
    TestImage shuffled(file, {{120, 90, 0x10}, {0, 140, 0x20}, {100, 156, 0x30}}, {});
    std::vector<FoundMatch> found = expect_same(shuffled, big, patterns);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].offset, 128u);
    EXPECT_EQ(found[0].address, 128u + 0x10);
    EXPECT_EQ(found[1].offset, 200u);
    EXPECT_EQ(found[1].address, 200u + 0x10);
    // An unaligned segment start makes the word before it a candidate too.
    TestImage unaligned(file, {{101, 20, 0}}, {});
    EXPECT_EQ(offsets(expect_same(unaligned, big, patterns)), std::vector<uint32_t>{100});
}

TEST(EngineCases, TheEndOfTheFile) {
    // 23 bytes: the last word is incomplete. "Big" 5-byte pattern at 16 needs F[16..19] and
    // F[23], which the file lacks; at 12 it needs F[19], which it has, and F[16..18] are free.
    std::vector<uint8_t> file(23, 0x77);
    file[12] = 4;
    file[13] = 3;
    file[14] = 2;
    file[15] = 1;
    file[19] = 5;
    file[16] = 4;
    file[17] = 3;
    file[18] = 2;
    file[19] = 5; // also byte 3 of the group at 16, which wants 01: no match there
    TestImage image(file, {{0, 23, 0}}, {{4, 19, 0}});
    TestPatterns patterns;
    patterns.add_text("0102030405");
    patterns.add_text("77xx"
                      "7777");
    patterns.add({0x77, 0x77, 0x77, 0x77, 0x77}, {0xFF, 0xFF, 0xFF, 0xFF, 0});
    for (bool swap : {false, true})
        for (uint32_t step : {1u, 2u, 4u})
            for (bool executable : {true, false})
                expect_same(image, {executable, swap, step}, patterns);
    TestPatterns five;
    five.add_text("0102030405");
    EXPECT_EQ(offsets(expect_same(image, {true, false, 4}, five)), std::vector<uint32_t>{12});
    // A pattern byte past the file never matches, not even with a zero mask: at 20 "Little"
    // would need F[20..22] and F[23].
    TestPatterns wild_end;
    wild_end.add({0x77, 0x77, 0x77, 0}, {0xFF, 0xFF, 0xFF, 0});
    std::vector<uint32_t> at = offsets(expect_same(image, {true, true, 4}, wild_end));
    EXPECT_TRUE(std::find(at.begin(), at.end(), 20u) == at.end());

    // Segments that claim more than the file holds (read_elf clips them; the scan does not
    // rely on it): nothing past the file is read, and nothing there matches.
    TestImage unclipped(file, {{8, 4000, 0}, {0xFFFFFF00u, 0xFF, 0}}, {{21, 70000, 0}}, true);
    for (bool swap : {false, true})
        for (uint32_t step : {1u, 4u})
            for (bool executable : {true, false})
                expect_same(unclipped, {executable, swap, step}, patterns);
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
    patterns.add_text("3C0F0040123456");
    patterns.add_text("3C0F0040 12x456");
    for (uint32_t step : {1u, 4u}) {
        std::vector<uint32_t> want;
        for (uint32_t at : places)
            if (at % step == 0)
                want.insert(want.end(), {at, at});
        EXPECT_EQ(offsets(expect_same(image, {true, false, step}, patterns, false)), want);
    }
    expect_same(image, {true, true, 2}, patterns, false);
}

TEST(EngineCases, UnusualStepFallsBackToTheLiteralEngine) {
    std::vector<uint8_t> file(64, 0);
    TestImage image(file, {{0, 64, 0}}, {});
    TestPatterns patterns;
    patterns.add_text("00000000");
    EXPECT_EQ(scan_default(image, {true, true, 3}, patterns),
              scan_reference(image, {true, true, 3}, patterns));
}

} // namespace
