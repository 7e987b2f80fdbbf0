// Opening ELF files (Browse and drop), loading pattern files, saving results and Help.
#include "app/current_file.h"
#include "app/help.h"
#include "app_session.h"
#include "core/search_rules.h"

// One line of a dropped uri-list; a drive-letter path (C:/...) needs a third slash.
static std::string file_uri(const std::string& path) {
    std::string absolute = std::filesystem::absolute(path).generic_string();
    return (absolute[0] == '/' ? "file://" : "file:///") + absolute + "\r\n";
}

TEST(Files, BrowseAndDropOpenAFileAndAFailedLoadLeavesNone) {
    TempFolder folder;
    const std::string elf = folder.file("game.elf"), other = folder.file("other.elf");
    elf_write(elf, {0x24090003});
    elf_write(other, {0x24090003});
    file_write(folder.file("notes.txt"), "not an executable\n");
    std::filesystem::current_path(folder.path);
    app_session([&] {
        ASSERT_TRUE(gui_test_click(ID_BROWSE));
        GuiTestModal dialog = expect_dialog(GUI_TEST_MODAL_OPEN);
        EXPECT_STREQ("", dialog.file_name);
        EXPECT_EQ(3u, dialog.filter_count); // ELF files, all files, disc images
        // *.elf and .00 to .99, whatever the case; the last of them shows that the whole
        // filter string arrived.
        for (const char* name : {"GAME.ELF", "SLUS_123.45", "disc.00", "disc.99"})
            EXPECT_EQ(1, gui_test_file_filter_accepts(name)) << name;
        for (const char* name : {"disc.4", "disc.100", "game.elf.txt"})
            EXPECT_EQ(0, gui_test_file_filter_accepts(name)) << name;
        // A name that is not there is refused with a box, and the dialog stays open.
        ASSERT_TRUE(gui_test_file_answer(folder.file("missing.elf").c_str()));
        wait_for_box_over_dialog();
        ASSERT_TRUE(gui_test_message_answer(GUI_ANSWER_OK));
        ASSERT_TRUE(gui_test_settle(WAIT_MS));
        expect_dialog(GUI_TEST_MODAL_OPEN);
        // Cancelling changes nothing.
        file_answer(nullptr);
        EXPECT_EQ("Click 'Browse' or drag and drop to open an ELF file",
                  control_text(ID_FILE_NAME));

        browse_load(elf);
        EXPECT_EQ("game.elf", control_text(ID_FILE_NAME));
        // A file that fails to load leaves none: the one loaded before is gone too.
        browse_load(folder.file("notes.txt"));
        expect_message(MSG_INVALID_ELF);
        EXPECT_EQ("", control_text(ID_FILE_NAME));
        search_expect_refusal(MSG_NO_ELF_SELECTED);

        // A drop loads the first file of several.
        ASSERT_TRUE(gui_test_drop((file_uri(other) + file_uri(elf)).c_str()));
        ASSERT_TRUE(gui_test_settle(WAIT_MS));
        EXPECT_EQ("other.elf", control_text(ID_FILE_NAME));

        // A search waiting on its message box is still running: Browse is disabled, and a drop
        // must not replace the image under it.
        ASSERT_EQ(0u, gui_control_set_text(ID_SEARCH_PATTERNS, "no pattern"));
        ASSERT_TRUE(gui_test_click(ID_SEARCH));
        EXPECT_STREQ(MSG_NO_SEARCH_PATTERNS, expect_dialog(GUI_TEST_MODAL_MESSAGE).text);
        EXPECT_FALSE(control_enabled(ID_BROWSE));
        EXPECT_FALSE(control_enabled(ID_SEARCH));
        gui_test_drop(file_uri(elf).c_str());
        ASSERT_TRUE(gui_test_message_answer(GUI_ANSWER_OK));
        ASSERT_TRUE(search_wait_done());
        EXPECT_EQ("other.elf", control_text(ID_FILE_NAME));
        ASSERT_TRUE(gui_test_drop(file_uri(elf).c_str()));
        ASSERT_TRUE(gui_test_settle(WAIT_MS));
        EXPECT_EQ("game.elf", control_text(ID_FILE_NAME));
    });
    // Closing the window released the file.
    EXPECT_EQ(nullptr, loaded_image);
}

