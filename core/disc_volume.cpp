// The sector data of ISO, raw CD and compressed (CSO) images, read piece by piece.
#include "disc_volume.h"

#include <algorithm>
#include <cstring>

#include <zlib.h>

static const uint32_t RAW_SECTOR_SIZE = 2352;
static const uint8_t SECTOR_SYNC[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
// Raw sectors are read a few at a time: one read for many small ones, a small buffer.
static const uint32_t RAW_SECTORS_PER_READ = 32;
// A DVD-9 holds 8.5 GB; anything claiming far more is no console disc, and its index would not
// fit in memory anyway.
static const uint64_t CSO_MAX_TOTAL = 16ull << 30;
static const uint32_t CSO_HEADER_SIZE = 24;
static const uint32_t CSO_PLAIN_BIT = 0x80000000u;
// The volume descriptors start at sector 16 of every ISO 9660 volume.
static const uint64_t VOLUME_DESCRIPTOR_SECTOR = 16;

static uint32_t read_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

static uint64_t read_le64(const uint8_t* p) {
    return static_cast<uint64_t>(read_le32(p)) | static_cast<uint64_t>(read_le32(p + 4)) << 32;
}

DiscImageFormat disc_volume_detect(DiscReader* reader) {
    uint8_t start[16];
    if (!disc_reader_read(reader, 0, start, sizeof start)) {
        return DISC_IMAGE_NONE;
    }
    if (memcmp(start,
               "\x7F"
               "ELF",
               4) == 0) {
        return DISC_IMAGE_NONE;
    }
    if (memcmp(start, "CISO", 4) == 0) {
        return DISC_IMAGE_CSO;
    }
    uint8_t sector[6];
    if (memcmp(start, SECTOR_SYNC, sizeof SECTOR_SYNC) == 0) {
        // The sync pattern alone could open any file; the volume descriptor sector must be a raw
        // sector too.
        uint8_t header[16];
        if (disc_reader_read(reader, VOLUME_DESCRIPTOR_SECTOR * RAW_SECTOR_SIZE, header,
                             sizeof header) &&
            memcmp(header, SECTOR_SYNC, sizeof SECTOR_SYNC) == 0) {
            return DISC_IMAGE_RAW;
        }
    }
    if (disc_reader_read(reader, VOLUME_DESCRIPTOR_SECTOR * DISC_SECTOR_SIZE, sector,
                         sizeof sector) &&
        memcmp(sector + 1, "CD001", 5) == 0) {
        return DISC_IMAGE_ISO;
    }
    return DISC_IMAGE_NONE;
}

static uint64_t cso_block_offset(const DiscVolume* volume, uint64_t block) {
    return static_cast<uint64_t>(volume->index[block] & ~CSO_PLAIN_BIT) << volume->index_shift;
}

static uint32_t cso_block_length(const DiscVolume* volume, uint64_t block) {
    uint64_t start = block * volume->block_size;
    return static_cast<uint32_t>(std::min<uint64_t>(volume->block_size, volume->size - start));
}

static int cso_open(DiscVolume* volume, std::string* message) {
    uint8_t header[CSO_HEADER_SIZE];
    if (!disc_reader_read(volume->reader, 0, header, sizeof header)) {
        *message = "CSO header cut short";
        return 0;
    }
    uint64_t total = read_le64(header + 8);
    uint32_t block_size = read_le32(header + 16);
    uint32_t version = header[20];
    uint32_t shift = header[21];
    if (version > 1) {
        *message = "CSO version " + std::to_string(version) + " is not supported";
        return 0;
    }
    if (block_size < DISC_SECTOR_SIZE || block_size > (1u << 20) ||
        (block_size & (block_size - 1)) != 0) {
        *message = "CSO block size " + std::to_string(block_size) + " is not supported";
        return 0;
    }
    if (total == 0 || total > CSO_MAX_TOTAL) {
        *message = "CSO image claims " + std::to_string(total) + " bytes of data";
        return 0;
    }
    if (shift > 16) {
        *message = "CSO index alignment " + std::to_string(shift) + " is not supported";
        return 0;
    }
    uint64_t blocks = (total + block_size - 1) / block_size;
    uint64_t index_bytes = (blocks + 1) * 4;
    if (CSO_HEADER_SIZE + index_bytes > volume->reader->size) {
        *message = "CSO index past the end of the image";
        return 0;
    }
    volume->size = total;
    volume->block_size = block_size;
    volume->index_shift = shift;
    volume->index.resize(blocks + 1);
    std::vector<uint8_t> raw(index_bytes);
    if (!disc_reader_read(volume->reader, CSO_HEADER_SIZE, raw.data(), index_bytes)) {
        *message = "CSO index cannot be read";
        return 0;
    }
    for (uint64_t i = 0; i <= blocks; ++i) {
        volume->index[i] = read_le32(raw.data() + 4 * i);
    }
    if (cso_block_offset(volume, 0) < CSO_HEADER_SIZE + index_bytes) {
        *message = "CSO block stored inside the index";
        return 0;
    }
    for (uint64_t i = 0; i < blocks; ++i) {
        uint64_t start = cso_block_offset(volume, i);
        uint64_t end = cso_block_offset(volume, i + 1);
        if (end < start) {
            *message = "CSO index entries out of order";
            return 0;
        }
        if (end > volume->reader->size) {
            *message = "CSO index entry past the end of the image";
            return 0;
        }
        uint64_t stored = end - start;
        bool plain = (volume->index[i] & CSO_PLAIN_BIT) != 0;
        // Deflate never grows a block by much; a stored size beyond that is no real block and
        // would only make us allocate on a lie.
        if (plain ? stored < cso_block_length(volume, i)
                  : stored > uint64_t{volume->block_size} * 2 + 1024) {
            *message = "CSO block " + std::to_string(i) + " has a stored size of " +
                       std::to_string(stored) + " bytes";
            return 0;
        }
    }
    volume->block.resize(block_size);
    volume->stored.resize(uint64_t{block_size} * 2 + 1024);
    return 1;
}

int disc_volume_open(DiscVolume* volume, DiscReader* reader, DiscImageFormat format,
                     std::string* message) {
    volume->reader = reader;
    volume->format = format;
    volume->cached_block = -1;
    switch (format) {
    case DISC_IMAGE_ISO:
        volume->size = reader->size;
        return 1;
    case DISC_IMAGE_RAW:
        volume->size = reader->size / RAW_SECTOR_SIZE * DISC_SECTOR_SIZE;
        volume->stored.resize(uint64_t{RAW_SECTORS_PER_READ} * RAW_SECTOR_SIZE);
        return 1;
    case DISC_IMAGE_CSO:
        return cso_open(volume, message);
    default:
        *message = "not a disc image";
        return 0;
    }
}

// Where the 2048 data bytes of a raw sector start, or 0 after naming the fault in *message.
static uint32_t raw_sector_data_start(const uint8_t* sector, uint64_t number,
                                      std::string* message) {
    if (memcmp(sector, SECTOR_SYNC, sizeof SECTOR_SYNC) != 0) {
        *message = "sector " + std::to_string(number) + " has no sync pattern";
        return 0;
    }
    uint8_t mode = sector[15];
    if (mode == 1) {
        return 16;
    }
    // Mode 2: an 8-byte subheader (its submode twice); Form 2 sectors hold 2324 bytes of
    // audio or video, never part of a file read here.
    if (mode == 2 && (sector[18] & 0x20) == 0) {
        return 24;
    }
    *message = "sector " + std::to_string(number) + " is not a data sector";
    return 0;
}

static int raw_read(DiscVolume* volume, uint64_t offset, uint8_t* out, uint64_t size,
                    std::string* message) {
    while (size > 0) {
        uint64_t first = offset / DISC_SECTOR_SIZE;
        uint64_t last = (offset + size - 1) / DISC_SECTOR_SIZE;
        uint64_t count = std::min<uint64_t>(last - first + 1, RAW_SECTORS_PER_READ);
        if (!disc_reader_read(volume->reader, first * RAW_SECTOR_SIZE, volume->stored.data(),
                              count * RAW_SECTOR_SIZE)) {
            *message = "sector " + std::to_string(first) + " cannot be read";
            return 0;
        }
        for (uint64_t i = 0; i < count && size > 0; ++i) {
            const uint8_t* sector = volume->stored.data() + i * RAW_SECTOR_SIZE;
            uint32_t start = raw_sector_data_start(sector, first + i, message);
            if (start == 0) {
                return 0;
            }
            uint64_t within = offset % DISC_SECTOR_SIZE;
            uint64_t part = std::min<uint64_t>(DISC_SECTOR_SIZE - within, size);
            memcpy(out, sector + start + within, part);
            out += part;
            offset += part;
            size -= part;
        }
    }
    return 1;
}

static int cso_block_load(DiscVolume* volume, uint64_t block, std::string* message) {
    if (volume->cached_block == static_cast<int64_t>(block)) {
        return 1;
    }
    volume->cached_block = -1;
    uint64_t start = cso_block_offset(volume, block);
    uint64_t stored = cso_block_offset(volume, block + 1) - start;
    uint32_t length = cso_block_length(volume, block);
    if ((volume->index[block] & CSO_PLAIN_BIT) != 0) {
        if (!disc_reader_read(volume->reader, start, volume->block.data(), length)) {
            *message = "CSO block " + std::to_string(block) + " cannot be read";
            return 0;
        }
    } else {
        if (!disc_reader_read(volume->reader, start, volume->stored.data(), stored)) {
            *message = "CSO block " + std::to_string(block) + " cannot be read";
            return 0;
        }
        z_stream stream{};
        if (inflateInit2(&stream, -15) != Z_OK) {
            *message = "CSO block " + std::to_string(block) + " cannot be inflated";
            return 0;
        }
        stream.next_in = volume->stored.data();
        stream.avail_in = static_cast<uInt>(stored);
        stream.next_out = volume->block.data();
        stream.avail_out = length;
        int result = inflate(&stream, Z_FINISH);
        inflateEnd(&stream);
        // The block is whole once every byte of it came out, whether or not the stream says
        // it ended there.
        if ((result != Z_STREAM_END && result != Z_OK && result != Z_BUF_ERROR) ||
            stream.avail_out != 0) {
            *message = "CSO block " + std::to_string(block) + " does not inflate";
            return 0;
        }
    }
    volume->cached_block = static_cast<int64_t>(block);
    return 1;
}

static int cso_read(DiscVolume* volume, uint64_t offset, uint8_t* out, uint64_t size,
                    std::string* message) {
    while (size > 0) {
        uint64_t block = offset / volume->block_size;
        if (!cso_block_load(volume, block, message)) {
            return 0;
        }
        uint64_t within = offset % volume->block_size;
        uint64_t part = std::min<uint64_t>(cso_block_length(volume, block) - within, size);
        memcpy(out, volume->block.data() + within, part);
        out += part;
        offset += part;
        size -= part;
    }
    return 1;
}

int disc_volume_read(DiscVolume* volume, uint64_t offset, uint8_t* out, uint64_t size,
                     std::string* message) {
    if (offset > volume->size || size > volume->size - offset) {
        *message = "read past the end of the image";
        return 0;
    }
    switch (volume->format) {
    case DISC_IMAGE_ISO:
        if (!disc_reader_read(volume->reader, offset, out, size)) {
            *message = "the image cannot be read";
            return 0;
        }
        return 1;
    case DISC_IMAGE_RAW:
        return raw_read(volume, offset, out, size, message);
    case DISC_IMAGE_CSO:
        return cso_read(volume, offset, out, size, message);
    default:
        *message = "not a disc image";
        return 0;
    }
}
