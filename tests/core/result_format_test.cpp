#include <gtest/gtest.h>

#include <chrono>

#include "core/result_format.h"
#include "core/search_rules.h"
#include "fixtures.h"

namespace {

const uint32_t PT_LOAD = 1;
const uint32_t PF_X = 1;

void put(std::vector<uint8_t>& bytes, uint32_t at, std::initializer_list<uint8_t> values) {
    for (uint8_t v : values) {
        bytes[at++] = v;
    }
}

// Loads the file, scans it with word alignment for the search patterns and renders the result.
// The image and the match list are the core's single records, so each call stands alone.
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

std::vector<uint8_t> file_with(std::initializer_list<uint8_t> at_1008) {
    auto bytes = elf_bytes(0x1100, {{PT_LOAD, 0x1000, 0x100000, 0x100, PF_X}});
    put(bytes, 0x1008, at_1008);
    return bytes;
}

TEST(ResultText, AddressAndOffsetLines) {
    EXPECT_EQ(
        render(file_with({0x40, 0x00, 0x0F, 0x3C}), "3C0F0040", "3C0F0041", false, FORMAT_ADDRESS),
        "//Search pattern: 3C0F0040\r\n"
        "//Search mask:    FFFFFFFF\r\n"
        "00100008 //3C0F0040\r\n"
        "\r\n");
    EXPECT_EQ(
        render(file_with({0x40, 0x00, 0x0F, 0x3C}), "3C0F0040", "3C0F0041", false, FORMAT_OFFSET),
        "//Search pattern: 3C0F0040\r\n"
        "//Search mask:    FFFFFFFF\r\n"
        "00001008 //3C0F0040\r\n"
        "\r\n");
    EXPECT_EQ(render(file_with({0x3C, 0x0F, 0x00, 0x40}), "3C0F0040", "", true, FORMAT_ADDRESS),
              "//Search pattern: 3C0F0040\r\n"
              "//Search mask:    FFFFFFFF\r\n"
              "00100008 //40000F3C\r\n"
              "\r\n");
}

TEST(ResultText, ShortenedWords) {
    EXPECT_EQ(render(file_with({0x04, 0x03, 0x02, 0x01, 0x99, 0x88, 0x06, 0x05}), "0102 03040506",
                     "", false, FORMAT_OFFSET),
              "//Search pattern: 010203040506\r\n"
              "//Search mask:    FFFFFFFFFFFF\r\n"
              "00001008 //010203040506\r\n"
              "\r\n");
    EXPECT_EQ(render(file_with({0x40, 0x00, 0x0F, 0x3C, 0xFF, 0xFF, 0x00, 0x65}), "3C0F00x0 *3A 5",
                     "", false, FORMAT_ADDRESS),
              "//Search pattern: 3C0F0000A5\r\n"
              "//Search mask:    FFFFFF0F3F\r\n"
              "00100008 //3C0F004065\r\n"
              "\r\n");
    std::string text = render(file_with({}), "00000000 000000", "", false, FORMAT_ADDRESS);
    EXPECT_TRUE(text.starts_with("//Search pattern: 00000000000000\r\n"
                                 "//Search mask:    FFFFFFFFFFFFFF\r\n"
                                 "00100000 //00000000000000\r\n"))
        << text.substr(0, 100);
}

TEST(ResultText, PatchLines) {
    EXPECT_EQ(
        render(file_with({0x40, 0x00, 0x0F, 0x3C}), "3C0F0040", "3C0F0041", false, FORMAT_PNACH),
        "//Search pattern: 3C0F0040\r\n"
        "//Search mask:    FFFFFFFF\r\n"
        "patch=1,EE,00100008,word,3C0F0041 //3C0F0040\r\n"
        "\r\n");
    EXPECT_EQ(
        render(file_with({0x40, 0x00, 0x0F, 0x3C}), "3C0F0040", "3C0F0041", false, FORMAT_RAW_CODE),
        "//Search pattern: 3C0F0040\r\n"
        "//Search mask:    FFFFFFFF\r\n"
        "20100008 3C0F0041 //3C0F0040\r\n"
        "\r\n");
    // "Little" reverses the replace words: the same line as above.
    EXPECT_NE(
        render(file_with({0x40, 0x00, 0x0F, 0x3C}), "40000F3C", "41000F3C", true, FORMAT_PNACH)
            .find("patch=1,EE,00100008,word,3C0F0041 //3C0F0040\r\n"),
        std::string::npos);
    // Masked replace bits keep the file's bits; a value bit outside its mask is still set.
    EXPECT_NE(
        render(file_with({0x05, 0x00, 0x02, 0x24}), "24020005", "xxxx0001", false, FORMAT_PNACH)
            .find("patch=1,EE,00100008,word,24020001 //24020005\r\n"),
        std::string::npos);
    EXPECT_NE(render(file_with({0x05, 0x00, 0x02, 0x24}), "24020005", "*0F *0F 020005", false,
                     FORMAT_RAW_CODE)
                  .find("20100008 FF020005 //24020005\r\n"),
              std::string::npos);
}

TEST(ResultText, PatchLinesOnlyForChangedWords) {
    EXPECT_EQ(
        render(file_with({0x40, 0x00, 0x0F, 0x3C}), "3C0F0040", "3C0F0040", false, FORMAT_PNACH),
        "//Search pattern: 3C0F0040\r\n"
        "//Search mask:    FFFFFFFF\r\n"
        "\r\n");
    EXPECT_EQ(render(file_with({0x40, 0x00, 0x0F, 0x3C, 0x11, 0x22, 0x33, 0x44}),
                     "3C0F0040 44332211", "3C0F0040 44332299", false, FORMAT_RAW_CODE),
              "//Search pattern: 3C0F004044332211\r\n"
              "//Search mask:    FFFFFFFFFFFFFFFF\r\n"
              "2010000C 44332299 //44332211\r\n"
              "\r\n");
    // Addresses of eight digits make nine characters after the 2.
    auto high = elf_bytes(0x1100, {{PT_LOAD, 0x1000, 0x80001000, 0x100, PF_X}});
    put(high, 0x1008, {0x40, 0x00, 0x0F, 0x3C});
    EXPECT_NE(render(high, "3C0F0040", "3C0F0041", false, FORMAT_RAW_CODE)
                  .find("\r\n280001008 3C0F0041 //3C0F0040\r\n"),
              std::string::npos);
}

TEST(ResultText, EveryPatternGetsItsBlock) {
    EXPECT_EQ(render(file_with({0x40, 0x00, 0x0F, 0x3C}), "11111111\r\n3C0F0040", "", false,
                     FORMAT_OFFSET),
              "//Search pattern: 11111111\r\n"
              "//Search mask:    FFFFFFFF\r\n"
              "\r\n"
              "//Search pattern: 3C0F0040\r\n"
              "//Search mask:    FFFFFFFF\r\n"
              "00001008 //3C0F0040\r\n"
              "\r\n");
    for (ResultFormat format : {FORMAT_ADDRESS, FORMAT_OFFSET, FORMAT_PNACH, FORMAT_RAW_CODE}) {
        EXPECT_EQ(render(file_with({}), "11111111\r\n22222222", "", false, format),
                  "No matches found");
    }
}

TEST(ResultText, WordsPastTheFileShowZeros) {
    // The segment runs to the end of a file of 0x100A bytes; a 5-byte pattern in "Little"
    // matches at 0x1004 and its second data word needs bytes 0x100A and 0x100B.
    auto bytes = elf_bytes(0x100A, {{PT_LOAD, 0x1000, 0x100000, 0x10, PF_X}});
    put(bytes, 0x1004, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
    EXPECT_EQ(render(bytes, "0102030405", "", true, FORMAT_OFFSET),
              "//Search pattern: 0102030405\r\n"
              "//Search mask:    FFFFFFFFFF\r\n"
              "00001004 //0403020100\r\n"
              "\r\n");
}

TEST(ResultBuffer, GrowsAndKeepsEveryPiece) {
    ResultBuffer buffer;
    ASSERT_EQ(result_buffer_init(&buffer), 1);
    EXPECT_EQ(buffer.capacity, 4096u);
    std::string exact(4095, 'a');
    ASSERT_EQ(result_append(&buffer, 1, "%s", exact.c_str()), 1);
    EXPECT_EQ(buffer.length, 4095u);
    EXPECT_EQ(std::string(buffer.text), exact);
    ASSERT_EQ(result_append(&buffer, 1, "%s", "b"), 1);
    std::string big(10000, 'c');
    ASSERT_EQ(result_append(&buffer, 1, "%s|%d", big.c_str(), 42), 1);
    EXPECT_EQ(std::string(buffer.text), exact + "b" + big + "|42");
    EXPECT_EQ(buffer.length, 4095u + 1 + 10000 + 3);
    EXPECT_EQ(buffer.capacity % 4096, 0u);
    EXPECT_GT(buffer.capacity, buffer.length);
    result_buffer_free(&buffer);
}

TEST(ResultText, MillionMatchesRenderInLinearTime) {
    auto bytes = file_with({});
    ElfImage* image = elf_load(bytes);
    PatternList list = patterns("00000000\r\n11111111\r\n22222222");
    MatchList* matches = match_list_reset();
    for (uint32_t i = 0; i < 1000000; ++i) {
        uint32_t p = i % 3;
        ASSERT_EQ(append_match(matches, list.values[p], list.masks[p], 0x100000 + i, 0x1000), 1);
    }
    ResultBuffer buffer;
    ASSERT_EQ(result_buffer_init(&buffer), 1);
    auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(result_render(&buffer, &list, nullptr, matches->head, image, false, FORMAT_ADDRESS),
              1);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    RecordProperty("render_seconds", std::to_string(seconds));
    printf("1000000 matches rendered in %.3f s\n", seconds);
    EXPECT_LT(seconds, 10.0);
    // 21 characters per match line, two header lines and an empty line per pattern.
    EXPECT_EQ(buffer.length, 1000000u * 21 + 3 * (28 + 28 + 2));
    EXPECT_TRUE(std::string(buffer.text)
                    .starts_with("//Search pattern: 00000000\r\n"
                                 "//Search mask:    FFFFFFFF\r\n"
                                 "00100000 //00000000\r\n"
                                 "00100003 //"));
    result_buffer_free(&buffer);
    free_matches(matches->head);
    pattern_list_free(&list);
    free_elf_image(image);
}

TEST(SearchRules, PatchFormatsNeedMatchingWordPatterns) {
    PatternList four = patterns("11111111");
    PatternList two_fours = patterns("11111111\n22222222");
    PatternList eight = patterns("1111111122222222");
    PatternList six = patterns("111111111111");
    for (ResultFormat patch : {FORMAT_PNACH, FORMAT_RAW_CODE}) {
        EXPECT_EQ(search_check_patch_patterns(patch, &four, nullptr), MSG_REPLACE_REQUIRED);
        EXPECT_EQ(search_check_patch_patterns(patch, &two_fours, &four), MSG_REPLACE_MISMATCH);
        EXPECT_EQ(search_check_patch_patterns(patch, &four, &eight), MSG_REPLACE_MISMATCH);
        // Both faults at once: the mismatch is named.
        EXPECT_EQ(search_check_patch_patterns(patch, &six, &four), MSG_REPLACE_MISMATCH);
        EXPECT_EQ(search_check_patch_patterns(patch, &six, &six), MSG_WORD_DIVISIBLE);
        EXPECT_EQ(search_check_patch_patterns(patch, &two_fours, &two_fours), nullptr);
    }
    for (ResultFormat plain : {FORMAT_ADDRESS, FORMAT_OFFSET}) {
        EXPECT_EQ(search_check_patch_patterns(plain, &six, nullptr), nullptr);
    }
    EXPECT_STREQ(MSG_WORD_DIVISIBLE, "PNACH/Raw Code results require Word-divisible patterns;\r\n"
                                     "each pattern must have a length divisible by four.");
    for (PatternList* list : {&four, &two_fours, &eight, &six}) {
        pattern_list_free(list);
    }

    EXPECT_EQ(search_format_from_buttons(true, true, true, true), FORMAT_OFFSET);
    EXPECT_EQ(search_format_from_buttons(true, true, false, true), FORMAT_ADDRESS);
    EXPECT_EQ(search_format_from_buttons(true, true, false, false), FORMAT_PNACH);
    EXPECT_EQ(search_format_from_buttons(false, false, false, false), FORMAT_RAW_CODE);
}

} // namespace
