// Loose ELF files and disc images, read into the same bytes.
#include "executable_file.h"

#include <cstdlib>

#include "core/file_io.h"

std::string executable_file_base_name(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

ExecutableFileStatus executable_file_read(const char* path, ExecutableFile* file,
                                          std::string* message) {
    *file = ExecutableFile{};
    message->clear();
    if (disc_image_detect(path) != DISC_IMAGE_NONE) {
        uint8_t* data = nullptr;
        if (disc_image_read_boot(path, &file->boot, &data, message) != DISC_IMAGE_OK) {
            return EXECUTABLE_FILE_BAD_IMAGE;
        }
        std::string name = executable_file_base_name(file->boot.path_in_image);
        file->data = data;
        file->size = static_cast<uint32_t>(file->boot.size);
        file->in_image = true;
        file->display_name = name + " in " + executable_file_base_name(path);
        return EXECUTABLE_FILE_OK;
    }
    char* data = nullptr;
    uint32_t size = 0;
    if (file_read_all(path, 0, &data, &size) != FILE_READ_OK) {
        return EXECUTABLE_FILE_UNREADABLE;
    }
    file->data = reinterpret_cast<uint8_t*>(data);
    file->size = size;
    file->display_name = executable_file_base_name(path);
    return EXECUTABLE_FILE_OK;
}
