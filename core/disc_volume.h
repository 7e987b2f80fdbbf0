// The data of a disc as a run of 2048-byte sectors, whatever the image stores: plain 2048-byte
// sectors (.iso), raw 2352-byte CD sectors (.bin, Mode 1 or Mode 2 Form 1) or compressed blocks
// (.cso).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/disc_reader.h"

enum DiscImageFormat : uint32_t {
    DISC_IMAGE_NONE = 0, // not a disc image (an ELF file, or anything else)
    DISC_IMAGE_ISO = 1,  // 2048-byte sectors
    DISC_IMAGE_RAW = 2,  // 2352-byte sectors
    DISC_IMAGE_CSO = 3,  // zlib-compressed blocks
};

static const uint32_t DISC_SECTOR_SIZE = 2048;

struct DiscVolume {
    DiscReader* reader;
    DiscImageFormat format;
    uint64_t size; // bytes of sector data the image holds
    // Compressed images: the block index, read whole when the volume is opened and checked.
    uint32_t block_size;
    uint32_t index_shift;
    std::vector<uint32_t> index; // block i is stored from entry i up to entry i + 1; bit 31: plain
    int64_t cached_block;        // the block in `block`, or -1
    std::vector<uint8_t> block;
    std::vector<uint8_t> stored; // a stored block, or a run of raw sectors
};

// Tells the image format by content: ELF magic means none; "CISO" a compressed image; the sector
// sync pattern at the start and at sector 16 a raw image; "CD001" at sector 16 an ISO image.
DiscImageFormat disc_volume_detect(DiscReader* reader);

// Opens the sector data of an image of `format` read through `reader` (kept by the caller).
// Returns 1, or 0 with the reason in *message (e.g. "CSO index entries out of order").
int disc_volume_open(DiscVolume* volume, DiscReader* reader, DiscImageFormat format,
                     std::string* message);

// Reads `size` bytes of sector data at `offset`. Returns 1, or 0 with the reason in *message: the
// range passes the end, a raw sector is no data sector, a block does not inflate, a read fails.
int disc_volume_read(DiscVolume* volume, uint64_t offset, uint8_t* out, uint64_t size,
                     std::string* message);
