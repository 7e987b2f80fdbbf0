#include "app/help.h"

#include <cstdio>
#include <cstring>

#include "app/current_file.h"
#include "gui/gui.h"

#ifndef QUARNEL_DATA_DIR
#error "the build must define QUARNEL_DATA_DIR (empty when there is no installed data folder)"
#endif

namespace {

const char README[] = "readme.txt";

// The program's folder, separator included ("" when argv[0] named no folder), and the installed
// data folder ("" for none). Small enough that a candidate path always fits its 4096 bytes.
char program_folder[4000] = "";
char data_folder[4000] = QUARNEL_DATA_DIR;

} // namespace

void help_set_program_path(const char* argv0) {
    program_folder[0] = '\0';
    if (argv0 == nullptr) {
        return;
    }
    const char* base = path_base_name(argv0);
    const size_t length = static_cast<size_t>(base - argv0);
    if (length == 0 || length >= sizeof program_folder) {
        return;
    }
    std::memcpy(program_folder, argv0, length);
    program_folder[length] = '\0';
}

void help_set_data_folder(const char* folder) {
    if (folder == nullptr) {
        folder = QUARNEL_DATA_DIR;
    }
    // A folder cut short would name another place: leave it out instead.
    if (std::strlen(folder) >= sizeof data_folder) {
        folder = "";
    }
    std::snprintf(data_folder, sizeof data_folder, "%s", folder);
}

uint32_t help_candidates(char (*out)[4096], uint32_t max) {
    uint32_t n = 0;
    if (n < max) {
        std::snprintf(out[n++], sizeof out[0], "%s", README);
    }
    if (n < max && program_folder[0] != '\0') {
        std::snprintf(out[n++], sizeof out[0], "%s%s", program_folder, README);
    }
    // An installation keeps its data beside its bin folder, wherever it was installed to.
    if (n < max && program_folder[0] != '\0') {
        const char s = path_separators[0];
        std::snprintf(out[n++], sizeof out[0], "%s..%cshare%cquarnel%c%s", program_folder, s, s, s,
                      README);
    }
    if (n < max && data_folder[0] != '\0') {
        std::snprintf(out[n++], sizeof out[0], "%s%c%s", data_folder, path_separators[0], README);
    }
    return n;
}

void help_show() {
    char candidates[4][4096];
    const uint32_t count = help_candidates(candidates, 4);
    for (uint32_t i = 0; i < count; ++i) {
        if (gui_notification(candidates[i], "Readme", GUI_NOTIFY_TEXT_FILE) == 0) {
            return;
        }
    }
    gui_notification("Unable to open readme.txt", "Error", GUI_NOTIFY_OK);
}
