// The toolkit's window-free parts: command line splitting and file-type filters.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gui/backend.h"

using Strings = std::vector<std::string>;

static Strings split(const char* line) {
    uint32_t argc = 99;
    char** argv = command_line_to_argv(line, &argc);
    EXPECT_NE(argv, nullptr);
    Strings out(argv, argv + argc);
    EXPECT_EQ(argv[argc], nullptr);
    std::free(argv);
    return out;
}

TEST(CommandLine, QuotesJoinBlanksIntoOneArgument) {
    EXPECT_EQ(split("\"C:\\Program Files\\q.exe\" a \"b c\"d"),
              (Strings{"C:\\Program Files\\q.exe", "a", "b cd"}));
    EXPECT_EQ(split("  \t\r\n "), Strings{});
    EXPECT_EQ(split("x \"\" y"), (Strings{"x", "", "y"}));
    EXPECT_EQ(split("p \"unclosed  run"), (Strings{"p", "unclosed  run"}));
    EXPECT_EQ(split("back\\\"slash x\""), Strings{"back\\slash x"});
    EXPECT_EQ(split("\xe9t\xe9 \x80"), (Strings{"\xe9t\xe9", "\x80"}));
    // The densest lines: under AddressSanitizer an undersized block would be caught here.
    std::string letters, quotes;
    for (int i = 0; i < 500; i++) {
        letters += "a ";
        quotes += "\"\" ";
    }
    EXPECT_EQ(split(letters.c_str()).size(), 500u);
    EXPECT_EQ(split(quotes.c_str()).size(), 500u);
    EXPECT_EQ(split("\"\"").size(), 1u);
}

TEST(FileFilter, TranslatesTheApplicationsFilters) {
    // The application's filter: *.elf and the hundred two-digit extensions.
    std::string text("ELF Files (*.elf, *.##)\0*.elf", 29);
    char part[8];
    for (int i = 0; i < 100; i++) {
        std::snprintf(part, sizeof part, ";*.%02d", i);
        text += part;
    }
    text += std::string("\0All Files\0*.*\0", 16);
    FileFilterList list;
    ASSERT_EQ(file_filter_parse(text.c_str(), &list), GUI_ERROR_NONE);
    ASSERT_EQ(list.count, 2u);
    EXPECT_STREQ(list.filters[0].description, "ELF Files (*.elf, *.##)");
    EXPECT_EQ(list.filters[0].pattern_count, 101u);
    EXPECT_STREQ(list.filters[1].description, "All Files");
    for (const char* name : {"GAME.ELF", "SLUS_123.45", "a.42", "b.00"})
        EXPECT_TRUE(file_filter_accepts(&list.filters[0], name)) << name;
    for (const char* name : {"a.100", "a.4", "readme.txt", "elf"})
        EXPECT_FALSE(file_filter_accepts(&list.filters[0], name)) << name;
    EXPECT_TRUE(file_filter_accepts(&list.filters[1], "no_dot_at_all"));
    file_filter_free(&list);

    // A trailing ";" leaves no empty pattern; a description with nothing after it is dropped
    // instead of read past the end.
    ASSERT_EQ(file_filter_parse("Text (*.txt)\0*.txt;\0Cut\0", &list), GUI_ERROR_NONE);
    ASSERT_EQ(list.count, 1u);
    EXPECT_EQ(list.filters[0].pattern_count, 1u);
    EXPECT_TRUE(file_filter_accepts(&list.filters[0], "Notes.TXT"));
    file_filter_free(&list);
}

TEST(FileFilter, PatternsMatchLikeWindows) {
    EXPECT_TRUE(file_pattern_match("a?c*", "ABCdef"));
    EXPECT_FALSE(file_pattern_match("a?c", "ac"));
    EXPECT_TRUE(file_pattern_match("*a*b*", "xxaxxbxx"));
    EXPECT_FALSE(file_pattern_match("*a*b", "xxaxxbxc"));
    EXPECT_TRUE(file_pattern_match("*", ""));
}
