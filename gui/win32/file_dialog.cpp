// The common open and save dialogs. They may change the process's current directory while the
// user browses; it is put back whatever the outcome.
// windows.h first: the other system headers build on it.
#include "gui/win32/win32_internal.h"

#include <commdlg.h>

#include <cstdlib>
#include <cstring>

// The chosen path, shared by both dialogs; each dialog overwrites it.
static char dialog_path[MAX_PATH];

// The filter in the common-dialog form again: description, NUL, patterns joined by ";", NUL,
// ..., and one more NUL. Null when there is no filter; `*failed` when memory ran out.
static char* filter_string(const FileFilterList* filters, bool* failed) {
    *failed = false;
    if (!filters || filters->count == 0) {
        return nullptr;
    }
    size_t size = 1;
    for (uint32_t i = 0; i < filters->count; i++) {
        const FileFilter& filter = filters->filters[i];
        size += std::strlen(filter.description) + 2;
        for (uint32_t k = 0; k < filter.pattern_count; k++) {
            size += std::strlen(filter.patterns[k]) + 1;
        }
    }
    char* text = static_cast<char*>(std::malloc(size));
    if (!text) {
        *failed = true;
        return nullptr;
    }
    char* out = text;
    for (uint32_t i = 0; i < filters->count; i++) {
        const FileFilter& filter = filters->filters[i];
        size_t length = std::strlen(filter.description);
        std::memcpy(out, filter.description, length + 1);
        out += length + 1;
        for (uint32_t k = 0; k < filter.pattern_count; k++) {
            if (k > 0) {
                *out++ = ';';
            }
            length = std::strlen(filter.patterns[k]);
            std::memcpy(out, filter.patterns[k], length);
            out += length;
        }
        *out++ = '\0';
    }
    *out = '\0';
    return text;
}

ErrorCode backend_dialog_file(int save, const char* title, const char* file_name,
                              const char* initial_directory, const char* default_extension,
                              const FileFilterList* filters, char** chosen) {
    *chosen = nullptr;
    bool failed = false;
    char* filter = filter_string(filters, &failed);
    if (failed) {
        return GUI_ERROR_MALLOC;
    }
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = toolkit.main_window;
    dialog_path[0] = '\0';
    dialog.lpstrFile = dialog_path;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrFilter = filter;
    dialog.lpstrInitialDir = initial_directory;
    dialog.lpstrTitle = title;
    dialog.lpstrDefExt = default_extension;
    dialog.Flags =
        save ? (OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT) : (OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST);
    if (file_name) {
        // A proposed name that does not fit is not proposed at all rather than cut.
        size_t length = std::strlen(file_name);
        if (length < MAX_PATH) {
            std::memcpy(dialog_path, file_name, length + 1);
        }
    }
    if (win32_hooks.file_dialog) {
        win32_hooks.file_dialog(save, title, dialog_path, initial_directory, filters);
    }
    char directory[MAX_PATH];
    DWORD kept = GetCurrentDirectoryA(MAX_PATH, directory);
    BOOL picked = save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog);
    if (kept > 0 && kept < MAX_PATH) {
        SetCurrentDirectoryA(directory);
    }
    std::free(filter);
    if (picked) {
        size_t length = std::strlen(dialog_path);
        *chosen = static_cast<char*>(std::malloc(length + 1));
        if (!*chosen) {
            return GUI_ERROR_MALLOC;
        }
        std::memcpy(*chosen, dialog_path, length + 1);
        return GUI_ERROR_NONE;
    }
    return CommDlgExtendedError() == 0 ? GUI_ERROR_NONE : GUI_ERROR_INITIALIZATION;
}
