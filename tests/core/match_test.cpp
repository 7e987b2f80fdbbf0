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

// The comparison rule and the scan written out position by position, as an independent
// check of the engines: words in order with a cursor that never moves back, then patterns,
// then shifts; a match ends inside its segment and reads nothing past the file.
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
