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

// How writing an extracted executable ended.
enum ExecutableSaveStatus : uint32_t {
    EXECUTABLE_SAVE_OK = 0,
    EXECUTABLE_SAVE_OPEN_FAILED = 1,  // "Error opening file"
    EXECUTABLE_SAVE_WRITE_FAILED = 2, // "Error writing file"
};

// Writes `size` bytes to `path` the way Save writes a result: into a temporary file beside it
// that then replaces the target in one step (a failure leaves an existing file as it was and no
// temporary file behind); a device or a named pipe is written in place. Shows no message.
ExecutableSaveStatus executable_file_save(const char* path, const uint8_t* data, uint32_t size);
