#include "app/current_file.h"

#include <cstring>
#include <string>

#include "app/controls.h"
#include "app/trace_texts.h"
#include "core/executable_file.h"
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

namespace {

void file_name_keep(const char* name) {
    size_t length = std::strlen(name);
    if (length > sizeof loaded_file_name - 1) {
        length = sizeof loaded_file_name - 1;
    }
    std::memcpy(loaded_file_name, name, length);
    loaded_file_name[length] = '\0';
}

} // namespace

void load_elf(const char* path) {
    current_file_release();
    ExecutableFile file;
    std::string message;
    const ExecutableFileStatus status = executable_file_read(path, &file, &message);
    if (status == EXECUTABLE_FILE_OK) {
        loaded_image = elf_image_from_bytes(file.data, file.size);
    }
    if (loaded_image == nullptr) {
        // A refused image says why; anything else is simply not a usable ELF file.
        const char* text = status == EXECUTABLE_FILE_BAD_IMAGE ? message.c_str() : MSG_INVALID_ELF;
        gui_notification(text, "Error", GUI_NOTIFY_OK);
        TRACE_CALL(FUNCTION, 422, UNIT, MSG_CONTROL, gui_control_set_text(ID_FILE_NAME, ""));
        return;
    }
    if (!file.in_image) {
        file_name_keep(path_base_name(path));
        TRACE_CALL(FUNCTION, 433, UNIT, MSG_CONTROL,
                   gui_control_set_text(ID_FILE_NAME, loaded_file_name));
        return;
    }
    // The boot path may name folders inside the image ("GAME/SLUS_203.12"), always with '/' or
    // '\' whatever the host system; the image's own path uses the host's separators.
    const std::string boot_name = executable_file_base_name(file.boot.path_in_image);
    file_name_keep(boot_name.c_str());
    const std::string label = boot_name + " in " + path_base_name(path);
    TRACE_CALL(FUNCTION, 433, UNIT, MSG_CONTROL, gui_control_set_text(ID_FILE_NAME, label.c_str()));
}

void current_file_release() {
    if (loaded_image != nullptr) {
        free_elf_image(loaded_image);
        loaded_image = nullptr;
    }
}
