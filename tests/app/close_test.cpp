// Closing the window while a search runs: the image stays, and nothing waits for anything.
// Kept in a process of its own, since the search it leaves behind outlives the window.
#include <gtest/gtest.h>

#include "app/controls.h"
#include "app/current_file.h"
#include "app/search.h"
#include "app_session.h"

TEST(CloseDuringSearch, NeitherReleasesTheImageNorDeadlocks) {
    TempFolder folder;
    const std::string elf = folder.file("game.elf");
    elf_write(elf, {0x24090003});
    const ElfImage* image = nullptr;
    app_session([&] {
        browse_load(elf);
        image = loaded_image;
        ASSERT_NE(nullptr, image);
        // The search stops in its message box: it is waiting inside a toolkit call that the
        // GUI thread serves, and still counts as running.
        ASSERT_EQ(0u, gui_control_set_text(ID_SEARCH_PATTERNS, "no pattern"));
        ASSERT_TRUE(gui_test_click(ID_SEARCH));
        GuiTestModal modal{};
        ASSERT_TRUE(gui_test_modal_wait(&modal, 20000));
        ASSERT_TRUE(search_is_running());
        ASSERT_TRUE(gui_test_close());
    });
    // The session ended: the close did not wait for the search, and left its image alone.
    EXPECT_EQ(image, loaded_image);
    EXPECT_NE(nullptr, loaded_image->data);
}

TEST(CloseDuringSearch, AClosedWindowWithoutASearchReleasesTheImage) {
    TempFolder folder;
    const std::string elf = folder.file("game.elf");
    elf_write(elf, {0x24090003});
    // Run after the test above, this also shows that a later window starts clean.
    app_session([&] {
        browse_load(elf);
        ASSERT_NE(nullptr, loaded_image);
    });
    EXPECT_EQ(nullptr, loaded_image);
}
