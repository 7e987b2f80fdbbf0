// The text pop-up's placement and the reading of the file it shows.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gui/backend.h"

void popup_position(int32_t main_x, int32_t main_y, int32_t width, int32_t height, int32_t* x,
                    int32_t* y) {
    // Computed in 64 bits so that extreme descriptions cannot overflow; C++ division truncates
    // toward zero, as the placement asks.
    *x = static_cast<int32_t>(main_x + (static_cast<int64_t>(width) - POPUP_WIDTH) / 2);
    *y = static_cast<int32_t>(main_y + (static_cast<int64_t>(height) - POPUP_HEIGHT) / 2);
}

ErrorCode popup_text_read(const char* path, char** text, uint32_t* length) {
    *text = nullptr;
    *length = 0;
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        return GUI_ERROR_INITIALIZATION;
    }
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        size = std::ftell(file);
    }
    // An empty file, one whose size cannot be told (a directory, a pipe) or one too big for a
    // 32-bit text length cannot be shown.
    if (size <= 0 || static_cast<unsigned long>(size) >= 0xFFFFFFFFul ||
        std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return GUI_ERROR_INITIALIZATION;
    }
    char* buffer = static_cast<char*>(std::malloc(static_cast<size_t>(size) + 1));
    if (!buffer) {
        std::fclose(file);
        return GUI_ERROR_MALLOC;
    }
    buffer[size] = '\0';
    size_t got = std::fread(buffer, 1, static_cast<size_t>(size), file);
    std::fclose(file);
    if (got != static_cast<size_t>(size)) {
        std::free(buffer);
        return GUI_ERROR_INITIALIZATION;
    }
    *text = buffer;
    *length = static_cast<uint32_t>(std::strlen(buffer));
    return GUI_ERROR_NONE;
}
