#include <gtest/gtest.h>

#include <random>

#include "core/match.h"
#include "fixtures.h"

namespace {

// Each match as "pattern@offset=address", in list order. Releases the list.
std::string describe(MatchList* list, const PatternList& patterns) {
    EXPECT_NE(list, nullptr);
    std::string out;
    char piece[40];
    for (const Match* m = list ? list->head : nullptr; m; m = m->next) {
        uint32_t i = 0;
        while (i < patterns.count && patterns.values[i] != m->value) {
            ++i;
        }
        EXPECT_EQ(m->mask, patterns.masks[i]);
        snprintf(piece, sizeof piece, "%u@%X=%X ", i, m->offset, m->address);
        out += piece;
    }
    free_matches(list ? list->head : nullptr);
    return out;
}

std::string scan(const std::vector<uint8_t>& bytes, const char* text, bool swap, uint32_t step) {
    ElfImage* image = elf_load(bytes);
    PatternList list = patterns(text);
    std::string out = describe(
        find_matches_reference(image, true, swap, step, list.count, list.values, list.masks), list);
    pattern_list_free(&list);
    free_elf_image(image);
    return out;
}

// One executable segment at file offset 0x1000, address 0x100000.
std::vector<uint8_t> file(uint32_t at, std::vector<uint8_t> content, uint32_t size = 0x100) {
    return elf_bytes(0x1100, {{PT_LOAD, 0x1000, 0x100000, size, PF_X}}, at, content);
}

TEST(MatchEngine, ComparisonRule) {
    auto bytes =
        file(0x1008, {0x40, 0x00, 0x0F, 0x3C, 0x3C, 0x0F, 0x00, 0x40, 0, 0x40, 0x00, 0x0F, 0x3C});
    EXPECT_EQ(scan(bytes, "3C0F0040", false, 4), "0@1008=100008 ");
    EXPECT_EQ(scan(bytes, "3C0F0040", true, 4), "0@100C=10000C ");
    EXPECT_EQ(scan(bytes, "3C0F0040", false, 1), "0@1008=100008 0@1011=100011 ");
    EXPECT_EQ(scan(bytes, "3C0F00x0", false, 2), "0@1008=100008 ");
    // "Little" keeps the groups aligned to the file: AABBCCDD at 4w+1 reads 4w..4w+2, 4w+7.
    EXPECT_EQ(scan(file(0x1010, {0xBB, 0xCC, 0xDD, 0, 0, 0, 0, 0xAA}), "AABBCCDD", true, 1),
              "0@1011=100011 ");
    // A last partial group: "Big" compares its byte with the top of the next file word.
    auto five = file(0x1010, {4, 3, 2, 1, 5, 0, 0, 5});
    EXPECT_EQ(scan(five, "0102030405", false, 4), "0@1010=100010 ");
    EXPECT_EQ(scan(five, "0403020105", true, 4), "0@1010=100010 ");
}

TEST(MatchEngine, OrderAndSegmentBounds) {
    // By word, then pattern, then shift.
    auto ones = file(0x1010, {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11});
    EXPECT_EQ(scan(ones, "11111111\n1111xxxx", false, 2),
              "1@100E=10000E 0@1010=100010 0@1012=100012 1@1010=100010 1@1012=100012 "
              "0@1014=100014 1@1014=100014 ");
    // A ends at 0x1010 and B, overlapping it, does not extend it; the cursor is past B's start.
    // C lies before the cursor. D starts unaligned: its first candidate is the word holding
    // its first byte, its last the last whole word of its size.
    auto bytes = elf_bytes(0x1100,
                           {
                               {PT_LOAD, 0x1000, 0x1000, 0x10, PF_X},
                               {PT_LOAD, 0x1008, 0x8000, 0x10, PF_X},
                               {PT_LOAD, 0x1000, 0x9000, 0x08, PF_X},
                               {PT_LOAD, 0x1041, 0xA001, 0x0F, PF_X},
                           },
                           0x100C, {0x78, 0x56, 0x34, 0x12, 0x21, 0x43, 0x65, 0x87});
    for (uint32_t at : {0x1040u, 0x1048u, 0x104Cu}) {
        put32(bytes, at, 0x12345678);
    }
    EXPECT_EQ(scan(bytes, "12345678\n1234567887654321", false, 4),
              "0@100C=100C 0@1040=A000 0@1048=A008 ");
    EXPECT_EQ(scan(file(0, {}), "DEADBEEF", false, 4), "");
}

TEST(MatchEngine, NothingPastTheFileIsReadOrMatched) {
    // The segment runs to the end of a file of 0x56 bytes; its last candidate word is 0x50.
    auto bytes = elf_bytes(0x56, {{PT_LOAD, 0x40, 0x40, 0x40, PF_X}}, 0x50, {4, 3, 2, 1, 5, 5});
    // "Big" compares a fifth byte with F[0x57], "Little" at 0x51 reads F[0x57] too: no match,
    // even for a wildcard there.
    EXPECT_EQ(scan(bytes, "0102030405\nxxxxxxxx05\n01020304xx", false, 4), "");
    EXPECT_EQ(scan(bytes, "xx040302\n00040302", true, 1), "");
    EXPECT_EQ(scan(bytes, "01020304\n04030201", false, 4), "0@50=50 ");
}

// The comparison rule and the scan written out position by position, as an independent
// check of the engines on random files.
std::string oracle(const ElfImage* image, const PatternList& list, bool swap, uint32_t step) {
    std::string out;
    char piece[40];
    const RangeSet& set = image->ranges[0];
    uint64_t w = set.file_offset[0] / 4;
    for (uint32_t k = 0; k < set.count; ++k) {
        uint64_t end = uint64_t{set.file_offset[k]} + set.file_size[k];
        for (; w < set.file_offset[k] / 4 + set.file_size[k] / 4; ++w) {
            for (uint32_t i = 0; i < list.count; ++i) {
                for (uint32_t s = 0; s < 4; s += step) {
                    uint64_t p = 4 * w + s;
                    bool match = p + list.values[i]->length <= end;
                    for (uint32_t n = 0; match && n < list.values[i]->length; ++n) {
                        uint64_t at = (p + (n ^ 3)) ^ (swap ? 3 : 0);
                        uint8_t m = pattern_byte(list.masks[i], n);
                        match = at < image->size &&
                                (image->data[at] & m) == (pattern_byte(list.values[i], n) & m);
                    }
                    if (match) {
                        snprintf(piece, sizeof piece, "%u@%X=%X ", i, static_cast<uint32_t>(p),
                                 static_cast<uint32_t>(p) + set.address_delta[k]);
                        out += piece;
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
        for (uint32_t i = 0x80; i < size; ++i) {
            bytes[i] = static_cast<uint8_t>(random() % 2); // few values: many matches
        }
        std::string text;
        for (int i = 0; i < 3; ++i) {
            for (int d = 0, digits = 8 + 2 * (random() % 6); d < digits; ++d) {
                text += d % 2 ? "01x"[random() % 3] : '0';
            }
            text += "\r\n";
        }
        ElfImage* image = elf_load(bytes);
        PatternList list = patterns(text.c_str());
        for (uint32_t step : {1u, 2u, 4u}) {
            for (bool swap : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << "round " << round << " step " << step << " swap " << swap << "\n"
                             << text);
                std::string expected = oracle(image, list, swap, step);
                total += expected.size();
                EXPECT_EQ(describe(find_matches_reference(image, true, swap, step, list.count,
                                                          list.values, list.masks),
                                   list),
                          expected);
                EXPECT_EQ(describe(find_matches(image, true, swap, step, list.count, list.values,
                                                list.masks),
                                   list),
                          expected);
            }
        }
        pattern_list_free(&list);
        free_elf_image(image);
    }
    EXPECT_GT(total, 10000u) << "the random files should give plenty of matches";
}

} // namespace
