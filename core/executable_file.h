// The executable that a user opens: a loose ELF file, or the boot executable inside a disc image.
// Either way the result is the executable's own bytes, so every search, format and checksum is
// the same as for the extracted file.
#pragma once

#include <cstdint>
#include <string>

#include "core/disc_image.h"

struct ExecutableFile {
    uint8_t* data; // malloc'd; hand it to elf_image_from_bytes, which takes it over
    uint32_t size;
    bool in_image;            // read out of a disc image
    DiscBoot boot;            // in_image: where it lies in the image
    std::string display_name; // "sample.elf", or "SLUS_203.12 in Game.iso"
};

// How reading ended.
enum ExecutableFileStatus : uint32_t {
    EXECUTABLE_FILE_OK = 0,
    EXECUTABLE_FILE_UNREADABLE = 1, // a loose file that cannot be read: the caller's usual message
    EXECUTABLE_FILE_BAD_IMAGE = 2,  // a disc image without a usable boot executable: *message
};

// Reads the file at `path`: when its content shows a disc image, the image's boot executable,
// otherwise the whole file as it is. Fills *file (data null unless EXECUTABLE_FILE_OK). A disc
// image that is refused leaves its reason in *message ("Invalid disc image (...)").
ExecutableFileStatus executable_file_read(const char* path, ExecutableFile* file,
                                          std::string* message);

// The last part of a path, after its last '/' or '\'.
std::string executable_file_base_name(const std::string& path);
