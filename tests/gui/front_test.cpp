// The toolkit's window-free parts: command line splitting, file-type filters, the pop-up's
// placement and text, check states and the control table.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gui/backend.h"

static std::vector<std::string> split(const char* line) {
    uint32_t argc = 99;
    char** argv = command_line_to_argv(line, &argc);
    EXPECT_NE(argv, nullptr);
    std::vector<std::string> out;
    for (uint32_t i = 0; i < argc; i++) {
        out.push_back(argv[i]);
    }
    EXPECT_EQ(argv[argc], nullptr);
    std::free(argv);
    return out;
}

TEST(CommandLine, QuotesJoinBlanksIntoOneArgument) {
    using V = std::vector<std::string>;
    EXPECT_EQ(split("\"C:\\Program Files\\q.exe\" a \"b c\"d"),
              (V{"C:\\Program Files\\q.exe", "a", "b cd"}));
    EXPECT_EQ(split(""), V{});
    EXPECT_EQ(split("  \t\r\n "), V{});
    EXPECT_EQ(split("x \"\" y"), (V{"x", "", "y"}));
    EXPECT_EQ(split("a\"\"b"), V{"ab"});
    EXPECT_EQ(split("p \"unclosed  run"), (V{"p", "unclosed  run"}));
    EXPECT_EQ(split("back\\\"slash x\""), V{"back\\slash x"});
    EXPECT_EQ(split("\xe9t\xe9 \x80"), (V{"\xe9t\xe9", "\x80"}));
}

TEST(CommandLine, WorstCaseLinesFitTheBlock) {
    // Many one-letter and many empty quoted arguments are the densest lines; under
    // AddressSanitizer an undersized block would be caught here.
    std::string letters, quotes;
    for (int i = 0; i < 500; i++) {
        letters += "a ";
        quotes += "\"\" ";
    }
    EXPECT_EQ(split(letters.c_str()).size(), 500u);
    EXPECT_EQ(split(quotes.c_str()).size(), 500u);
    EXPECT_EQ(split("a").size(), 1u);
    EXPECT_EQ(split("\"\"").size(), 1u);
}

static const char app_elf_filter_head[] = "ELF Files (*.elf, *.##)";

static std::string elf_filter() {
    std::string f = app_elf_filter_head;
    f.push_back('\0');
    f += "*.elf";
    char part[8];
    for (int i = 0; i < 100; i++) {
        std::snprintf(part, sizeof part, ";*.%02d", i);
        f += part;
    }
    f.push_back('\0');
    f += "All Files";
    f.push_back('\0');
    f += "*.*";
    f.push_back('\0');
    f.push_back('\0');
    return f;
}

TEST(FileFilter, TranslatesTheApplicationsFilters) {
    std::string text = elf_filter();
    FileFilterList list;
    ASSERT_EQ(file_filter_parse(text.c_str(), &list), GUI_ERROR_NONE);
    ASSERT_EQ(list.count, 2u);
    EXPECT_STREQ(list.filters[0].description, app_elf_filter_head);
    ASSERT_EQ(list.filters[0].pattern_count, 101u);
    EXPECT_STREQ(list.filters[0].patterns[0], "*.elf");
    EXPECT_STREQ(list.filters[0].patterns[100], "*.99");
    EXPECT_STREQ(list.filters[1].description, "All Files");

    const FileFilter* elf = &list.filters[0];
    EXPECT_TRUE(file_filter_accepts(elf, "GAME.ELF"));
    EXPECT_TRUE(file_filter_accepts(elf, "SLUS_123.45"));
    EXPECT_TRUE(file_filter_accepts(elf, "a.42"));
    EXPECT_FALSE(file_filter_accepts(elf, "a.100"));
    EXPECT_FALSE(file_filter_accepts(elf, "a.4"));
    EXPECT_FALSE(file_filter_accepts(elf, "readme.txt"));
    EXPECT_TRUE(file_filter_accepts(&list.filters[1], "no_dot_at_all"));
    file_filter_free(&list);

    // A trailing ";" leaves no empty pattern; a null filter is an empty list.
    static const char text_filter[] = "Text File (*.txt)\0*.txt;\0All Files\0*.*\0";
    ASSERT_EQ(file_filter_parse(text_filter, &list), GUI_ERROR_NONE);
    ASSERT_EQ(list.count, 2u);
    EXPECT_EQ(list.filters[0].pattern_count, 1u);
    EXPECT_TRUE(file_filter_accepts(&list.filters[0], "Notes.TXT"));
    file_filter_free(&list);
    ASSERT_EQ(file_filter_parse(nullptr, &list), GUI_ERROR_NONE);
    EXPECT_EQ(list.count, 0u);
    file_filter_free(&list);

    // A description with nothing after it is dropped instead of read past the end.
    static const char cut[] = "Only a description\0";
    ASSERT_EQ(file_filter_parse(cut, &list), GUI_ERROR_NONE);
    EXPECT_EQ(list.count, 0u);
    file_filter_free(&list);
}