TEST(Files, PatternFilesFillTheirBoxWhole) {
    TempFolder folder;
    const std::string search = folder.file("search.txt"), replace = folder.file("replace.txt");
    file_write(search, "03 00 09 24 ; lives\r\nFF FF 42 24\r\n");
    file_write(replace, "63 00 09 24\r\n00 00 42 24\r\n");
    std::filesystem::current_path(folder.path);
    app_session([&] {
        ASSERT_EQ(0u, gui_control_set_text(ID_SEARCH_PATTERNS, "old text"));
        for (auto [button, box, path] :
             {std::tuple{ID_LOAD_SEARCH_PATTERNS, ID_SEARCH_PATTERNS, &search},
              std::tuple{ID_LOAD_REPLACE_PATTERNS, ID_REPLACE_PATTERNS, &replace}}) {
            ASSERT_TRUE(gui_test_click(button));
            expect_dialog(GUI_TEST_MODAL_OPEN);
            EXPECT_EQ(1, gui_test_file_filter_accepts("patterns.txt"));
            EXPECT_EQ(0, gui_test_file_filter_accepts("patterns.elf"));
            file_answer(path->c_str());
            EXPECT_EQ(file_read(*path), control_text(box));
        }
    });
}

TEST(Files, SaveProposesTheChecksumNameForPnachAndTheFileNameOtherwise) {
    TempFolder folder;
    const std::string elf = folder.file("game.elf");
    elf_write(elf, {0x24090003, 0x2442FFFF, 0x0000ABCD}); // its words XOR to 463E1141
    std::filesystem::current_path(folder.path);
    app_session([&] {
        ASSERT_TRUE(gui_test_click(ID_SAVE));
        expect_message(MSG_NO_ELF_SELECTED);

        browse_load(elf);
        const std::string text = "patch=1,EE,00100100,word,24090063 //24090003\r\nedited\r\n";
        ASSERT_EQ(0u, gui_control_set_text(ID_RESULT, text.c_str()));
        ASSERT_TRUE(gui_test_click(ID_SAVE));
        EXPECT_STREQ("463E1141.PNACH", expect_dialog(GUI_TEST_MODAL_SAVE).file_name);
        // The dialog adds the default extension to a name without one.
        file_answer(folder.file("mine").c_str());
        EXPECT_EQ(text, file_read(folder.file("mine.PNACH")));

        ASSERT_TRUE(gui_test_click(ID_FORMAT_OFFSET));
        ASSERT_TRUE(gui_test_click(ID_SAVE));
        EXPECT_STREQ("game.elf", expect_dialog(GUI_TEST_MODAL_SAVE).file_name);
        // Cancelled: nothing written, nothing said.
        file_answer(nullptr);
        GuiTestModal log[4];
        EXPECT_EQ(1u, gui_test_message_log(log, 4)); // only the first "No ELF file selected"
        // The dialogs left the current directory where it was.
        EXPECT_TRUE(std::filesystem::equivalent(folder.path, std::filesystem::current_path()));

        // An existing file is replaced only once the user agrees; "No" goes back to the dialog.
        ASSERT_EQ(0u, gui_control_set_text(ID_RESULT, "other"));
        ASSERT_TRUE(gui_test_click(ID_SAVE));
        expect_dialog(GUI_TEST_MODAL_SAVE);
        for (NotificationAnswer answer : {GUI_ANSWER_NO, GUI_ANSWER_YES}) {
            ASSERT_TRUE(gui_test_file_answer(folder.file("mine.PNACH").c_str()));
            wait_for_box_over_dialog();
            EXPECT_EQ(text, file_read(folder.file("mine.PNACH")));
            ASSERT_TRUE(gui_test_message_answer(answer));
            ASSERT_TRUE(gui_test_settle(WAIT_MS));
        }
        EXPECT_EQ("other", file_read(folder.file("mine.PNACH")));
    });
}

TEST(Files, HelpFindsReadmeInTheCurrentFolderThenBesideTheProgram) {
    TempFolder folder;
    for (const char* sub : {"cwd", "bin", "data", "share/quarnel"})
        std::filesystem::create_directories(folder.file(sub));
    help_set_data_folder(folder.file("data").c_str());
    const std::string program = folder.file("bin") + "/quarnel";
    std::filesystem::current_path(folder.file("cwd"));
    // Nowhere at first (the window stays usable); then later candidates first, each then
    // hidden by the one before it.
    for (const char* sub : {"", "data", "share/quarnel", "bin", "cwd"}) {
        const std::string text = std::string("help in ") + sub + "\n";
        if (*sub)
            file_write(folder.file(sub) + "/readme.txt", text);
        app_session(
            [&] {
                ASSERT_TRUE(gui_test_click(ID_HELP));
                GuiTestWindow window{};
                GuiTestPopup popup{};
                if (!*sub) {
                    expect_message("Unable to open readme.txt");
                    ASSERT_TRUE(gui_test_window(&window));
                    EXPECT_TRUE(window.sensitive);
                    return;
                }
                ASSERT_TRUE(gui_test_settle(WAIT_MS));
                ASSERT_TRUE(gui_test_popup(&popup));
                EXPECT_STREQ("Readme", popup.title);
                EXPECT_EQ(text, popup.text);
                EXPECT_TRUE(popup.read_only);
                ASSERT_TRUE(gui_test_popup_close());
            },
            program.c_str());
    }
    help_set_data_folder(nullptr);
}
