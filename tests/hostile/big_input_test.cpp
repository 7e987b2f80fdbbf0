// Inputs a million pieces large: the parser, the engine and the renderer must each stay linear,
// so that a large but legitimate search finishes instead of grinding for hours.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "core/elf_image.h"
#include "core/match.h"
#include "core/pattern.h"
#include "core/result_format.h"
#include "hostile_support.h"

namespace {

const uint32_t MILLION = 1000000;

// Native time for each case is well under a second; anything quadratic takes hours.
double budget() {
    return 10.0 * time_factor();
}

TEST(BigInput, MillionLinePatternTextsParseInLinearTime) {
    struct Text {
        const char* line;
        uint32_t expected_count;
    };
    // Valid lines, lines that are all dropped, and empty lines.
    for (Text t :
         {Text{"DEADBEEF\r\n", MILLION}, Text{"; a note, not a pattern\r\n", 0}, Text{"\n", 0}}) {
        SCOPED_TRACE(t.line);
        std::string text;
        text.reserve(strlen(t.line) * MILLION);
        for (uint32_t i = 0; i < MILLION; i++)
            text += t.line;
        auto start = std::chrono::steady_clock::now();
        PatternList list{};
        pattern_list_parse(text.c_str(), &list);
        EXPECT_LT(seconds_since(start), budget());
        ASSERT_EQ(list.count, t.expected_count);
        if (list.count > 0) {
            EXPECT_EQ(list.values[MILLION - 1]->length, 4u);
            EXPECT_EQ(pattern_word(list.values[MILLION - 1], 0), 0xDEADBEEFu);
        }
        pattern_list_free(&list);
    }
}

TEST(BigInput, OneLineOfFourMillionBytesParses) {
    std::string text(8 * MILLION, 'a');
    PatternList list{};
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(pattern_list_parse(text.c_str(), &list));
    EXPECT_LT(seconds_since(start), budget());
    ASSERT_EQ(list.count, 1u);
    EXPECT_EQ(list.values[0]->length, 4 * MILLION);
    EXPECT_EQ(pattern_word(list.values[0], MILLION - 1), 0xAAAAAAAAu);
    pattern_list_free(&list);
}

// A segment of a million equal words and a pattern that matches each of them.
class MillionMatches : public testing::Test {
  protected:
    void SetUp() override {
        uint32_t size = 0;
        uint8_t* bytes = make_elf_bytes(MILLION, 0x24020005, &size);
        ASSERT_NE(bytes, nullptr);
        image = elf_image_from_bytes(bytes, size);
        ASSERT_NE(image, nullptr);
        ASSERT_TRUE(pattern_list_parse("24020005", &search));
        ASSERT_TRUE(pattern_list_parse("24020001", &replace));
        auto start = std::chrono::steady_clock::now();
        MatchList* list =
            find_matches(image, true, false, 4, search.count, search.values, search.masks);
        ASSERT_NE(list, nullptr);
        head = list->head;
        EXPECT_LT(seconds_since(start), budget()) << "building the list";
    }
    void TearDown() override {
        free_matches(head);
        pattern_list_free(&search);
        pattern_list_free(&replace);
        free_elf_image(image);
    }
    // Renders, checks the time and the exact length, and returns the text.
    std::string render(ResultFormat format, size_t line_length) {
        ResultBuffer buffer;
        EXPECT_TRUE(result_buffer_init(&buffer));
        auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(result_render(&buffer, &search, &replace, head, image, false, format));
        EXPECT_LT(seconds_since(start), budget()) << "rendering format " << format;
        std::string text(buffer.text, buffer.length);
        result_buffer_free(&buffer);
        const size_t headers = strlen("//Search pattern: 24020005\r\n") * 2 + 2;
        EXPECT_EQ(text.size(), headers + line_length * MILLION);
        return text;
    }
    ElfImage* image = nullptr;
    PatternList search{}, replace{};
    Match* head = nullptr;
};

TEST_F(MillionMatches, AllFormatsRenderEveryLineInLinearTime) {
    uint32_t n = 0;
    for (const Match* m = head; m != nullptr; m = m->next)
        n++;
    ASSERT_EQ(n, MILLION);

    std::string text = render(FORMAT_ADDRESS, strlen("00100100 //24020005\r\n"));
    EXPECT_EQ(text.substr(56, 21), "00100100 //24020005\r\n");
    EXPECT_EQ(text.substr(text.size() - 23), "004D09FC //24020005\r\n\r\n");

    text = render(FORMAT_OFFSET, strlen("00000100 //24020005\r\n"));
    EXPECT_EQ(text.substr(text.size() - 23), "003D09FC //24020005\r\n\r\n");

    text = render(FORMAT_PNACH, strlen("patch=1,EE,00100100,word,24020001 //24020005\r\n"));
    EXPECT_EQ(text.substr(text.size() - 48), "patch=1,EE,004D09FC,word,24020001 //24020005\r\n"
                                             "\r\n");

    text = render(FORMAT_RAW_CODE, strlen("20100100 24020001 //24020005\r\n"));
    EXPECT_EQ(text.substr(text.size() - 32), "204D09FC 24020001 //24020005\r\n\r\n");
}

} // namespace

namespace {

// A hundred thousand patterns sharing a million matches: rendering must sort the matches to
// their patterns once, not walk the whole list again for every pattern.
TEST(BigInput, ManyPatternsSharingAMillionMatchesRenderInLinearTime) {
    const uint32_t patterns = 100000;
    uint32_t size = 0;
    uint8_t* bytes = make_elf_bytes(MILLION, 0x24020005, &size);
    ASSERT_NE(bytes, nullptr);
    ElfImage* image = elf_image_from_bytes(bytes, size);
    ASSERT_NE(image, nullptr);
    std::string text;
    char line[16];
    for (uint32_t i = 0; i < patterns; i++) {
        snprintf(line, sizeof line, "%08X\n", i);
        text += line;
    }
    PatternList search{};
    ASSERT_TRUE(pattern_list_parse(text.c_str(), &search));
    ASSERT_EQ(search.count, patterns);
    // Built by hand: a scan of this many patterns would measure the engine, not the renderer.
    MatchList* list = match_list_reset();
    for (uint32_t n = 0; n < MILLION; n++) {
        uint32_t i = (n * 7) % patterns;
        ASSERT_TRUE(
            append_match(list, search.values[i], search.masks[i], 0x100100 + 4 * n, 0x100 + 4 * n));
    }
    Match* head = list->head;

    ResultBuffer buffer;
    ASSERT_TRUE(result_buffer_init(&buffer));
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(result_render(&buffer, &search, nullptr, head, image, false, FORMAT_OFFSET));
    EXPECT_LT(seconds_since(start), budget());
    // Every pattern's block (two header lines and the closing empty line) and every match line.
    EXPECT_EQ(buffer.length, patterns * (28 + 28 + 2) + MILLION * 21);
    // Pattern 7's first match is match 1, at offset 0x104.
    std::string rendered(buffer.text, buffer.length);
    size_t block = rendered.find("//Search pattern: 00000007\r\n");
    ASSERT_NE(block, std::string::npos);
    EXPECT_EQ(rendered.substr(block + 56, 21), "00000104 //24020005\r\n");

    result_buffer_free(&buffer);
    free_matches(head);
    pattern_list_free(&search);
    free_elf_image(image);
}

} // namespace
