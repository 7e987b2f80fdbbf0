// Disc images opened in the window: the boot executable inside an ISO, a raw BIN (directly and
// through its cue sheet) and a CSO image must search exactly as the loose file does, by Browse
// and by drop; a refused image says why and leaves no file. The images are made at build time
// (make_app_images.py), the sample program being their boot executable SLUS_203.12.
#include <cstdio>

#include "app/current_file.h"
#include "app/events.h"
#include "app_session.h"
#include "core/search_rules.h"
#include "gui/backend.h"

namespace {

const char* const IMAGES[] = {"Game.iso", "Game.bin", "Game.cue", "Game.cso"};

// The images copied into a fresh folder, from where a user would open them.
struct ImageFolder : TempFolder {
    ImageFolder() {
        for (const char* name :
             {"Game.iso", "Game.bin", "Game.cue", "Game.cso", "Bad.iso", "sample.elf"})
            std::filesystem::copy_file(std::filesystem::path(APP_IMAGE_DIR) / name, file(name));
    }
};

std::string file_uri(const std::string& path) {
    std::string absolute = std::filesystem::absolute(path).generic_string();
    return (absolute[0] == '/' ? "file://" : "file:///") + absolute + "\r\n";
}

void drop_load(const std::string& path) {
    ASSERT_TRUE(gui_test_drop(file_uri(path).c_str()));
    ASSERT_TRUE(gui_test_settle(WAIT_MS));
}

// The sample's own patterns in `formats`, the results joined: PNACH shows the addresses, the
// replacement and the checksum, Offset the file offsets.
std::string search_results(std::initializer_list<uint32_t> formats) {
    EXPECT_EQ(0u, gui_control_set_text(ID_SEARCH_PATTERNS,
                                       "03 00 09 24\r\nFF FF 42 24\r\nxx xx 08 3C\r\n"));
    EXPECT_EQ(0u, gui_control_set_text(ID_REPLACE_PATTERNS,
                                       "63 00 09 24\r\n00 00 42 24\r\nxx xx 08 3C\r\n"));
    std::string all;
    for (uint32_t format : formats) {
        EXPECT_TRUE(gui_test_click(format));
        EXPECT_TRUE(search_wait_done(true));
        all += control_text(ID_RESULT) + "\n----\n";
    }
    return all;
}

} // namespace

TEST(Disc, ImagesSearchAsTheLooseFileByBrowseAndDrop) {
    ImageFolder folder;
    app_session([&] {
        browse_load(folder.file("sample.elf"));
        EXPECT_EQ("sample.elf", control_text(ID_FILE_NAME));
        const std::string loose = search_results({ID_FORMAT_PNACH, ID_FORMAT_OFFSET});
        const std::string loose_pnach = search_results({ID_FORMAT_PNACH});
        // The sample's patterns are there: an empty result would prove nothing.
        EXPECT_NE(std::string::npos, loose.find("patch=1,EE,")) << loose;
        for (const char* name : IMAGES) {
            SCOPED_TRACE(name);
            const std::string label = std::string("SLUS_203.12 in ") + name;
            browse_load(folder.file(name));
            EXPECT_EQ(label, control_text(ID_FILE_NAME));
            EXPECT_EQ(loose, search_results({ID_FORMAT_PNACH, ID_FORMAT_OFFSET}));
            browse_load(folder.file("sample.elf"));
            drop_load(folder.file(name));
            EXPECT_EQ(label, control_text(ID_FILE_NAME));
            EXPECT_EQ(loose_pnach, search_results({ID_FORMAT_PNACH}));
        }
        GuiTestModal log[1];
        EXPECT_EQ(0u, gui_test_message_log(log, 1));
    });
}

TEST(Disc, RefusedImageSaysWhyAndLeavesNoFile) {
    ImageFolder folder;
    const char* const message = "Invalid disc image (directory record past the end of the image)";
    app_session([&] {
        browse_load(folder.file("Game.iso"));
        browse_load(folder.file("Bad.iso"));
        expect_message(message);
        EXPECT_EQ("", control_text(ID_FILE_NAME));
        EXPECT_EQ(nullptr, loaded_image);
        search_expect_refusal(MSG_NO_ELF_SELECTED);

        drop_load(folder.file("Game.cso"));
        EXPECT_EQ("SLUS_203.12 in Game.cso", control_text(ID_FILE_NAME));
        drop_load(folder.file("Bad.iso"));
        expect_message(message);
        EXPECT_EQ("", control_text(ID_FILE_NAME));
        EXPECT_EQ(nullptr, loaded_image);
    });
}

// Save proposes what it would for the extracted executable: the checksum name for PNACH, else
// the boot executable's own name.
TEST(Disc, SaveProposesTheExtractedExecutablesNames) {
    ImageFolder folder;
    app_session([&] {
        std::string names[2];
        for (int i = 0; i < 2; ++i) {
            browse_load(folder.file(i == 0 ? "sample.elf" : "Game.iso"));
            ASSERT_NE(nullptr, loaded_image);
            char expected[16];
            std::snprintf(expected, sizeof expected, "%08X.PNACH", loaded_image->checksum);
            ASSERT_TRUE(gui_test_click(ID_FORMAT_PNACH));
            ASSERT_TRUE(gui_test_click(ID_SAVE));
            names[i] = expect_dialog(GUI_TEST_MODAL_SAVE).file_name;
            EXPECT_EQ(expected, names[i]);
            file_answer(nullptr);
        }
        EXPECT_EQ(names[0], names[1]);
        ASSERT_TRUE(gui_test_click(ID_FORMAT_OFFSET));
        ASSERT_TRUE(gui_test_click(ID_SAVE));
        EXPECT_STREQ("SLUS_203.12", expect_dialog(GUI_TEST_MODAL_SAVE).file_name);
        file_answer(nullptr);
    });
}

// Disc images come last, so the dialog still opens on ELF files; their patterns ignore case.
TEST(Disc, BrowseOffersDiscImagesLast) {
    FileFilterList list{};
    ASSERT_EQ(GUI_ERROR_NONE, file_filter_parse(filter_browse(), &list));
    ASSERT_EQ(3u, list.count);
    EXPECT_STREQ("ELF Files (*.elf, *.##)", list.filters[0].description);
    const FileFilter& disc = list.filters[2];
    EXPECT_STREQ("Disc images (*.iso, *.bin, *.cso, *.cue)", disc.description);
    for (const char* name : {"GAME.ISO", "game.cue", "Game.Bin", "x.cso"})
        EXPECT_TRUE(file_filter_accepts(&disc, name)) << name;
    for (const char* name : {"game.elf", "game.iso.txt", "SLUS_203.12"})
        EXPECT_FALSE(file_filter_accepts(&disc, name)) << name;
    file_filter_free(&list);

    ImageFolder folder;
    app_session([&] {
        ASSERT_TRUE(gui_test_click(ID_BROWSE));
        EXPECT_EQ(3u, expect_dialog(GUI_TEST_MODAL_OPEN).filter_count);
        EXPECT_EQ(0, gui_test_file_filter_accepts("GAME.ISO"));
        file_answer(nullptr);
    });
}
