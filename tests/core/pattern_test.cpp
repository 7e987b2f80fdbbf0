#include <gtest/gtest.h>

#include "fixtures.h"

namespace {

// The list as "value/mask" per pattern, bytes in written order, separated by blanks.
std::string describe(const char* text) {
    PatternList list = patterns(text);
    std::string out;
    char hex[3];
    for (uint32_t i = 0; i < list.count; ++i) {
        EXPECT_EQ(list.values[i]->length, list.masks[i]->length);
        for (const PatternRecord* record : {list.values[i], list.masks[i]}) {
            for (uint32_t n = 0; n < record->length; ++n) {
                snprintf(hex, sizeof hex, "%02X", pattern_byte(record, n));
                out += hex;
            }
            out += record == list.values[i] ? "/" : " ";
        }
    }
    pattern_list_free(&list);
    return out;
}

TEST(ParsePattern, TokensBytesAndLines) {
    const char* cases[][2] = {
        {"DEADBEEF", "DEADBEEF/FFFFFFFF "},
        {"de ad\tbe ef\r\n", "DEADBEEF/FFFFFFFF "},
        {"01 02 03 04 05", "0102030405/FFFFFFFFFF "},
        {"0x3C0F0040", "003C0F0040/F0FFFFFFFF "}, // no hexadecimal prefix
        {"3C0F00x0", "3C0F0000/FFFFFF0F "},
        {"x1XXXXXX", "01000000/0F000000 "},
        {"*35C000000", "5C000000/3FFFFFFF "},
        {"C * 3 5 000000", "C5000000/F3FFFFFF "},
        {"DEADBEEF ; note", "DEADBEEF/FFFFFFFF "},
        {"DEADBEEF abc", "DEADBEEFAB/FFFFFFFFFF "}, // the lone c is dropped
        {"DEADBEEF\xC3\xA9"
         "00",
         "DEADBEEF/FFFFFFFF "},
        {"1234567 8", "12345678/FFFFFFFF "},
        {"11223344\r55667788\r", "1122334455667788/FFFFFFFFFFFFFFFF "}, // CR is a blank
        {"11111111\r\n2222\r\nxxxxxxxx\r\n\r\n  \r\n*0F*0F 33 33 33",
         "11111111/FFFFFFFF FF333333/00FFFFFF "}, // lines in order, invalid ones dropped
    };
    for (auto& c : cases) {
        EXPECT_EQ(describe(c[0]), c[1]) << "text: " << c[0];
    }
}

TEST(ParsePattern, NoAcceptedLineGivesNoList) {
    for (const char* text : {"", " \t\r\n\r\n", "; notes\r\nonly", "1234567", "xxxxxxxx\nXXXXXXXX",
                             "*00*0F *0A*01 x0", "1234*3", "1234 * 3 z"}) {
        uint32_t count = 77;
        PatternRecord** masks = nullptr;
        EXPECT_EQ(parse_pattern(text, &count, &masks), nullptr) << "text: " << text;
        EXPECT_EQ(count, 77u);
        EXPECT_EQ(masks, nullptr);
    }
}

TEST(ParsePattern, WordsReadMostSignificantFirst) {
    PatternList list = patterns("0123456789ABCDEF\n0102030405");
    ASSERT_EQ(list.count, 2u);
    EXPECT_EQ(pattern_word(list.values[0], 0), 0x01234567u);
    EXPECT_EQ(pattern_word(list.values[0], 1), 0x89ABCDEFu);
    EXPECT_EQ(pattern_word(list.values[1], 0), 0x01020304u);
    EXPECT_EQ(pattern_word(list.values[1], 1) >> 24, 0x05u);
    pattern_list_free(&list);
}

} // namespace
