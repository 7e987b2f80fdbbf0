// Closing the window while a search runs: the close neither waits for the search nor releases
// the image under it. Kept in a process of its own, since its search outlives the window.
#include <gtest/gtest.h>

#include "app/controls.h"
#include "app/current_file.h"
#include "app/search.h"
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
        // The search stops in its message box: it waits inside a toolkit call that the GUI
        // thread serves, and still counts as running.
        ASSERT_EQ(0u, gui_control_set_text(ID_SEARCH_PATTERNS, "no pattern"));
        ASSERT_TRUE(gui_test_click(ID_SEARCH));
        expect_dialog(GUI_TEST_MODAL_MESSAGE);
        ASSERT_TRUE(search_is_running());

        // A close that waited for the search here would never return.
        ASSERT_TRUE(gui_test_close());
        GuiTestWindow window{};
        gui_test_window(&window);
        EXPECT_FALSE(window.exists);
        EXPECT_EQ(image, loaded_image);
        EXPECT_NE(nullptr, loaded_image->data);

        // The box that the search still shows can be answered; its run then ends with the
        // window gone and the image still there.
        gui_test_message_answer(GUI_ANSWER_OK);
    });
    EXPECT_EQ(image, loaded_image);
    EXPECT_NE(nullptr, loaded_image->data);
}
