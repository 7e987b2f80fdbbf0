// Running the real application over the real toolkit in a test, and the little files it needs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/gui_test.h"

// Runs one whole window session: app_main starts it, `body` drives it on the test thread, and
// the window is closed as the user would when the body returns. `argv0` is the program path.
// The body runs only once app_main has returned 0, which is checked.
template <typename Body> void app_session(Body&& body, const char* argv0 = "quarnel") {
    std::string program = argv0;
    char* argv[] = {program.data(), nullptr};
    EXPECT_EQ(0, gui_test_run(
                     app_main, 1, argv, [](void* b) { (*static_cast<Body*>(b))(); }, &body));
    EXPECT_EQ(0, gui_test_entry_result()) << "the window did not start: is there a display?";
}

// A folder of its own under the system's temporary folder. At the end the current directory
// is put back and the folder removed with its files.
struct TempFolder {
    std::filesystem::path before = std::filesystem::current_path();
    std::string path;
    TempFolder();
    ~TempFolder();
    std::string file(const char* name) const;
};

// Writes a 32-bit little-endian MIPS ELF file: `code` in an executable segment at file offset
// 0x100, address 0x00100100, and `data` right after it at address 0x00200000 + its offset.
void elf_write(const std::string& path, const std::vector<uint32_t>& code,
               const std::vector<uint32_t>& data = {});
void file_write(const std::string& path, const std::string& bytes);
std::string file_read(const std::string& path);

std::string control_text(uint32_t id);
bool control_enabled(uint32_t id);
bool radio_checked(uint32_t id);

// Waits until a search has ended and every control is given back; clicks Search first if asked.
bool search_wait_done(bool click = false);

// Waits for a message box or file dialog and expects it to be of `kind`.
GuiTestModal expect_dialog(GuiTestModalKind kind);

// Waits until a message box has opened over a file dialog that was just answered (the dialog
// stays the innermost window until the box shows) and describes it.
GuiTestModal wait_for_box_over_dialog();

// Expects a message box with `text` and `caption`, answers it and lets the window settle.
void expect_message(const char* text, const char* caption = "Error");

// Clicks Search, expects the refusal `text` and waits for the run to end.
void search_expect_refusal(const char* text);

// Loads `path` through the Browse dialog, from its folder as the current directory (where a
// user would have browsed to).
void browse_load(const std::string& path);
