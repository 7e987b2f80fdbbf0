#include "app_session.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "app/controls.h"
#include "app/search.h"

namespace fs = std::filesystem;

TempFolder::TempFolder() {
    std::random_device random;
    do {
        path = (fs::temp_directory_path() / ("quarnel-app-" + std::to_string(random()))).string();
    } while (!fs::create_directory(path));
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::current_path(before, ignored);
    fs::remove_all(path, ignored);
}

std::string TempFolder::file(const char* name) const {
    return (fs::path(path) / name).string();
}

void elf_write(const std::string& path, const std::vector<uint32_t>& code,
               const std::vector<uint32_t>& data) {
    const uint32_t code_size = static_cast<uint32_t>(code.size() * 4);
    const uint32_t data_size = static_cast<uint32_t>(data.size() * 4);
    const uint32_t data_at = 0x100 + code_size;
    // The header: 32-bit, little-endian, version 1, an executable for MIPS, its entry, and two
    // program headers of 32 bytes at 52. They load the code read+execute and the data
    // read+write: type, offset, address twice, size twice, flags, alignment.
    // clang-format off
    std::vector<uint32_t> words = {
        0x464C457F, 0x00010101, 0, 0, 0x00080002, 1, 0x00100100, 52, 0, 0, 0x00200034, 2, 0,
        1, 0x100, 0x00100100, 0x00100100, code_size, code_size, 5, 4,
        1, data_at, 0x00200000 + data_at, 0x00200000 + data_at, data_size, data_size, 6, 4};
    // clang-format on
    words.resize(0x100 / 4);
    words.insert(words.end(), code.begin(), code.end());
    words.insert(words.end(), data.begin(), data.end());
    // Both build hosts are little-endian, as the file is.
    std::string bytes(words.size() * 4, '\0');
    std::memcpy(bytes.data(), words.data(), bytes.size());
    file_write(path, bytes);
}

void file_write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string file_read(const std::string& path) {
    std::ostringstream all;
    all << std::ifstream(path, std::ios::binary).rdbuf();
    return all.str();
}

std::string control_text(uint32_t id) {
    uint32_t length = 0;
    EXPECT_EQ(0u, gui_control_get_text_length(id, &length));
    std::string text(length + 1, '\0');
    EXPECT_EQ(0u, gui_control_get_text(id, text.data(), length + 1));
    text.resize(std::strlen(text.c_str()));
    return text;
}

bool control_enabled(uint32_t id) {
    uint32_t enabled = 0;
    EXPECT_EQ(0u, gui_control_enabled(id, &enabled));
    return enabled != 0;
}

bool radio_checked(uint32_t id) {
    CheckState state = GUI_UNCHECKED;
    EXPECT_EQ(0u, gui_radio_button_get(id, &state));
    return state == GUI_CHECKED;
}

bool search_wait_done(bool click) {
    const auto done = [](void*) -> int {
        uint32_t search = 0, result = 0;
        return !search_is_running() && gui_control_enabled(ID_SEARCH, &search) == 0 &&
               gui_control_enabled(ID_RESULT, &result) == 0 && search != 0 && result != 0;
    };
    return (!click || gui_test_click(ID_SEARCH)) && gui_test_wait(done, nullptr, 20000) != 0;
}

GuiTestModal expect_dialog(GuiTestModalKind kind) {
    GuiTestModal modal{};
    EXPECT_TRUE(gui_test_modal_wait(&modal, 20000));
    EXPECT_EQ(kind, modal.kind);
    return modal;
}

GuiTestModal wait_for_box_over_dialog() {
    static GuiTestModal modal;
    modal = {};
    EXPECT_TRUE(gui_test_wait(
        [](void*) -> int {
            return gui_test_modal_wait(&modal, 100) && modal.kind == GUI_TEST_MODAL_MESSAGE;
        },
        nullptr, 20000));
    return modal;
}

void expect_message(const char* text, const char* caption) {
    const GuiTestModal modal = expect_dialog(GUI_TEST_MODAL_MESSAGE);
    EXPECT_EQ(GUI_NOTIFY_OK, modal.type);
    EXPECT_STREQ(text, modal.text);
    EXPECT_STREQ(caption, modal.caption);
    ASSERT_TRUE(gui_test_message_answer(GUI_ANSWER_OK));
    ASSERT_TRUE(gui_test_settle(20000));
}

void search_expect_refusal(const char* text) {
    ASSERT_TRUE(gui_test_click(ID_SEARCH));
    expect_message(text);
    ASSERT_TRUE(search_wait_done());
}

void browse_load(const std::string& path) {
    fs::current_path(fs::path(path).parent_path());
    ASSERT_TRUE(gui_test_click(ID_BROWSE));
    expect_dialog(GUI_TEST_MODAL_OPEN);
    EXPECT_TRUE(gui_test_file_answer(path.c_str()));
    EXPECT_TRUE(gui_test_settle(20000));
}
