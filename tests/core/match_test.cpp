#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "core/match.h"
#include "fixtures.h"

namespace {

const uint32_t PT_LOAD = 1;
const uint32_t PF_X = 1;

struct Found {
    uint32_t pattern;
    uint32_t offset;
    uint32_t address;
    bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Found& f) {
    return out << "{" << f.pattern << ", 0x" << std::hex << f.offset << ", 0x" << f.address
               << std::dec << "}";
}

std::vector<Found> scan(const ElfImage* image, const PatternList& list, bool swap, uint32_t step,
                        bool executable = true) {
    MatchList* result =
        find_matches_reference(image, executable, swap, step, list.count, list.values, list.masks);
    EXPECT_NE(result, nullptr);
    std::vector<Found> out;
    if (!result) {
        return out;
    }
    for (const Match* m = result->head; m; m = m->next) {
        uint32_t index = 0;
        while (index < list.count && list.values[index] != m->value) {
            ++index;
        }
        EXPECT_EQ(m->mask, list.masks[index]);
        out.push_back({index, m->offset, m->address});
    }
    free_matches(result->head);
    return out;
}

void put(std::vector<uint8_t>& bytes, uint32_t at, std::initializer_list<uint8_t> values) {
    for (uint8_t v : values) {
        bytes[at++] = v;
    }
}

// One executable segment at 0x1000, address 0x100000, of `size` bytes in a file of 0x1100.
std::vector<uint8_t> one_segment(uint32_t size = 0x100) {
    return elf_bytes(0x1100, {{PT_LOAD, 0x1000, 0x100000, size, PF_X}});
}

TEST(MatchEngine, ByteOrderOfTheComparison) {
    auto bytes = one_segment();
    put(bytes, 0x1008, {0x40, 0x00, 0x0F, 0x3C});
    put(bytes, 0x1010, {0x3C, 0x0F, 0x00, 0x40});
    put(bytes, 0x1021, {0x40, 0x00, 0x0F, 0x3C});
    ElfImage* image = elf_load(bytes);
    PatternList list = patterns("3C0F0040");
    EXPECT_EQ(scan(image, list, false, 4), (std::vector<Found>{{0, 0x1008, 0x100008}}));
    EXPECT_EQ(scan(image, list, true, 4), (std::vector<Found>{{0, 0x1010, 0x100010}}));
    EXPECT_EQ(scan(image, list, false, 1),
              (std::vector<Found>{{0, 0x1008, 0x100008}, {0, 0x1021, 0x100021}}));
    EXPECT_EQ(scan(image, list, false, 2), (std::vector<Found>{{0, 0x1008, 0x100008}}));
    pattern_list_free(&list);
    free_elf_image(image);
}

TEST(MatchEngine, LittleKeepsGroupsAlignedToTheFile) {
    // AA BB CC DD at p = 4w+1 compares F[4w], F[4w+1], F[4w+2] and F[4w+7].
    auto bytes = one_segment();
    put(bytes, 0x1010, {0xBB, 0xCC, 0xDD, 0x99, 0x99, 0x99, 0x99, 0xAA});
    ElfImage* image = elf_load(bytes);
    PatternList list = patterns("AABBCCDD");
    EXPECT_EQ(scan(image, list, true, 1), (std::vector<Found>{{0, 0x1011, 0x100011}}));
    pattern_list_free(&list);
    free_elf_image(image);
}

TEST(MatchEngine, PartialLastGroup) {
    PatternList list = patterns("0102030405");
    auto big = one_segment();
    put(big, 0x1010, {0x04, 0x03, 0x02, 0x01, 0x77, 0x77, 0x77, 0x05});
    ElfImage* image = elf_load(big);
    EXPECT_EQ(scan(image, list, false, 4), (std::vector<Found>{{0, 0x1010, 0x100010}}));
    EXPECT_TRUE(scan(image, list, true, 4).empty());

    auto little = one_segment();
    put(little, 0x1010, {0x01, 0x02, 0x03, 0x04, 0x05, 0x77, 0x77, 0x77});
    image = elf_load(little);
    EXPECT_EQ(scan(image, list, true, 4), (std::vector<Found>{{0, 0x1010, 0x100010}}));
    EXPECT_TRUE(scan(image, list, false, 4).empty());
    pattern_list_free(&list);
    free_elf_image(image);
}

TEST(MatchEngine, MasksLeaveBitsOut) {
    auto bytes = one_segment();
    put(bytes, 0x1000, {0x00, 0x00, 0x0F, 0x3C}); // 3C0F0000
    put(bytes, 0x1004, {0xF0, 0x00, 0x0F, 0x3C}); // 3C0F00F0
    put(bytes, 0x1008, {0x01, 0x00, 0x0F, 0x3C}); // 3C0F0001
    ElfImage* image = elf_load(bytes);
    PatternList list = patterns("3C0F00x0");
    EXPECT_EQ(scan(image, list, false, 4),
              (std::vector<Found>{{0, 0x1000, 0x100000}, {0, 0x1004, 0x100004}}));
    pattern_list_free(&list);
    free_elf_image(image);
}

TEST(MatchEngine, DiscoveryOrder) {
    auto bytes = one_segment();
    put(bytes, 0x1010, {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11});
    ElfImage* image = elf_load(bytes);
    PatternList list = patterns("11111111\n1111xxxx\n");
    // By word, then pattern, then shift: pattern 0 at 0x1012 comes before pattern 1 at 0x1010.
    EXPECT_EQ(scan(image, list, false, 2), (std::vector<Found>{{1, 0x100E, 0x10000E},
                                                               {0, 0x1010, 0x100010},
                                                               {0, 0x1012, 0x100012},
                                                               {1, 0x1010, 0x100010},
                                                               {1, 0x1012, 0x100012},
                                                               {0, 0x1014, 0x100014},
                                                               {1, 0x1014, 0x100014}}));
    pattern_list_free(&list);
    free_elf_image(image);
}

TEST(MatchEngine, SegmentBoundsAndCursor) {
    // Segment A: 0x1000..0x1010. Segment B starts in the middle of A (overlap), segment C
    // lies before the cursor and is skipped, segment D starts unaligned.
    auto bytes = elf_bytes(0x1100, {
                                       {PT_LOAD, 0x1000, 0x1000, 0x10, PF_X},
                                       {PT_LOAD, 0x1008, 0x8000, 0x10, PF_X},
                                       {PT_LOAD, 0x1000, 0x9000, 0x08, PF_X},
                                       {PT_LOAD, 0x1041, 0xA001, 0x0F, PF_X},
                                   });
    put(bytes, 0x100C, {0x78, 0x56, 0x34, 0x12, 0x21, 0x43, 0x65, 0x87});
    put(bytes, 0x1040, {0x78, 0x56, 0x34, 0x12});
    put(bytes, 0x1048, {0x78, 0x56, 0x34, 0x12});
    put(bytes, 0x104C, {0x78, 0x56, 0x34, 0x12});
    ElfImage* image = elf_load(bytes);
    PatternList list = patterns("12345678\n8765432112345678");
    // Pattern 1 would need 0x100C..0x1013, past A's end; B does not extend A, and the cursor
    // is past 0x1008 when B starts, so B's scan begins at 0x1010.
    // D's candidates are the three words from the one that holds its first byte, so the word
    // before its first byte is one and the word at 0x104C (inside D) is not.
    EXPECT_EQ(scan(image, list, false, 4),
              (std::vector<Found>{{0, 0x100C, 0x100C}, {0, 0x1040, 0xA000}, {0, 0x1048, 0xA008}}));
    pattern_list_free(&list);
    free_elf_image(image);
}

TEST(MatchEngine, EmptyResults) {
    auto bytes = one_segment();
    ElfImage* image = elf_load(bytes);
    PatternList list = patterns("DEADBEEF");
    MatchList* result =
        find_matches_reference(image, true, false, 4, list.count, list.values, list.masks);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->head, nullptr);
    result = find_matches_reference(image, false, false, 4, list.count, list.values, list.masks);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->head, nullptr);
    pattern_list_free(&list);
    free_elf_image(image);
}

