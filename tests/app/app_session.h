// The real application over the real toolkit in a test, and the little files it needs.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/controls.h"
#include "app/search.h"
#include "gui/gui_test.h"

constexpr uint32_t WAIT_MS = 20000;

// One window session: `body` drives it on the test thread once app_main has returned 0, and the
// window is closed as the user would when it returns.
template <typename Body> void app_session(Body&& body, const char* argv0 = "quarnel") {
    std::string program = argv0;
    char* argv[] = {program.data(), nullptr};
    EXPECT_EQ(0, gui_test_run(
                     app_main, 1, argv, [](void* b) { (*static_cast<Body*>(b))(); }, &body));
    EXPECT_EQ(0, gui_test_entry_result()) << "the window did not start: is there a display?";
}

// A fresh temporary folder; the current directory is put back and the folder removed at the end.
struct TempFolder {
    std::filesystem::path before = std::filesystem::current_path();
    std::string path;
    TempFolder() {
        std::random_device random;
        do {
            const auto name = "quarnel-app-" + std::to_string(random());
            path = (std::filesystem::temp_directory_path() / name).string();
        } while (!std::filesystem::create_directory(path));
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::current_path(before, ignored);
        std::filesystem::remove_all(path, ignored);
    }
    std::string file(const char* name) const {
        return (std::filesystem::path(path) / name).string();
    }
};

inline void file_write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string file_read(const std::string& path) {
    std::ostringstream all;
    all << std::ifstream(path, std::ios::binary).rdbuf();
    return all.str();
}

// A little-endian MIPS executable: `code` read+execute at file offset 0x100, address 0x00100100,
// and `data` read+write right after it at 0x00200000 + its offset.
inline void elf_write(const std::string& path, const std::vector<uint32_t>& code,
                      const std::vector<uint32_t>& data = {}) {
    const uint32_t code_size = static_cast<uint32_t>(code.size() * 4);
    const uint32_t data_size = static_cast<uint32_t>(data.size() * 4);
    const uint32_t data_at = 0x100 + code_size;
    // clang-format off
    std::vector<uint32_t> words = {
        0x464C457F, 0x00010101, 0, 0, 0x00080002, 1, 0x00100100, 52, 0, 0, 0x00200034, 2, 0,
        1, 0x100, 0x00100100, 0x00100100, code_size, code_size, 5, 4,
        1, data_at, 0x00200000 + data_at, 0x00200000 + data_at, data_size, data_size, 6, 4};
    // clang-format on
    words.resize(0x100 / 4);
    words.insert(words.end(), code.begin(), code.end());
    words.insert(words.end(), data.begin(), data.end());
    std::string bytes(words.size() * 4, '\0'); // both build hosts are little-endian too
    std::memcpy(bytes.data(), words.data(), bytes.size());
    file_write(path, bytes);
}

inline std::string control_text(uint32_t id) {
    uint32_t length = 0;
    EXPECT_EQ(0u, gui_control_get_text_length(id, &length));
    std::string text(length + 1, '\0');
    EXPECT_EQ(0u, gui_control_get_text(id, text.data(), length + 1));
    return text.c_str();
}

inline bool control_enabled(uint32_t id) {
    uint32_t enabled = 0;
    EXPECT_EQ(0u, gui_control_enabled(id, &enabled));
    return enabled != 0;
}

inline bool radio_checked(uint32_t id) {
    CheckState state = GUI_UNCHECKED;
    EXPECT_EQ(0u, gui_radio_button_get(id, &state));
    return state == GUI_CHECKED;
}

// Waits until a search has ended and every control is given back; clicks Search first if asked.
inline bool search_wait_done(bool click = false) {
    const auto done = [](void*) -> int {
        uint32_t search = 0, result = 0;
        return !search_is_running() && gui_control_enabled(ID_SEARCH, &search) == 0 &&
               gui_control_enabled(ID_RESULT, &result) == 0 && search != 0 && result != 0;
    };
    return (!click || gui_test_click(ID_SEARCH)) && gui_test_wait(done, nullptr, WAIT_MS) != 0;
}

// Waits for a message box or file dialog and expects it to be of `kind`.
inline GuiTestModal expect_dialog(GuiTestModalKind kind) {
    GuiTestModal modal{};
    EXPECT_TRUE(gui_test_modal_wait(&modal, WAIT_MS));
    EXPECT_EQ(kind, modal.kind);
    return modal;
}

// A file dialog stays the innermost window until the box it opens shows.
inline void wait_for_box_over_dialog() {
    EXPECT_TRUE(gui_test_wait(
        [](void*) -> int {
            GuiTestModal modal{};
            return gui_test_modal_wait(&modal, 100) && modal.kind == GUI_TEST_MODAL_MESSAGE;
        },
        nullptr, WAIT_MS));
}

// Expects an OK box with `text` and `caption`, answers it and lets the window settle.
inline void expect_message(const char* text, const char* caption = "Error") {
    const GuiTestModal modal = expect_dialog(GUI_TEST_MODAL_MESSAGE);
    EXPECT_EQ(GUI_NOTIFY_OK, modal.type);
    EXPECT_STREQ(text, modal.text);
    EXPECT_STREQ(caption, modal.caption);
    ASSERT_TRUE(gui_test_message_answer(GUI_ANSWER_OK));
    ASSERT_TRUE(gui_test_settle(WAIT_MS));
}

inline void search_expect_refusal(const char* text) {
    ASSERT_TRUE(gui_test_click(ID_SEARCH));
    expect_message(text);
    ASSERT_TRUE(search_wait_done());
}

// Answers the open file dialog with `path`, or cancels it for none.
inline void file_answer(const char* path) {
    ASSERT_TRUE(gui_test_file_answer(path));
    ASSERT_TRUE(gui_test_settle(WAIT_MS));
}

// Loads `path` through Browse, from its folder, where a user would have browsed to.
inline void browse_load(const std::string& path) {
    std::filesystem::current_path(std::filesystem::path(path).parent_path());
    ASSERT_TRUE(gui_test_click(ID_BROWSE));
    expect_dialog(GUI_TEST_MODAL_OPEN);
    file_answer(path.c_str());
}
