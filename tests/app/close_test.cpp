// Closing the window during a search neither waits for the search nor releases the image under
// it. A process of its own: the search outlives the window.
#include "app/current_file.h"
#include "app_session.h"

TEST(CloseDuringSearch, NeitherWaitsForTheSearchNorReleasesItsImage) {
    TempFolder folder;
    const std::string elf = folder.file("game.elf");
    elf_write(elf, {0x24090003});
    const ElfImage* image = nullptr;
    app_session([&] {
        browse_load(elf);
        image = loaded_image;
        ASSERT_NE(nullptr, image);
        // The search waits in its message box, inside a toolkit call, and still counts as running.
        ASSERT_EQ(0u, gui_control_set_text(ID_SEARCH_PATTERNS, "no pattern"));
        ASSERT_TRUE(gui_test_click(ID_SEARCH));
        expect_dialog(GUI_TEST_MODAL_MESSAGE);
        ASSERT_TRUE(search_is_running());
        ASSERT_TRUE(gui_test_close()); // a close that waited for the search would never return
        GuiTestWindow window{};
        gui_test_window(&window);
        EXPECT_FALSE(window.exists);
        EXPECT_EQ(image, loaded_image);
        EXPECT_NE(nullptr, loaded_image->data);
        // The box can still be answered; the run then ends with the window gone.
        gui_test_message_answer(GUI_ANSWER_OK);
    });
    EXPECT_EQ(image, loaded_image);
    EXPECT_NE(nullptr, loaded_image->data);
}
