#include "app/current_file.h"

#include <cstring>

#include "app/controls.h"
#include "app/trace_texts.h"
#include "core/report.h"
#include "core/search_rules.h"
#include "gui/gui.h"

#ifndef QUARNEL_PATH_SEPARATORS
#error "the build must define QUARNEL_PATH_SEPARATORS"
#endif

ElfImage* loaded_image = nullptr;
char loaded_file_name[260] = "";
const char path_separators[] = QUARNEL_PATH_SEPARATORS;

namespace {
const char FUNCTION[] = "load_elf";
} // namespace

const char* path_base_name(const char* path) {
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (std::strchr(path_separators, *p) != nullptr) {
            base = p + 1;
        }
    }
    return base;
}

void load_elf(const char* path) {
    current_file_release();
    loaded_image = read_elf(path);
    if (loaded_image == nullptr) {
        gui_notification(MSG_INVALID_ELF, "Error", GUI_NOTIFY_OK);
        TRACE_CALL(FUNCTION, 422, UNIT, MSG_CONTROL, gui_control_set_text(ID_FILE_NAME, ""));
        return;
    }
    const char* base = path_base_name(path);
    size_t length = std::strlen(base);
    if (length > sizeof loaded_file_name - 1) {
        length = sizeof loaded_file_name - 1;
    }
    std::memcpy(loaded_file_name, base, length);
    loaded_file_name[length] = '\0';
    TRACE_CALL(FUNCTION, 433, UNIT, MSG_CONTROL,
               gui_control_set_text(ID_FILE_NAME, loaded_file_name));
}

void current_file_release() {
    if (loaded_image != nullptr) {
        free_elf_image(loaded_image);
        loaded_image = nullptr;
    }
}
