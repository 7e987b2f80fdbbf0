// Inputs a million pieces large: parser, engine and renderer must each stay linear.
#include <cstring>

#include <gtest/gtest.h>

#include "core/elf_image.h"
#include "core/match.h"
#include "core/pattern.h"
#include "core/result_format.h"
#include "hostile_support.h"

namespace {

const uint32_t MILLION = 1000000;

// Native time for each step is well under a second; anything quadratic takes hours.
template <class Step> void within_budget(const char* what, Step step) {
    auto start = std::chrono::steady_clock::now();
    step();
    EXPECT_LT(seconds_since(start), 10.0 * time_factor()) << what;
}

// A million words 0x24020005 at addresses 0x100100 on (offsets 0x100 on).
ElfImage* million_word_image() {
    std::string bytes = make_elf_bytes(MILLION, 0x24020005);
    auto* data = static_cast<uint8_t*>(malloc(bytes.size()));
    memcpy(data, bytes.data(), bytes.size());
    return elf_image_from_bytes(data, uint32_t(bytes.size()));
}

std::string render(const PatternList& search, const PatternList* replace, const Match* head,
                   const ElfImage* image, ResultFormat format) {
    ResultBuffer buffer;
    EXPECT_TRUE(result_buffer_init(&buffer));
    within_budget("rendering", [&] {
        EXPECT_TRUE(result_render(&buffer, &search, replace, head, image, false, format));
    });
    std::string text(buffer.text, buffer.length);
    result_buffer_free(&buffer);
    return text;
}

TEST(BigInput, PatternTextsOfAMillionPiecesParseInLinearTime) {
    struct Text {
        std::string piece;
        uint32_t repeats, count, last_length, last_word;
    };
    // Valid lines, lines that are all dropped, empty lines, and one line of 4 MB.
    for (const Text& t :
         {Text{"DEADBEEF\r\n", MILLION, MILLION, 4, 0xDEADBEEF},
          Text{"; a note, not a pattern\r\n", MILLION, 0, 0, 0}, Text{"\n", MILLION, 0, 0, 0},
          Text{"a", 8 * MILLION, 1, 4 * MILLION, 0xAAAAAAAA}}) {
        SCOPED_TRACE(t.piece);
        std::string text;
        for (uint32_t i = 0; i < t.repeats; i++)
            text += t.piece;
        PatternList list{};
        within_budget("parsing", [&] { pattern_list_parse(text.c_str(), &list); });
        ASSERT_EQ(list.count, t.count);
        if (t.count > 0) {
            const PatternRecord* last = list.values[t.count - 1];
            EXPECT_EQ(last->length, t.last_length);
            EXPECT_EQ(pattern_word(last, t.last_length / 4 - 1), t.last_word);
        }
        pattern_list_free(&list);
    }
}

// Each of a million matches becomes one line, the last one at the end of the segment.
TEST(BigInput, AMillionMatchesRenderInEveryFormatInLinearTime) {
    ElfImage* image = million_word_image();
    ASSERT_NE(image, nullptr);
    PatternList search{}, replace{};
    ASSERT_TRUE(pattern_list_parse("24020005", &search));
    ASSERT_TRUE(pattern_list_parse("24020001", &replace));
    MatchList* list = nullptr;
    within_budget("scanning", [&] {
        list = find_matches(image, true, false, 4, search.count, search.values, search.masks);
    });
    ASSERT_NE(list, nullptr);
    const std::pair<ResultFormat, std::string> last_lines[] = {
        {FORMAT_ADDRESS, "004D09FC //24020005\r\n"},
        {FORMAT_OFFSET, "003D09FC //24020005\r\n"},
        {FORMAT_PNACH, "patch=1,EE,004D09FC,word,24020001 //24020005\r\n"},
        {FORMAT_RAW_CODE, "204D09FC 24020001 //24020005\r\n"}};
    const size_t headers = strlen("//Search pattern: 24020005\r\n") * 2;
    for (const auto& [format, last] : last_lines) {
        SCOPED_TRACE(format);
        std::string text = render(search, &replace, list->head, image, format);
        EXPECT_EQ(text.size(), headers + last.size() * MILLION + 2);
        EXPECT_EQ(text.substr(text.size() - last.size() - 2), last + "\r\n");
    }
    free_matches(list->head);
    pattern_list_free(&search);
    pattern_list_free(&replace);
    free_elf_image(image);
}

// 100,000 patterns sharing a million matches: not one walk of the whole list per pattern.
TEST(BigInput, ManyPatternsSharingAMillionMatchesRenderInLinearTime) {
    const uint32_t patterns = 100000;
    ElfImage* image = million_word_image();
    ASSERT_NE(image, nullptr);
    std::string text;
    char line[16];
    for (uint32_t i = 0; i < patterns; i++)
        text.append(line, snprintf(line, sizeof line, "%08X\n", i));
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
    std::string rendered = render(search, nullptr, list->head, image, FORMAT_OFFSET);
    // Every pattern's block (two header lines and the closing empty line) and every match line.
    EXPECT_EQ(rendered.size(), patterns * (28 + 28 + 2) + MILLION * 21);
    // Pattern 7's first match is match 1, at offset 0x104.
    size_t block = rendered.find("//Search pattern: 00000007\r\n");
    ASSERT_NE(block, std::string::npos);
    EXPECT_EQ(rendered.substr(block + 56, 21), "00000104 //24020005\r\n");
    free_matches(list->head);
    pattern_list_free(&search);
    free_elf_image(image);
}

} // namespace
