// The loaded ELF file: its bytes, checksum, and its loadable segments split into an
// executable and a non-executable range set.
#pragma once

#include <cstdint>

struct RangeSet {
    uint32_t count;
    uint32_t* address_delta; // virtual address minus file offset, modulo 2^32
    uint32_t* file_offset;
    uint32_t* file_size; // clipped so that file_offset + file_size never passes `size`
};

struct ElfImage {
    uint8_t* data; // the whole file, no terminator
    uint32_t size;
    uint32_t checksum;  // XOR of the whole little-endian words of data
    RangeSet ranges[2]; // [0] executable segments, [1] the others
};

// Reads and checks the file at `path`. Returns the (single, static) image record, or null when
// the file cannot be used: unreadable, empty, 2 GiB or more, no ELF magic, header or program
// header table cut short. Shows no message. Whatever the record held before is released first,
// also when the new file is refused. Segments that run past the end of the file are clipped
// to it; program header entries other than loadable segments are not looked at.
ElfImage* read_elf(const char* path);

// The same checks over bytes already in memory. Takes ownership of `data` (malloc'd, `size`
// bytes) in every case: on failure it is released. Returns the static record or null.
ElfImage* elf_image_from_bytes(uint8_t* data, uint32_t size);

// Releases the six range arrays and `data`, and zeroes the record. Null is ignored.
void free_elf_image(ElfImage* image);

// Little-endian 32-bit word at `offset`; bytes at or past `size` read as 0.
uint32_t elf_image_word(const ElfImage* image, uint32_t offset);
