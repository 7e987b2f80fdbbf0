// The search as the user drives it: its refusals, its results and the window it leaves.
#include <cstdio>

#include "app/events.h"
#include "app_session.h"
#include "core/search_rules.h"

// li $t1, 3 / addiu $v0, $v0, -1 / lui $t0, 0x1234 / nop at 0x00100100; li $t1, 3 at 0x00200110.
static const std::vector<uint32_t> CODE = {0x24090003, 0x2442FFFF, 0x3C081234, 0}, DATA = {CODE[0]};

static void expect_window_given_back(const char* result) {
    EXPECT_EQ(result, control_text(ID_RESULT));
    for (uint32_t id : {ID_BROWSE, ID_SEARCH, ID_SAVE, ID_RESULT})
        EXPECT_TRUE(control_enabled(id)) << "control " << id;
}

static void set_patterns(const char* search, const char* replace) {
    ASSERT_EQ(0u, gui_control_set_text(ID_SEARCH_PATTERNS, search));
    ASSERT_EQ(0u, gui_control_set_text(ID_REPLACE_PATTERNS, replace));
}

static std::string header(const char* pattern, const char* mask) {
    return std::string("//Search pattern: ") + pattern + "\r\n//Search mask:    " + mask + "\r\n";
}

TEST(Search, RefusesUnusablePatternsAndEmptiesTheResult) {
    TempFolder folder;
    const std::string elf = folder.file("game.elf");
    elf_write(elf, CODE, DATA);
    app_session([&] {
        // Without a file it only says so and leaves the window as it was.
        ASSERT_EQ(0u, gui_control_set_text(ID_RESULT, "earlier text"));
        set_patterns("24090003", "24090063");
        search_expect_refusal("No ELF file selected");
        expect_window_given_back("earlier text");
        browse_load(elf);
        // One of each; the command-line contract tests the rules' finer cases.
        const char* cases[][3] = {{"; only a note\r\nxxxxxxxx", "", MSG_NO_SEARCH_PATTERNS},
                                  {"24090003", "; a note, no pattern", MSG_REPLACE_REQUIRED},
                                  {"24090003\r\n2442FFFF", "24090063", MSG_REPLACE_MISMATCH},
                                  {"240900032442", "240900632442", MSG_WORD_DIVISIBLE}};
        for (const auto& [search, replace, message] : cases) {
            SCOPED_TRACE(search);
            ASSERT_EQ(0u, gui_control_set_text(ID_RESULT, "earlier text"));
            set_patterns(search, replace);
            search_expect_refusal(message);
            expect_window_given_back("");
        }
        // A click queued before the button went grey reaches the handler; it must start nothing.
        GuiTestModal log[16];
        const uint32_t shown = gui_test_message_log(log, 16);
        set_patterns("no pattern", "");
        ASSERT_TRUE(gui_test_click(ID_SEARCH));
        expect_dialog(GUI_TEST_MODAL_MESSAGE);
        ASSERT_TRUE(gui_test_on_gui_thread([](void*) { event_handler(ID_SEARCH); }, nullptr));
        ASSERT_TRUE(gui_test_message_answer(GUI_ANSWER_OK));
        ASSERT_TRUE(search_wait_done());
        EXPECT_EQ(shown + 1, gui_test_message_log(log, 16));
        expect_window_given_back("");
    });
}

