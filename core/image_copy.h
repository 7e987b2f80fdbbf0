// An ELF image that owns its bytes and range sets, so that two files (the old and the new
// build of a game) can be open at once.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/elf_image.h"

struct ImageCopy {
    std::string path;
    bool in_image;         // the boot executable of the disc image at `path`
    std::string boot_name; // the executable's own name ("SLUS_203.12", or path's base name)
    std::vector<uint8_t> data;
    // The lowest virtual address of the loadable segments and the end of the highest one in
    // memory (its file part and the zero-filled rest): a word in this span may be a pointer.
    uint32_t span_low, span_high;
    ElfImage image{}; // parsed over `data`, for the search core; its range arrays are its own

    ImageCopy() = default;
    ImageCopy(const ImageCopy&) = delete;
    ImageCopy& operator=(const ImageCopy&) = delete;
    ~ImageCopy() {
        elf_image_clear(&image);
    }

    // Filled on demand by the signature code: for a range set and a word mask, every word
    // position of the set's segments sorted by its masked word (see mips_signature.cpp).
    struct IndexEntry {
        uint32_t masked, offset, segment;
    };
    mutable std::map<uint64_t, std::vector<IndexEntry>> masked_words;
};

// Where an address lies in an image's file.
struct ImagePlace {
    bool executable;  // in ranges[0]
    uint32_t segment; // index in its range set
    uint32_t offset;  // file offset of the address
};

// Reads the executable at `path` (the one entry point for every kind of input the port and
// apply commands take): a loose ELF file, or the boot executable of a disc image.
//   message: on failure, why ("Invalid ELF file", "Invalid disc image (...)", ...); may be null.
// Returns the copy, or null.
std::unique_ptr<ImageCopy> image_copy_load(const char* path, std::string* message = nullptr);

// The same over bytes already in memory (tests, disc images).
std::unique_ptr<ImageCopy> image_copy_from_bytes(const uint8_t* data, uint32_t size);

// Finds the segment whose file part holds the `width` bytes from `address`. Returns true and
// fills `place`, or false when they are not all in one file-backed segment.
bool image_place_find(const ElfImage* image, uint32_t address, uint32_t width, ImagePlace* place);

// The address of file offset `offset` in segment `segment` of a range set.
uint32_t image_place_address(const ElfImage* image, const ImagePlace* place);
