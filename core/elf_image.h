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

// Why bytes are not a usable ELF file.
enum ElfStatus : uint32_t {
    ELF_OK = 0,
    ELF_TOO_SHORT = 1,       // shorter than the 52-byte ELF header (or no bytes at all)
    ELF_TOO_LARGE = 2,       // 2 GiB or more
    ELF_NOT_ELF = 3,         // no ELF magic
    ELF_TABLE_CUT_SHORT = 4, // the program header table runs past the end
    ELF_NO_MEMORY = 5,       // the segment tables cannot be allocated
};

// A short lower-case text for `status` ("not an ELF file", ...), for messages.
const char* elf_status_text(ElfStatus status);

// Builds an image record over bytes the caller owns, without copying them; reentrant (no
// static record). `data` must outlive the record. The record's checksum is left 0: see
// elf_image_checksum.
//   out: filled on ELF_OK, zeroed otherwise; release with elf_image_clear.
// Returns ELF_OK or the reason for refusing the bytes.
ElfStatus elf_image_parse(const uint8_t* data, uint32_t size, ElfImage* out);

// Releases the range arrays of a record made by elf_image_parse (not its bytes) and zeroes it.
// Null is ignored.
void elf_image_clear(ElfImage* image);

// XOR of the whole little-endian words of the image's bytes: the checksum that names its
// PNACH file. Reads every byte, so it is computed only where it is used.
uint32_t elf_image_checksum(const ElfImage* image);

// Releases the six range arrays and `data`, and zeroes the record. Null is ignored.
void free_elf_image(ElfImage* image);

// Little-endian 32-bit word at `offset`; bytes at or past `size` read as 0.
uint32_t elf_image_word(const ElfImage* image, uint32_t offset);
