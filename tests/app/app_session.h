// Running the real application over the real toolkit in a test, and the little files it needs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gui/gui_test.h"

// Runs one whole window session: app_main starts it, `body` drives it on the test thread, and
// the window is closed as the user would when the body returns. `argv0` is the program path
// that app_main sees.
template <typename Body> int app_session(Body&& body, const char* argv0 = "quarnel") {
    std::string program = argv0;
    char* argv[] = {program.data(), nullptr};
    return gui_test_run(
        app_main, 1, argv, [](void* b) { (*static_cast<Body*>(b))(); }, &body);
}

// A folder of its own under the system's temporary folder, removed with its files at the end.
struct TempFolder {
    std::string path;
    TempFolder();
    ~TempFolder();
    std::string file(const char* name) const;
};

// Writes a 32-bit little-endian ELF file with one executable loadable segment holding `code`
// (file offset 0x100, address 0x00100100) and one non-executable segment holding `data` right
// after it (address 0x00200000 + its offset).
void elf_write(const std::string& path, const std::vector<uint32_t>& code,
               const std::vector<uint32_t>& data = {});

void file_write(const std::string& path, const std::string& bytes);
std::string file_read(const std::string& path);

// The whole text of a control, read through the toolkit.
std::string control_text(uint32_t id);
bool control_enabled(uint32_t id);
bool radio_checked(uint32_t id);

// Clicks Search and waits until the run has ended and given every control back. Message boxes
// that the run shows must be answered by the caller (see search_expect_refusal).
bool search_click_and_wait();

// Waits until a search that was started has ended and the result box is usable again.
bool search_wait_done();

// Clicks Search, expects one message box with `text` and caption "Error", answers it and waits
// for the run to end.
void search_expect_refusal(const char* text);

// Clicks `button`, which opens a file dialog, and answers it with `path` (null cancels). The
// dialog is opened in the folder of `path`, as a user would have browsed there.
void dialog_answer(uint32_t button, const char* path);

// Loads `path` through the Browse dialog.
void browse_load(const std::string& path);

// Waits until the file at `path` holds `content`.
bool file_wait(const std::string& path, const std::string& content);
