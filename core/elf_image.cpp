// The ELF image: the whole file in memory, its checksum and its loadable segments.
#include "elf_image.h"

#include <cstdlib>
#include <cstring>

#include "file_io.h"

// The application has one current file; its record lives here.
static ElfImage current_image;

static const uint32_t ELF_HEADER_SIZE = 52;
static const uint32_t PROGRAM_HEADER_SIZE = 32;
static const uint32_t PT_LOAD = 1;
static const uint32_t PF_X = 1;

static uint32_t read_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

static uint16_t read_le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

static uint32_t* range_array_allocate(uint32_t count, bool* failed) {
    if (count == 0) {
        return nullptr;
    }
    uint32_t* array = static_cast<uint32_t*>(malloc(count * sizeof(uint32_t)));
    if (!array) {
        *failed = true;
    }
    return array;
}

static void ranges_free(ElfImage* image) {
    for (RangeSet& set : image->ranges) {
        free(set.address_delta);
        free(set.file_offset);
        free(set.file_size);
        set = RangeSet{};
    }
}

const char* elf_status_text(ElfStatus status) {
    switch (status) {
    case ELF_OK:
        return "no fault";
    case ELF_TOO_SHORT:
        return "too short for an ELF header";
    case ELF_TOO_LARGE:
        return "2 GiB or larger";
    case ELF_NOT_ELF:
        return "not an ELF file";
    case ELF_TABLE_CUT_SHORT:
        return "program header table cut short";
    case ELF_NO_MEMORY:
        return "out of memory";
    }
    return "unknown fault";
}

ElfStatus elf_image_parse(const uint8_t* data, uint32_t size, ElfImage* out) {
    *out = ElfImage{};
    if (!data || size < ELF_HEADER_SIZE) {
        return ELF_TOO_SHORT;
    }
    if (size >= 0x80000000u) {
        return ELF_TOO_LARGE;
    }
    if (memcmp(data,
               "\x7F"
               "ELF",
               4) != 0) {
        return ELF_NOT_ELF;
    }
    uint64_t table = read_le32(data + 28);
    uint32_t entries = read_le16(data + 44);
    if (entries > 0 && table + uint64_t{PROGRAM_HEADER_SIZE} * entries > size) {
        return ELF_TABLE_CUT_SHORT;
    }

    uint32_t counts[2] = {0, 0};
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* entry = data + table + uint64_t{PROGRAM_HEADER_SIZE} * i;
        if (read_le32(entry) == PT_LOAD) {
            ++counts[(read_le32(entry + 24) & PF_X) ? 0 : 1];
        }
    }

    ElfImage& image = *out;
    bool failed = false;
    image.ranges[0].address_delta = range_array_allocate(counts[0], &failed);
    image.ranges[1].address_delta = range_array_allocate(counts[1], &failed);
    image.ranges[0].file_offset = range_array_allocate(counts[0], &failed);
    image.ranges[1].file_offset = range_array_allocate(counts[1], &failed);
    image.ranges[0].file_size = range_array_allocate(counts[0], &failed);
    image.ranges[1].file_size = range_array_allocate(counts[1], &failed);
    if (failed) {
        ranges_free(&image);
        return ELF_NO_MEMORY;
    }

    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* entry = data + table + uint64_t{PROGRAM_HEADER_SIZE} * i;
        if (read_le32(entry) != PT_LOAD) {
            continue;
        }
        RangeSet& set = image.ranges[(read_le32(entry + 24) & PF_X) ? 0 : 1];
        uint32_t offset = read_le32(entry + 4);
        uint32_t address = read_le32(entry + 8);
        uint32_t file_size = read_le32(entry + 16);
        // Only what the file holds is searched: a segment cut short by the end of the file
        // keeps the part that is there.
        if (offset >= size) {
            file_size = 0;
        } else if (uint64_t{offset} + file_size > size) {
            file_size = size - offset;
        }
        set.address_delta[set.count] = address - offset;
        set.file_offset[set.count] = offset;
        set.file_size[set.count] = file_size;
        ++set.count;
    }
    // The record only looks at the bytes; they stay the caller's.
    image.data = const_cast<uint8_t*>(data);
    image.size = size;
    return ELF_OK;
}

void elf_image_clear(ElfImage* image) {
    if (!image) {
        return;
    }
    ranges_free(image);
    *image = ElfImage{};
}

uint32_t elf_image_checksum(const ElfImage* image) {
    uint32_t checksum = 0;
    for (uint32_t offset = 0; offset + 4 <= image->size; offset += 4) {
        checksum ^= read_le32(image->data + offset);
    }
    return checksum;
}

ElfImage* elf_image_from_bytes(uint8_t* data, uint32_t size) {
    // A new file replaces the old one; releasing first keeps a forgotten release from leaking.
    free_elf_image(&current_image);
    if (elf_image_parse(data, size, &current_image) != ELF_OK) {
        free(data);
        current_image = ElfImage{};
        return nullptr;
    }
    // The window's record owns its copy of the file.
    current_image.checksum = elf_image_checksum(&current_image);
    return &current_image;
}

ElfImage* read_elf(const char* path) {
    char* data = nullptr;
    uint32_t size = 0;
    if (file_read_all(path, 0, &data, &size) != FILE_READ_OK) {
        free_elf_image(&current_image);
        return nullptr;
    }
    return elf_image_from_bytes(reinterpret_cast<uint8_t*>(data), size);
}

void free_elf_image(ElfImage* image) {
    if (!image) {
        return;
    }
    ranges_free(image);
    free(image->data);
    image->data = nullptr;
    image->size = 0;
    image->checksum = 0;
}

uint32_t elf_image_word(const ElfImage* image, uint32_t offset) {
    uint32_t word = 0;
    for (uint32_t i = 0; i < 4; ++i) {
        uint64_t at = uint64_t{offset} + i;
        if (at < image->size) {
            word |= static_cast<uint32_t>(image->data[at]) << (8 * i);
        }
    }
    return word;
}