TEST(MatchEngine, NothingPastTheFileIsReadOrMatched) {
    // The segment runs to the end of a file of 0x56 bytes: its last word is 0x50..0x53.
    auto bytes = elf_bytes(0x56, {{PT_LOAD, 0x40, 0x40, 0x40, PF_X}});
    put(bytes, 0x50, {0x04, 0x03, 0x02, 0x01, 0x05, 0x05});
    ElfImage* image = elf_load(bytes);
    ASSERT_EQ(image->ranges[0].file_size[0], 0x16u);

    // "Big": the fifth byte is compared with F[0x57], which the file does not have, even when
    // that byte is a wildcard.
    PatternList five = patterns("0102030405\nxxxxxxxx05\n01020304xx");
    EXPECT_TRUE(scan(image, five, false, 4).empty());
    pattern_list_free(&five);

    // "Little" at 0x51 compares F[0x50..0x52] and F[0x57].
    PatternList shifted = patterns("xx040302\n00040302");
    EXPECT_TRUE(scan(image, shifted, true, 1).empty());
    pattern_list_free(&shifted);

    // The same candidates inside the file do match.
    PatternList inside = patterns("01020304\n04030201");
    EXPECT_EQ(scan(image, inside, false, 4), (std::vector<Found>{{0, 0x50, 0x50}}));
    EXPECT_EQ(scan(image, inside, true, 4), (std::vector<Found>{{1, 0x50, 0x50}}));
    pattern_list_free(&inside);
    free_elf_image(image);
}

