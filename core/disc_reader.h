// The bytes of a disc image as the image reader sees them: an open file read piece by piece at
// 64-bit offsets, or a block already in memory (the fuzz target and the tests).
#pragma once

#include <cstdint>

#include "core/platform/file_read.h"

struct DiscReader {
    const uint8_t* memory; // the whole image in memory, or null when `file` is read
    FileReader* file;      // the open image file, owned by the reader
    uint64_t size;         // bytes in the image
    uint64_t bytes_read;   // every byte delivered so far: shows that an image is not read whole
};

// Opens the image file at `path` into `reader`. Returns 1, or 0 when the file cannot be opened
// as a regular file (the reader is then empty).
int disc_reader_open_file(DiscReader* reader, const char* path);

// Makes `reader` read `size` bytes at `data`, which the caller keeps alive and releases.
void disc_reader_open_memory(DiscReader* reader, const uint8_t* data, uint64_t size);

// Reads `size` bytes at `offset` into `out`. Returns 1, or 0 when the range passes the end of the
// image or the read fails: nothing outside the image is ever read.
int disc_reader_read(DiscReader* reader, uint64_t offset, void* out, uint64_t size);

// Closes the file of a reader opened on one. An empty or memory reader is left as it is.
void disc_reader_close(DiscReader* reader);
