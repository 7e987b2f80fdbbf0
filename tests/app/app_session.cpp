#include "app_session.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
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
    fs::remove_all(path, ignored);
}

std::string TempFolder::file(const char* name) const {
    return (fs::path(path) / name).string();
}

void elf_write(const std::string& path, const std::vector<uint32_t>& code,
               const std::vector<uint32_t>& data) {
    const uint32_t code_size = static_cast<uint32_t>(code.size() * 4);
    const uint32_t data_offset = 0x100 + code_size;
    std::string bytes(data_offset + data.size() * 4, '\0');
    const auto put = [&bytes](size_t at, uint32_t value, int size = 4) {
        for (int i = 0; i < size; ++i) {
            bytes[at + i] = static_cast<char>(value >> (8 * i));
        }
    };
    bytes.replace(0, 7, "\177ELF\1\1\1"); // 32-bit, little-endian, version 1
    // Executable, MIPS, version 1, entry, program headers at 52: two of 32 bytes.
    const struct {
        size_t at;
        uint32_t value;
        int size;
    } header[] = {{16, 2, 2},  {18, 8, 2},  {20, 1, 4},  {24, 0x00100100, 4},
                  {28, 52, 4}, {40, 52, 2}, {42, 32, 2}, {44, 2, 2}};
    for (const auto& field : header) {
        put(field.at, field.value, field.size);
    }
    // PT_LOAD: offset, address twice, size twice, flags (read+execute, read+write), alignment.
    const uint32_t segments[2][4] = {
        {0x100, 0x00100100, code_size, 5},
        {data_offset, 0x00200000 + data_offset, static_cast<uint32_t>(data.size() * 4), 6}};
    for (size_t s = 0; s < 2; ++s) {
        const uint32_t* g = segments[s];
        const uint32_t fields[8] = {1, g[0], g[1], g[1], g[2], g[2], g[3], 4};
        for (size_t f = 0; f < 8; ++f) {
            put(52 + 32 * s + 4 * f, fields[f]);
        }
    }
    for (size_t i = 0; i < code.size() + data.size(); ++i) {
        put(0x100 + 4 * i, i < code.size() ? code[i] : data[i - code.size()]);
    }
    file_write(path, bytes);
}

void file_write(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string file_read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
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

void expect_message(const char* text, const char* caption) {
    GuiTestModal modal{};
    ASSERT_TRUE(gui_test_modal_wait(&modal, 20000));
    EXPECT_EQ(GUI_TEST_MODAL_MESSAGE, modal.kind);
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
    const fs::path before = fs::current_path();
    fs::current_path(fs::path(path).parent_path());
    ASSERT_TRUE(gui_test_click(ID_BROWSE));
    GuiTestModal modal{};
    EXPECT_TRUE(gui_test_modal_wait(&modal, 20000));
    EXPECT_EQ(GUI_TEST_MODAL_OPEN, modal.kind);
    EXPECT_TRUE(gui_test_file_answer(path.c_str()));
    EXPECT_TRUE(gui_test_settle(20000));
    fs::current_path(before);
}