// The comparison rule and the scan taken word for word, position by position, as an
// independent check of the engine on random files.
std::vector<Found> oracle(const ElfImage* image, const PatternList& list, bool swap,
                          uint32_t step) {
    std::vector<Found> out;
    const RangeSet& set = image->ranges[0];
    const uint32_t e = swap ? 3 : 0;
    uint64_t w = set.file_offset[0] / 4;
    for (uint32_t k = 0; k < set.count; ++k) {
        uint64_t end = uint64_t{set.file_offset[k]} + set.file_size[k];
        for (; w < set.file_offset[k] / 4 + set.file_size[k] / 4; ++w) {
            for (uint32_t i = 0; i < list.count; ++i) {
                uint32_t length = list.values[i]->length;
                for (uint32_t s = 0; s < 4; s += step) {
                    uint64_t p = 4 * w + s;
                    bool match = p + length <= end;
                    for (uint32_t n = 0; match && n < length; ++n) {
                        uint64_t at = (p + (n ^ 3)) ^ e;
                        uint8_t m = pattern_byte(list.masks[i], n);
                        match = at < image->size &&
                                (image->data[at] & m) == (pattern_byte(list.values[i], n) & m);
                    }
                    if (match) {
                        uint32_t offset = static_cast<uint32_t>(p);
                        out.push_back({i, offset, offset + set.address_delta[k]});
                    }
                }
            }
        }
        if (k + 1 < set.count && w < set.file_offset[k + 1] / 4) {
            w = set.file_offset[k + 1] / 4;
        }
    }
    return out;
}

TEST(MatchEngine, AgreesWithTheRuleOnRandomFiles) {
    std::mt19937 random(20240607);
    size_t total = 0;
    for (int round = 0; round < 40; ++round) {
        uint32_t size = 0x200 + random() % 0x100;
        std::vector<SegmentSpec> segments;
        for (int k = 0; k < 3; ++k) {
            uint32_t offset = 0x80 + random() % (size - 0x80);
            uint32_t length = random() % (size - offset + 16); // may run past the end
            segments.push_back({PT_LOAD, offset, static_cast<uint32_t>(random()), length, PF_X});
        }
        auto bytes = elf_bytes(size, segments);
        // Few byte values, so that patterns match often.
        for (uint32_t i = 0x80; i < size; ++i) {
            bytes[i] = static_cast<uint8_t>(random() % 2);
        }
        std::string text;
        for (int i = 0; i < 3; ++i) {
            int digits = 8 + 2 * (random() % 6);
            for (int d = 0; d < digits; ++d) {
                text += d % 2 ? "01x"[random() % 3] : '0';
            }
            text += "\r\n";
        }
        ElfImage* image = elf_load(bytes);
        ASSERT_NE(image, nullptr);
        PatternList list = patterns(text.c_str());
        ASSERT_EQ(list.count, 3u) << text;
        for (uint32_t step : {1u, 2u, 4u}) {
            for (bool swap : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << "round " << round << " step " << step << " swap " << swap << "\n"
                             << text);
                auto expected = oracle(image, list, swap, step);
                total += expected.size();
                ASSERT_EQ(scan(image, list, swap, step), expected);
                MatchList* fast =
                    find_matches(image, true, swap, step, list.count, list.values, list.masks);
                ASSERT_NE(fast, nullptr);
                size_t n = 0;
                for (const Match* m = fast->head; m; m = m->next, ++n) {
                    ASSERT_LT(n, expected.size());
                    ASSERT_EQ(m->value, list.values[expected[n].pattern]);
                    ASSERT_EQ(m->offset, expected[n].offset);
                    ASSERT_EQ(m->address, expected[n].address);
                }
                EXPECT_EQ(n, expected.size());
                free_matches(fast->head);
            }
        }
        pattern_list_free(&list);
        free_elf_image(image);
    }
    EXPECT_GT(total, 1000u) << "the random files should give plenty of matches";
}

TEST(MatchList, AppendingStaysLinear) {
    MatchList* list = match_list_reset();
    PatternList p = patterns("00000000");
    auto started = std::chrono::steady_clock::now();
    for (uint32_t i = 0; i < 1000000; ++i) {
        ASSERT_EQ(append_match(list, p.values[0], p.masks[0], i + 1, i), 1);
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(seconds, 5.0);
    uint32_t n = 0;
    for (const Match* m = list->head; m; m = m->next, ++n) {
        ASSERT_EQ(m->offset, n);
    }
    EXPECT_EQ(n, 1000000u);
    free_matches(list->head);
    pattern_list_free(&p);
}

TEST(SwapWords, ReversesWholeWordsOnly) {
    uint8_t bytes[7] = {1, 2, 3, 4, 5, 6, 7};
    swap_words(bytes, 7);
    const uint8_t expected[7] = {4, 3, 2, 1, 5, 6, 7};
    EXPECT_EQ(memcmp(bytes, expected, 7), 0);
}

} // namespace