TEST(FileFilter, PatternsMatchLikeWindows) {
    EXPECT_TRUE(file_pattern_match("*.PNACH", "0a1b2c3d.pnach"));
    EXPECT_TRUE(file_pattern_match("a?c*", "ABCdef"));
    EXPECT_FALSE(file_pattern_match("a?c", "ac"));
    EXPECT_TRUE(file_pattern_match("*a*b*", "xxaxxbxx"));
    EXPECT_FALSE(file_pattern_match("*a*b", "xxaxxbxc"));
    EXPECT_TRUE(file_pattern_match("*", ""));
    EXPECT_FALSE(file_pattern_match("*.elf", "elf"));
}

TEST(Popup, PlacementAndText) {
    int32_t x = 0, y = 0;
    popup_position(10, 20, 600, 556, &x, &y);
    EXPECT_EQ(x, 110);
    EXPECT_EQ(y, 98);
    popup_position(0, 0, 399, 1, &x, &y); // -1/2 and -399/2 truncate toward zero
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, -199);

    char path[] = "/tmp/quarnel_popup_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    FILE* file = fdopen(fd, "wb");
    std::fwrite("line 1\r\nline 2\0hidden", 1, 21, file);
    std::fclose(file);
    char* text = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(popup_text_read(path, &text, &length), GUI_ERROR_NONE);
    EXPECT_EQ(length, 14u);
    EXPECT_STREQ(text, "line 1\r\nline 2");
    std::free(text);

    file = std::fopen(path, "wb");
    std::fclose(file);
    EXPECT_EQ(popup_text_read(path, &text, &length), GUI_ERROR_INITIALIZATION);
    EXPECT_EQ(text, nullptr);
    std::remove(path);
    EXPECT_EQ(popup_text_read(path, &text, &length), GUI_ERROR_INITIALIZATION);
    EXPECT_EQ(popup_text_read("/tmp", &text, &length), GUI_ERROR_INITIALIZATION);
}

TEST(CheckState, AnyUnknownValueIsIndeterminate) {
    EXPECT_EQ(check_state_to_native(GUI_CHECKED), 1u);
    EXPECT_EQ(check_state_to_native(GUI_UNCHECKED), 0u);
    EXPECT_EQ(check_state_to_native(7), 2u);
    EXPECT_EQ(check_state_from_native(1), GUI_CHECKED);
    EXPECT_EQ(check_state_from_native(0), GUI_UNCHECKED);
    EXPECT_EQ(check_state_from_native(3), GUI_INDETERMINATE);
}

static int released;
static void count_release(void*, ControlKind) {
    released++;
}

TEST(ControlTable, LookupsByIdAndKind) {
    int a = 0, b = 0;
    ASSERT_EQ(control_table_link(5, GUI_BUTTON, &a), GUI_ERROR_NONE);
    ASSERT_EQ(control_table_link(70000, GUI_COMBOBOX, &b), GUI_ERROR_NONE);
    ControlKind kind = 0;
    void* handle = nullptr;
    EXPECT_EQ(control_find_kind(0, &kind), GUI_ERROR_INITIALIZATION);
    EXPECT_EQ(control_find_kind(6, &kind), GUI_ERROR_INITIALIZATION);
    ASSERT_EQ(control_find_kind(5, &kind), GUI_ERROR_NONE);
    EXPECT_EQ(kind, GUI_BUTTON);
    EXPECT_EQ(control_find_handle(5, GUI_CHECKBOX, &handle), GUI_ERROR_INITIALIZATION);
    ASSERT_EQ(control_find_handle(5, 0, &handle), GUI_ERROR_NONE);
    EXPECT_EQ(handle, &a);
    ASSERT_EQ(control_find_handle(70000, GUI_COMBOBOX, &handle), GUI_ERROR_NONE);
    EXPECT_EQ(handle, &b);
    EXPECT_EQ(control_table_head()->id, 70000u);
    control_table_free(count_release);
    EXPECT_EQ(released, 2);
    EXPECT_EQ(control_table_head(), nullptr);
    EXPECT_EQ(control_find_kind(5, &kind), GUI_ERROR_INITIALIZATION);
}
