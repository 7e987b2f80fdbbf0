// A 100 MB result text through the result box and Save, byte for byte and in linear time.
#include <cstdio>

#include <gtest/gtest.h>

#include "app/controls.h"
#include "gui/gui_test.h"
#include "hostile_support.h"

namespace {

struct BigSave {
    std::string elf, target, text = {};
    double set_seconds = 0, save_seconds = 0;
};

TEST(BigWindow, AHundredMegabyteResultIsShownAndSavedWhole) {
    ScratchDir dir;
    BigSave big{.elf = dir.file("game.elf"), .target = dir.file("big.txt")};
    write_whole_file(big.elf, make_elf_bytes(16, 0x24020005));
    // The sanitizer builds take a tenth: GTK's own layout of 100 MB takes most of a minute.
    const size_t total = size_t(time_factor() > 1 ? 10 : 100) << 20;
    big.text.reserve(total);
    char line[64];
    for (uint32_t n = 0; big.text.size() + 46 <= total; n++)
        big.text.append(line,
                        snprintf(line, sizeof line, "patch=1,EE,%08X,word,24020001 //24020005\r\n",
                                 0x100100 + 4 * n));

    char argv0[] = "quarnel";
    char* argv[] = {argv0, nullptr};
    gui_test_run(
        app_main, 1, argv,
        [](void* context) {
            BigSave& b = *static_cast<BigSave*>(context);
            ASSERT_TRUE(gui_test_drop(("file://" + b.elf + "\r\n").c_str()));
            ASSERT_TRUE(gui_test_settle(60000));
            ASSERT_TRUE(gui_test_click(ID_FORMAT_ADDRESS)); // Save then proposes a .txt name
            auto start = std::chrono::steady_clock::now();
            ASSERT_EQ(gui_control_set_text(ID_RESULT, b.text.c_str()), 0u);
            uint32_t length = 0;
            ASSERT_EQ(gui_control_get_text_length(ID_RESULT, &length), 0u);
            EXPECT_EQ(length, b.text.size());
            // The box lays its text out while the window is idle; the window must get there.
            EXPECT_TRUE(gui_test_settle(600000));
            b.set_seconds = seconds_since(start);

            start = std::chrono::steady_clock::now();
            EXPECT_TRUE(gui_test_click(ID_SAVE));
            // Answered even when the click took too long to settle, so that the session can end.
            GuiTestModal modal{};
            ASSERT_TRUE(gui_test_modal_wait(&modal, 120000));
            ASSERT_EQ(modal.kind, GUI_TEST_MODAL_SAVE);
            ASSERT_TRUE(gui_test_file_answer(b.target.c_str()));
            ASSERT_TRUE(gui_test_settle(300000));
            b.save_seconds = seconds_since(start);
            GuiTestModal boxes[1];
            EXPECT_EQ(gui_test_message_log(boxes, 1), 0u) << "a message came up: " << boxes[0].text;
        },
        &big);
    EXPECT_TRUE(read_whole_file(big.target) == big.text) << "the saved file differs";
    printf("%zu MB: set, laid out and read back %.2f s, saved %.2f s\n", total >> 20,
           big.set_seconds, big.save_seconds);
    // Linear work takes under a minute here, a pass per line hours; room for a slow shared CI.
    EXPECT_LT(big.set_seconds + big.save_seconds, 300.0 * time_factor());
}

} // namespace
