#include <gtest/gtest.h>

#include <vector>

#include "core/pattern.h"
#include "fixtures.h"

namespace {

struct Expected {
    uint32_t length;
    std::vector<uint32_t> value_words; // as read little-endian from `words`
    std::vector<uint32_t> mask_words;
};

// Word g with the undefined bytes of a last partial word cleared, so expectations can be
// written as the digits that exist followed by zeros.
uint32_t defined_word(const PatternRecord* record, uint32_t g) {
    uint32_t bytes = record->length - 4 * g;
    if (bytes >= 4) {
        return pattern_word(record, g);
    }
    return pattern_word(record, g) & ~(0xFFFFFFFFu >> (8 * bytes));
}

void expect_list(const char* text, const std::vector<Expected>& expected) {
    SCOPED_TRACE(testing::Message() << "text: \"" << text << "\"");
    PatternList list = patterns(text);
    ASSERT_EQ(list.count, expected.size());
    for (uint32_t i = 0; i < list.count; ++i) {
        const PatternRecord* value = list.values[i];
        const PatternRecord* mask = list.masks[i];
        EXPECT_EQ(value->length, expected[i].length) << "pattern " << i;
        EXPECT_EQ(mask->length, expected[i].length) << "pattern " << i;
        for (uint32_t g = 0; g < expected[i].value_words.size(); ++g) {
            EXPECT_EQ(defined_word(value, g), expected[i].value_words[g])
                << std::hex << "pattern " << i << " value word " << g;
            EXPECT_EQ(defined_word(mask, g), expected[i].mask_words[g])
                << std::hex << "pattern " << i << " mask word " << g;
        }
    }
    pattern_list_free(&list);
}

void expect_no_list(const char* text) {
    uint32_t count = 77;
    PatternRecord** masks = reinterpret_cast<PatternRecord**>(&count);
    PatternRecord** values = parse_pattern(text, &count, &masks);
    EXPECT_EQ(values, nullptr) << "text: \"" << text << "\"";
    EXPECT_EQ(count, 77u) << "count must stay untouched";
    EXPECT_EQ(masks, reinterpret_cast<PatternRecord**>(&count)) << "masks must stay untouched";
}

TEST(ParsePattern, DigitsBecomeWordsMostSignificantFirst) {
    expect_list("DEADBEEF", {{4, {0xDEADBEEF}, {0xFFFFFFFF}}});
    expect_list("de ad\tbe ef\r\n", {{4, {0xDEADBEEF}, {0xFFFFFFFF}}});
    expect_list("0123456789ABCDEF", {{8, {0x01234567, 0x89ABCDEF}, {~0u, ~0u}}});
    expect_list("01 02 03 04 05", {{5, {0x01020304, 0x05000000}, {~0u, 0xFF000000}}});
    // No hexadecimal prefix: 0x is a zero digit and a wildcard.
    expect_list("0x3C0F0040", {{5, {0x003C0F00, 0x40000000}, {0xF0FFFFFF, 0xFF000000}}});
}

TEST(ParsePattern, WildcardsAndMaskTokens) {
    expect_list("3C0F00x0", {{4, {0x3C0F0000}, {0xFFFFFF0F}}});
    expect_list("x1XXXXXX", {{4, {0x01000000}, {0x0F000000}}});
    expect_list("*35C000000", {{4, {0x5C000000}, {0x3FFFFFFF}}});
    expect_list("C * 3 5 000000", {{4, {0xC5000000}, {0xF3FFFFFF}}});
    // A value bit outside its mask is kept as written.
    expect_list("*0F 0 11223344", {{5, {0xF0112233, 0x44000000}, {0x0FFFFFFF, 0xFF000000}}});
}

TEST(ParsePattern, LineEndsNotesAndOddNibbles) {
    expect_list("DEADBEEF ; the entry point", {{4, {0xDEADBEEF}, {~0u}}});
    // The note starts with token letters: a and b make a byte, the lone c is dropped.
    expect_list("DEADBEEF abc", {{5, {0xDEADBEEF, 0xAB000000}, {~0u, 0xFF000000}}});
    expect_list("DEADBEEF\xC3\xA9"
                "00",
                {{4, {0xDEADBEEF}, {~0u}}});
    expect_list("1234567 8", {{4, {0x12345678}, {~0u}}});
    expect_list("123456789", {{4, {0x12345678}, {~0u}}});
    // A bare carriage return is a blank, so these two "lines" are one pattern.
    expect_list("11223344\r55667788\r", {{8, {0x11223344, 0x55667788}, {~0u, ~0u}}});
}

TEST(ParsePattern, AcceptedLinesKeepTheirOrder) {
    expect_list("11111111\r\n2222\r\n\r\n   \r\n33333333\r\n",
                {{4, {0x11111111}, {~0u}}, {4, {0x33333333}, {~0u}}});
    expect_list("\n\nAAAAAAAA\nBBBBBBBB", {{4, {0xAAAAAAAA}, {~0u}}, {4, {0xBBBBBBBB}, {~0u}}});
}

TEST(ParsePattern, TextWithoutAcceptedPatternGivesNoList) {
    expect_no_list("");
    expect_no_list(" \t\r\n\r\n  ");
    expect_no_list("; notes only\r\nnothing here");
    expect_no_list("1234567");              // three bytes and a dropped nibble
    expect_no_list("xxxxxxxx\r\nXXXXXXXX"); // every mask byte zero
    expect_no_list("*00*0F *0A*01 x0");     // only zero masks
    expect_no_list("1234*3");               // incomplete token: two bytes
    expect_no_list("1234 * 3 z");
    expect_no_list("*0");
}

TEST(ParsePattern, ManyLinesAndLongLines) {
    std::string text;
    for (int i = 0; i < 1000; ++i) {
        text += (i % 2) ? "not a pattern\r\n" : "0011223344556677 8899\r\n";
    }
    PatternList list = patterns(text.c_str());
    ASSERT_EQ(list.count, 500u);
    for (uint32_t i = 0; i < list.count; ++i) {
        ASSERT_EQ(list.values[i]->length, 10u);
        ASSERT_EQ(pattern_byte(list.values[i], 9), 0x99);
    }
    pattern_list_free(&list);
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(list.values, nullptr);

    std::string line(4001, 'f'); // odd: the last nibble is dropped
    list = patterns(line.c_str());
    ASSERT_EQ(list.count, 1u);
    EXPECT_EQ(list.values[0]->length, 2000u);
    pattern_list_free(&list);
}

} // namespace
