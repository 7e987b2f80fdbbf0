#include <gtest/gtest.h>

#include <chrono>

#include "core/result_format.h"
#include "core/search_rules.h"
#include "fixtures.h"

namespace {

TEST(ResultBuffer, GrowsAndKeepsEveryPiece) {
    ResultBuffer buffer;
    ASSERT_EQ(result_buffer_init(&buffer), 1);
    std::string exact(4095, 'a'), big(10000, 'c');
    ASSERT_EQ(result_append(&buffer, 1, "%s", exact.c_str()), 1);
    EXPECT_EQ(buffer.capacity, 4096u);
    ASSERT_EQ(result_append(&buffer, 1, "%s", "b"), 1);
    ASSERT_EQ(result_append(&buffer, 1, "%s|%d", big.c_str(), 42), 1);
    EXPECT_EQ(std::string(buffer.text), exact + "b" + big + "|42");
    EXPECT_EQ(buffer.length, 4095u + 1 + 10000 + 3);
    EXPECT_EQ(buffer.capacity % 4096, 0u);
    result_buffer_free(&buffer);
}

// Three patterns taking turns over a million matches: each block must find its own lines
// without walking the whole list again.
TEST(ResultText, MillionMatchesRenderInLinearTime) {
    ElfImage* image = elf_load(elf_bytes(0x1100, {{PT_LOAD, 0x1000, 0x100000, 0x100, PF_X}}));
    PatternList list = patterns("00000000\r\n11111111\r\n22222222");
    MatchList* matches = match_list_reset();
    for (uint32_t i = 0; i < 1000000; ++i) {
        ASSERT_EQ(append_match(matches, list.values[i % 3], list.masks[i % 3], i, 0x1000), 1);
    }
    ResultBuffer buffer;
    ASSERT_EQ(result_buffer_init(&buffer), 1);
    auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(result_render(&buffer, &list, nullptr, matches->head, image, false, FORMAT_ADDRESS),
              1);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    printf("1000000 matches rendered in %.3f s\n", seconds);
    EXPECT_LT(seconds, 10.0);
    EXPECT_EQ(buffer.length, 1000000u * 21 + 3 * (28 + 28 + 2));
    EXPECT_TRUE(std::string(buffer.text, 100)
                    .starts_with("//Search pattern: 00000000\r\n//Search mask:    FFFFFFFF\r\n"
                                 "00000000 //00000000\r\n00000003 //"));
    result_buffer_free(&buffer);
    free_matches(matches->head);
    pattern_list_free(&list);
    free_elf_image(image);
}

// Several format buttons set at once: Offset wins, then Address, then PNACH.
TEST(SearchRules, FormatFromButtons) {
    EXPECT_EQ(search_format_from_buttons(true, true, true, true), FORMAT_OFFSET);
    EXPECT_EQ(search_format_from_buttons(true, true, false, true), FORMAT_ADDRESS);
    EXPECT_EQ(search_format_from_buttons(true, true, false, false), FORMAT_PNACH);
    EXPECT_EQ(search_format_from_buttons(false, false, false, false), FORMAT_RAW_CODE);
}

} // namespace