TEST(Search, WritesEachFormatAndHonoursEndianRangeAndAlignment) {
    TempFolder folder;
    const std::string elf = folder.file("game.elf");
    elf_write(elf, CODE, DATA);
    app_session([&] {
        browse_load(elf);
        const std::string li = header("24090003", "FFFFFFFF");
        const std::string le = header("03000924", "FFFFFFFF");
        // clang-format off
        const struct {
            std::vector<uint32_t> clicks;
            const char* search;
            const char* replace;
            std::string result;
            uint32_t alignment; // the one checked after the search
        } steps[] = {
            // Address and Offset ignore a replace box that does not fit.
            {{ID_ENDIAN_BIG, ID_FORMAT_ADDRESS}, "24090003 ; li $t1, 3", "nonsense", li + "00100100 //24090003\r\n\r\n", ID_ALIGNMENT_WORD},
            {{ID_FORMAT_OFFSET}, nullptr, nullptr, li + "00000100 //24090003\r\n\r\n", ID_ALIGNMENT_WORD},
            {{ID_RANGE_NON_EXECUTABLE, ID_FORMAT_ADDRESS}, nullptr, nullptr, li + "00200110 //24090003\r\n\r\n", ID_ALIGNMENT_WORD},
            // Little: the bytes as the file holds them.
            {{ID_RANGE_EXECUTABLE, ID_ENDIAN_LITTLE}, nullptr, nullptr, "No matches found", ID_ALIGNMENT_WORD},
            {{}, "03000924", "", le + "00100100 //24090003\r\n\r\n", ID_ALIGNMENT_WORD},
            // Patch lines, with the replace word in the same byte order as the search. The patch
            // formats search by Word whatever the user chose, and the window says so.
            {{ID_ALIGNMENT_BYTE, ID_FORMAT_PNACH}, "03000924\r\nFFFF4224", "63000924\r\n00004224",
             le + "patch=1,EE,00100100,word,24090063 //24090003\r\n\r\n" + header("FFFF4224", "FFFFFFFF") +
                 "patch=1,EE,00100104,word,24420000 //2442FFFF\r\n\r\n", ID_ALIGNMENT_WORD},
            {{ID_ENDIAN_BIG, ID_ALIGNMENT_HALF_WORD, ID_FORMAT_RAW_CODE}, "3C08xxxx", "xxxx5678",
             header("3C080000", "FFFF0000") + "20100108 3C085678 //3C081234\r\n\r\n", ID_ALIGNMENT_WORD},
            // The other formats keep the alignment that the user chose.
            {{ID_ALIGNMENT_BYTE, ID_FORMAT_ADDRESS, ID_ENDIAN_LITTLE}, "0300 0924", "", le + "00100100 //24090003\r\n\r\n", ID_ALIGNMENT_BYTE},
        };
        // clang-format on
        for (const auto& step : steps) {
            SCOPED_TRACE(step.result);
            if (step.search != nullptr)
                set_patterns(step.search, step.replace);
            for (uint32_t id : step.clicks)
                ASSERT_TRUE(gui_test_click(id));
            ASSERT_TRUE(search_wait_done(true));
            expect_window_given_back(step.result.c_str());
            for (uint32_t id : {ID_ALIGNMENT_BYTE, ID_ALIGNMENT_HALF_WORD, ID_ALIGNMENT_WORD})
                EXPECT_EQ(id == step.alignment, radio_checked(id)) << id;
        }
    });
}

TEST(Search, LongResultsArriveWhole) {
    TempFolder folder;
    const std::string elf = folder.file("many.elf");
    elf_write(elf, std::vector<uint32_t>(1024, 0x24090003));
    // About 21 KB, five times the result's first block.
    std::string expected = header("24090003", "FFFFFFFF");
    char line[32];
    for (unsigned i = 0; i < 1024; ++i) {
        std::snprintf(line, sizeof line, "%08X //24090003\r\n", 0x00100100 + 4 * i);
        expected += line;
    }
    expected += "\r\n";
    app_session([&] {
        browse_load(elf);
        ASSERT_TRUE(gui_test_click(ID_ENDIAN_BIG));
        ASSERT_TRUE(gui_test_click(ID_FORMAT_ADDRESS));
        set_patterns("24090003", "");
        ASSERT_TRUE(search_wait_done(true));
        const std::string result = control_text(ID_RESULT);
        EXPECT_EQ(expected.size(), result.size());
        EXPECT_TRUE(expected == result); // not EXPECT_EQ: two 21 KB texts would flood the log
    });
}
