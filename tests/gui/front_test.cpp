// The toolkit's window-free parts: command line splitting and file-type filters.
#include <gtest/gtest.h>

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

// The fuzz target checks any other line against a model of these rules.
TEST(CommandLine, QuotesJoinBlanksIntoOneArgument) {
    EXPECT_EQ(split("\"C:\\Program Files\\q.exe\" a \"b c\"d"),
              (Strings{"C:\\Program Files\\q.exe", "a", "b cd"}));
    EXPECT_EQ(split("x \"\" y"), (Strings{"x", "", "y"}));
    EXPECT_EQ(split("p \"unclosed  run"), (Strings{"p", "unclosed  run"}));
    EXPECT_EQ(split("back\\\"slash x\""), Strings{"back\\slash x"});
}

// The application's own filters are checked through its file dialogs.
TEST(FileFilter, ParsesPairsAndMatchesLikeWindows) {
    // A trailing ";" leaves no empty pattern; a description without a pattern is dropped.
    FileFilterList list;
    ASSERT_EQ(file_filter_parse("Text (*.txt)\0*.txt;*.md;\0All\0*.*\0Cut\0", &list),
              GUI_ERROR_NONE);
    ASSERT_EQ(list.count, 2u);
    EXPECT_STREQ(list.filters[0].description, "Text (*.txt)");
    EXPECT_EQ(list.filters[0].pattern_count, 2u);
    for (const char* name : {"Notes.TXT", "a.md"})
        EXPECT_TRUE(file_filter_accepts(&list.filters[0], name)) << name;
    EXPECT_FALSE(file_filter_accepts(&list.filters[0], "a.txt.bak"));
    EXPECT_TRUE(file_filter_accepts(&list.filters[1], "no_dot_at_all"));
    file_filter_free(&list);

    EXPECT_TRUE(file_pattern_match("a?c*", "ABCdef"));
    EXPECT_FALSE(file_pattern_match("a?c", "ac"));
    EXPECT_TRUE(file_pattern_match("*a*b*", "xxaxxbxx"));
    EXPECT_FALSE(file_pattern_match("*a*b", "xxaxxbxc"));
    EXPECT_TRUE(file_pattern_match("*", ""));
}
