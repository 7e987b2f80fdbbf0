// The boot executable of a console disc image: the file that the root's SYSTEM.CNF names on its
// BOOT2 line (e.g. `BOOT2 = cdrom0:\SLUS_203.12;1`), or with no SYSTEM.CNF the only ELF file in
// the root folder. Only the volume descriptors, the folders on the way and that one file are
// read, never the image whole; every record is checked against the image before it is followed.
#pragma once

#include <cstdint>
#include <string>

#include "core/disc_reader.h"
#include "core/disc_volume.h"

struct DiscBoot {
    std::string path_in_image; // as on the disc without version: "SLUS_203.12", "GAME/SLUS_203.12"
    std::string serial;        // "SLUS-20312" when the file name reads as a serial, else empty
    uint64_t size;             // bytes of the executable
    DiscImageFormat format;
    uint64_t offset; // where its bytes start in the disc's 2048-byte sector data
};

// How reading an image ended; every status but OK comes with a message.
enum DiscImageStatus : uint32_t {
    DISC_IMAGE_OK = 0,
    DISC_IMAGE_OPEN_FAILED = 1, // "Error opening file"
    DISC_IMAGE_NOT_IMAGE = 2,   // "Not a disc image"
    DISC_IMAGE_INVALID = 3,     // "Invalid disc image (directory record past the end ...)"
    DISC_IMAGE_NO_BOOT = 4,     // "No boot executable in the disc image (...)"
    DISC_IMAGE_NO_MEMORY = 5,   // "Error allocating memory for file"
};

// The largest SYSTEM.CNF read: a real one is a few lines.
static const uint64_t DISC_SYSTEM_CNF_MAX = 64 * 1024;

// Tells by content whether the file at `path` is a disc image, and of which format. A cue sheet
// stands for the image it names (DISC_IMAGE_RAW when that cannot be opened). An ELF file, an
// unreadable file or anything else gives DISC_IMAGE_NONE.
DiscImageFormat disc_image_detect(const char* path);

// Finds the boot executable of the image at `path` (or of the image that the cue sheet there
// names) and fills *boot. Returns DISC_IMAGE_OK, or
// another status with the text for the user in *message.
DiscImageStatus disc_image_find_boot(const char* path, DiscBoot* boot, std::string* message);

// Finds the boot executable as disc_image_find_boot does and reads its bytes into a new buffer
// (malloc'd, boot->size bytes, which is below 2 GiB, plus one spare byte) at *data,
// ready for elf_image_from_bytes. On failure *data is null and *message tells why.
DiscImageStatus disc_image_read_boot(const char* path, DiscBoot* boot, uint8_t** data,
                                     std::string* message);

// disc_image_find_boot and disc_image_read_boot over an open reader (kept by the caller): a file,
// or an image in memory for the fuzz target and the tests.
DiscImageStatus disc_image_reader_find_boot(DiscReader* reader, DiscBoot* boot,
                                            std::string* message);
DiscImageStatus disc_image_reader_read_boot(DiscReader* reader, DiscBoot* boot, uint8_t** data,
                                            std::string* message);

// The serial a console file name stands for: "SLUS_203.12" gives "SLUS-20312"; a name of any
// other shape gives "".
std::string disc_image_serial(const std::string& file_name);
