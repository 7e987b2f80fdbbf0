#include <gtest/gtest.h>

#include <chrono>

#include "core/result_format.h"
#include "core/search_rules.h"
#include "fixtures.h"

namespace {

// Scans the file with word alignment and renders the result. The image and the match list
// are the core's single records, so each call stands alone.
std::string render(const std::vector<uint8_t>& bytes, const char* search_text,
                   const char* replace_text, bool swap, ResultFormat format) {
    ElfImage* image = elf_load(bytes);
    PatternList search = patterns(search_text);
    PatternList replace = patterns(replace_text);
    MatchList* matches =
        find_matches_reference(image, true, swap, 4, search.count, search.values, search.masks);
    ResultBuffer buffer;
    EXPECT_EQ(result_buffer_init(&buffer), 1);
    EXPECT_EQ(result_render(&buffer, &search, replace.count ? &replace : nullptr, matches->head,
                            image, swap, format),
              1);
    std::string text(buffer.text);
    EXPECT_EQ(text.size(), buffer.length);
    result_buffer_free(&buffer);
    free_matches(matches->head);
    pattern_list_free(&search);
    pattern_list_free(&replace);
    free_elf_image(image);
    return text;
}

// A segment at file offset 0x1000 with address 0x100000; `content` at 0x1008.
std::vector<uint8_t> file_with(std::vector<uint8_t> content, uint32_t address = 0x100000) {
    return elf_bytes(0x1100, {{PT_LOAD, 0x1000, address, 0x100, PF_X}}, 0x1008, content);
}

const std::string HEADER = "//Search pattern: 3C0F0040\r\n//Search mask:    FFFFFFFF\r\n";

TEST(ResultText, AddressAndOffsetLines) {
    auto big = file_with({0x40, 0x00, 0x0F, 0x3C});
    EXPECT_EQ(render(big, "3C0F0040", "", false, FORMAT_ADDRESS),
              HEADER + "00100008 //3C0F0040\r\n\r\n");
    EXPECT_EQ(render(big, "3C0F0040", "", false, FORMAT_OFFSET),
              HEADER + "00001008 //3C0F0040\r\n\r\n");
    EXPECT_EQ(render(file_with({0x3C, 0x0F, 0x00, 0x40}), "3C0F0040", "", true, FORMAT_ADDRESS),
              HEADER + "00100008 //40000F3C\r\n\r\n");
    // Last partial words show only their own digits.
    EXPECT_EQ(render(file_with({4, 3, 2, 1, 0x99, 0x88, 6, 5}), "0102 03040506", "", false,
                     FORMAT_OFFSET),
              "//Search pattern: 010203040506\r\n//Search mask:    FFFFFFFFFFFF\r\n"
              "00001008 //010203040506\r\n\r\n");
    EXPECT_EQ(render(file_with({0x40, 0, 0x0F, 0x3C, 0xFF, 0xFF, 0, 0x65}), "3C0F00x0 *3A 5", "",
                     false, FORMAT_ADDRESS),
              "//Search pattern: 3C0F0000A5\r\n//Search mask:    FFFFFF0F3F\r\n"
              "00100008 //3C0F004065\r\n\r\n");
}

TEST(ResultText, PatchLines) {
    auto bytes = file_with({0x40, 0x00, 0x0F, 0x3C, 0x11, 0x22, 0x33, 0x44});
    EXPECT_EQ(render(bytes, "3C0F0040", "3C0F0041", false, FORMAT_PNACH),
              HEADER + "patch=1,EE,00100008,word,3C0F0041 //3C0F0040\r\n\r\n");
    EXPECT_EQ(render(bytes, "3C0F0040", "3C0F0041", false, FORMAT_RAW_CODE),
              HEADER + "20100008 3C0F0041 //3C0F0040\r\n\r\n");
    // "Little" reverses replace words and masks.
    EXPECT_EQ(render(bytes, "40000F3C", "41xx0F3C", true, FORMAT_PNACH),
              "//Search pattern: 40000F3C\r\n//Search mask:    FFFFFFFF\r\n"
              "patch=1,EE,00100008,word,3C0F0041 //3C0F0040\r\n\r\n");
    // Replace bits outside the mask keep the file's; value bits outside it are still set.
    EXPECT_EQ(render(bytes, "3C0F0040", "xxxx0001", false, FORMAT_PNACH),
              HEADER + "patch=1,EE,00100008,word,3C0F0001 //3C0F0040\r\n\r\n");
    EXPECT_EQ(render(bytes, "3C0F0040", "*0F *0F 0F0040", false, FORMAT_RAW_CODE),
              HEADER + "20100008 FF0F0040 //3C0F0040\r\n\r\n");
    // Only changed words give lines.
    EXPECT_EQ(render(bytes, "3C0F0040", "3C0F0040", false, FORMAT_PNACH), HEADER + "\r\n");
    EXPECT_EQ(render(bytes, "3C0F0040 44332211", "3C0F0040 44332299", false, FORMAT_RAW_CODE),
              "//Search pattern: 3C0F004044332211\r\n//Search mask:    FFFFFFFFFFFFFFFF\r\n"
              "2010000C 44332299 //44332211\r\n\r\n");
    // An address of eight digits makes nine characters after the 2.
    EXPECT_EQ(render(file_with({0x40, 0x00, 0x0F, 0x3C}, 0x80001000), "3C0F0040", "3C0F0041", false,
                     FORMAT_RAW_CODE),
              HEADER + "280001008 3C0F0041 //3C0F0040\r\n\r\n");
}

TEST(ResultText, BlocksPerPatternAndEmptyResult) {
    auto bytes = file_with({0x40, 0x00, 0x0F, 0x3C});
    EXPECT_EQ(render(bytes, "11111111\r\n3C0F0040", "", false, FORMAT_OFFSET),
              "//Search pattern: 11111111\r\n//Search mask:    FFFFFFFF\r\n\r\n" + HEADER +
                  "00001008 //3C0F0040\r\n\r\n");
    for (ResultFormat format : {FORMAT_ADDRESS, FORMAT_OFFSET, FORMAT_PNACH, FORMAT_RAW_CODE}) {
        EXPECT_EQ(render(bytes, "11111111\r\n22222222", "11111111\r\n22222222", false, format),
                  "No matches found");
    }
}

TEST(ResultText, WordsPastTheFileShowZeros) {
    // The file ends at 0x100A; the second data word of a match at 0x1004 needs 0x100A, 0x100B.
    auto bytes =
        elf_bytes(0x100A, {{PT_LOAD, 0x1000, 0x100000, 0x10, PF_X}}, 0x1004, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(render(bytes, "0102030405", "", true, FORMAT_OFFSET),
              "//Search pattern: 0102030405\r\n//Search mask:    FFFFFFFFFF\r\n"
              "00001004 //0403020100\r\n\r\n");
}

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

TEST(ResultText, MillionMatchesRenderInLinearTime) {
    ElfImage* image = elf_load(file_with({}));
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

TEST(SearchRules, PatchFormatsNeedMatchingWordPatterns) {
    PatternList four = patterns("11111111"), two = patterns("11111111\n22222222"),
                eight = patterns("1111111122222222"), six = patterns("111111111111");
    for (ResultFormat patch : {FORMAT_PNACH, FORMAT_RAW_CODE}) {
        EXPECT_EQ(search_check_patch_patterns(patch, &four, nullptr), MSG_REPLACE_REQUIRED);
        EXPECT_EQ(search_check_patch_patterns(patch, &two, &four), MSG_REPLACE_MISMATCH);
        EXPECT_EQ(search_check_patch_patterns(patch, &four, &eight), MSG_REPLACE_MISMATCH);
        EXPECT_EQ(search_check_patch_patterns(patch, &six, &four), MSG_REPLACE_MISMATCH);
        EXPECT_EQ(search_check_patch_patterns(patch, &six, &six), MSG_WORD_DIVISIBLE);
        EXPECT_EQ(search_check_patch_patterns(patch, &two, &two), nullptr);
    }
    EXPECT_EQ(search_check_patch_patterns(FORMAT_ADDRESS, &six, nullptr), nullptr);
    EXPECT_EQ(search_check_patch_patterns(FORMAT_OFFSET, &six, nullptr), nullptr);
    for (PatternList* list : {&four, &two, &eight, &six}) {
        pattern_list_free(list);
    }
    EXPECT_EQ(search_format_from_buttons(true, true, true, true), FORMAT_OFFSET);
    EXPECT_EQ(search_format_from_buttons(true, true, false, true), FORMAT_ADDRESS);
    EXPECT_EQ(search_format_from_buttons(true, true, false, false), FORMAT_PNACH);
    EXPECT_EQ(search_format_from_buttons(false, false, false, false), FORMAT_RAW_CODE);
}

} // namespace
