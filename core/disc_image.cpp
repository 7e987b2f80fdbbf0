// ISO 9660 walking for the boot executable: volume descriptors, SYSTEM.CNF, the BOOT2 path.
#include "disc_image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/disc_cue.h"

// ISO 9660 allows eight levels of folders; a BOOT2 path deeper than that names no real file.
static const size_t PATH_DEPTH_MAX = 8;
// Bounds on the work a crafted image can ask for: the largest folder read and the records
// looked at in all.
static const uint64_t FOLDER_SIZE_MAX = 16u << 20;
static const uint64_t RECORDS_MAX = 1u << 20;
static const uint64_t VOLUME_DESCRIPTORS_MAX = 64;
static const uint64_t BOOT_SIZE_LIMIT = 0x80000000u; // ElfImage takes files below 2 GiB
static const uint64_t READ_PIECE = 16u << 20;
static const uint32_t RECORD_HEADER_SIZE = 33;
static const uint8_t FLAG_FOLDER = 0x02;
static const uint8_t FLAG_MORE_EXTENTS = 0x80;

namespace {

struct DiscEntry {
    std::string name; // without its version (";1") or a bare trailing dot
    uint32_t extent;  // first sector
    uint32_t size;
    uint8_t flags;
};

struct DiscWalk {
    DiscVolume volume;
    uint64_t volume_sectors; // as the primary volume descriptor tells
    uint64_t records;
    DiscImageStatus status;
    std::string detail;
};

int walk_fail(DiscWalk* walk, DiscImageStatus status, const std::string& detail) {
    walk->status = status;
    walk->detail = detail;
    return 0;
}

uint32_t read_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool same_name(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i])) {
            return false;
        }
    }
    return true;
}

// A name as written on the disc or in SYSTEM.CNF, without ";1" and without the dot that
// ISO 9660 puts after a name with no extension.
std::string plain_name(std::string name) {
    size_t version = name.find(';');
    if (version != std::string::npos) {
        name.erase(version);
    }
    if (!name.empty() && name.back() == '.') {
        name.pop_back();
    }
    return name;
}

bool extent_inside(const DiscWalk* walk, const DiscEntry& entry) {
    return uint64_t{entry.extent} * DISC_SECTOR_SIZE + entry.size <= walk->volume.size;
}

// Checks that the image holds the extent of `entry`. One that the volume holds but the image
// does not shows a truncated image; one past the volume too, a broken record (`detail`). An
// image cut short after every part that is read still opens: some tools trim the padding.
int walk_check_extent(DiscWalk* walk, const DiscEntry& entry, const char* detail) {
    if (extent_inside(walk, entry)) {
        return 1;
    }
    uint64_t end = uint64_t{entry.extent} * DISC_SECTOR_SIZE + entry.size;
    if (end <= walk->volume_sectors * DISC_SECTOR_SIZE) {
        return walk_fail(walk, DISC_IMAGE_INVALID,
                         "truncated: the volume has " + std::to_string(walk->volume_sectors) +
                             " sectors, the image " +
                             std::to_string(walk->volume.size / DISC_SECTOR_SIZE));
    }
    return walk_fail(walk, DISC_IMAGE_INVALID, detail);
}

int volume_read(DiscWalk* walk, uint64_t offset, uint8_t* out, uint64_t size) {
    std::string why;
    if (!disc_volume_read(&walk->volume, offset, out, size, &why)) {
        return walk_fail(walk, DISC_IMAGE_INVALID, why);
    }
    return 1;
}

void record_parse(const uint8_t* record, DiscEntry* entry) {
    entry->extent = read_le32(record + 2);
    entry->size = read_le32(record + 10);
    entry->flags = record[25];
    entry->name.assign(reinterpret_cast<const char*>(record + RECORD_HEADER_SIZE), record[32]);
    entry->name = plain_name(entry->name);
}

// The root folder and the volume's size, from the primary volume descriptor.
int walk_open_root(DiscWalk* walk, DiscEntry* root) {
    std::vector<uint8_t> sector(DISC_SECTOR_SIZE);
    for (uint64_t i = 0;; ++i) {
        uint64_t number = 16 + i;
        if (i == VOLUME_DESCRIPTORS_MAX) {
            return walk_fail(walk, DISC_IMAGE_INVALID, "no primary volume descriptor");
        }
        if ((number + 1) * DISC_SECTOR_SIZE > walk->volume.size) {
            return walk_fail(walk, DISC_IMAGE_INVALID, "truncated within its volume descriptors");
        }
        if (!volume_read(walk, number * DISC_SECTOR_SIZE, sector.data(), DISC_SECTOR_SIZE)) {
            return 0;
        }
        if (memcmp(sector.data() + 1, "CD001", 5) != 0) {
            return walk_fail(walk, DISC_IMAGE_INVALID,
                             "no volume descriptor at sector " + std::to_string(number));
        }
        if (sector[0] == 1) {
            break;
        }
        if (sector[0] == 255) {
            return walk_fail(walk, DISC_IMAGE_INVALID, "no primary volume descriptor");
        }
    }
    uint32_t block_size = static_cast<uint32_t>(sector[128] | sector[129] << 8);
    if (block_size != DISC_SECTOR_SIZE) {
        return walk_fail(walk, DISC_IMAGE_INVALID,
                         "logical block size " + std::to_string(block_size) + " is not 2048");
    }
    walk->volume_sectors = read_le32(sector.data() + 80);
    const uint8_t* record = sector.data() + 156;
    if (record[0] < RECORD_HEADER_SIZE + 1) {
        return walk_fail(walk, DISC_IMAGE_INVALID, "root directory record broken");
    }
    record_parse(record, root);
    return 1;
}

// The entries of a folder, without its "." and "..".
int walk_list(DiscWalk* walk, const DiscEntry& folder, std::vector<DiscEntry>* entries) {
    entries->clear();
    if (folder.size > FOLDER_SIZE_MAX) {
        return walk_fail(walk, DISC_IMAGE_INVALID,
                         "folder too large: " + std::to_string(folder.size) + " bytes");
    }
    if (!walk_check_extent(walk, folder, "directory record past the end of the image")) {
        return 0;
    }
    std::vector<uint8_t> data(folder.size);
    if (!volume_read(walk, uint64_t{folder.extent} * DISC_SECTOR_SIZE, data.data(), folder.size)) {
        return 0;
    }
    uint32_t at = 0;
    while (at < folder.size) {
        uint32_t length = data[at];
        uint32_t sector_end = (at / DISC_SECTOR_SIZE + 1) * DISC_SECTOR_SIZE;
        if (length == 0) {
            // Records never cross a sector; the rest of this one is padding.
            at = sector_end;
            continue;
        }
        if (length < RECORD_HEADER_SIZE + 1 || at + length > folder.size ||
            at + length > sector_end || RECORD_HEADER_SIZE + data[at + 32] > length) {
            return walk_fail(walk, DISC_IMAGE_INVALID, "directory record broken");
        }
        if (++walk->records > RECORDS_MAX) {
            return walk_fail(walk, DISC_IMAGE_INVALID, "too many directory records");
        }
        const uint8_t* record = data.data() + at;
        bool self_or_parent = record[32] == 1 && record[RECORD_HEADER_SIZE] <= 1;
        if (!self_or_parent) {
            DiscEntry entry;
            record_parse(record, &entry);
            entries->push_back(entry);
        }
        at += length;
    }
    return 1;
}

const DiscEntry* find_entry(const std::vector<DiscEntry>& entries, const std::string& name,
                            bool folder) {
    for (const DiscEntry& entry : entries) {
        if (((entry.flags & FLAG_FOLDER) != 0) == folder && same_name(entry.name, name)) {
            return &entry;
        }
    }
    return nullptr;
}

// The path on the BOOT2 line, split into names: "cdrom0:\GAME\SLUS_203.12;1" gives GAME and
// SLUS_203.12. Returns 0 when SYSTEM.CNF has no BOOT2 line naming a file.
int boot2_path(const std::string& text, std::vector<std::string>* names) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, equals);
        size_t first = key.find_first_not_of(" \t");
        size_t last = key.find_last_not_of(" \t");
        if (first == std::string::npos ||
            !same_name(key.substr(first, last - first + 1), "BOOT2")) {
            continue;
        }
        std::string value = line.substr(equals + 1);
        size_t device = value.find(':');
        if (device != std::string::npos) {
            value.erase(0, device + 1);
        }
        names->clear();
        std::string name;
        for (char c : value + "\\") {
            if (c == '\\' || c == '/') {
                size_t from = name.find_first_not_of(" \t");
                size_t to = name.find_last_not_of(" \t");
                if (from != std::string::npos) {
                    names->push_back(plain_name(name.substr(from, to - from + 1)));
                }
                name.clear();
            } else {
                name += c;
            }
        }
        return !names->empty() && !names->back().empty();
    }
    return 0;
}

std::string join_path(const std::vector<std::string>& names) {
    std::string path;
    for (const std::string& name : names) {
        path += (path.empty() ? "" : "/") + name;
    }
    return path;
}

// Whether the file starts with the ELF magic.
int file_is_elf(DiscWalk* walk, const DiscEntry& file, bool* elf) {
    *elf = false;
    if (file.size < 4) {
        return 1;
    }
    uint8_t magic[4];
    if (!volume_read(walk, uint64_t{file.extent} * DISC_SECTOR_SIZE, magic, 4)) {
        return 0;
    }
    *elf = memcmp(magic,
                  "\x7F"
                  "ELF",
                  4) == 0;
    return 1;
}

int walk_find_boot(DiscWalk* walk, DiscBoot* boot) {
    DiscEntry root;
    if (!walk_open_root(walk, &root)) {
        return 0;
    }
    std::vector<DiscEntry> entries;
    if (!walk_list(walk, root, &entries)) {
        return 0;
    }
    DiscEntry file;
    std::vector<std::string> path;
    if (const DiscEntry* config = find_entry(entries, "SYSTEM.CNF", false)) {
        if (config->size > DISC_SYSTEM_CNF_MAX) {
            return walk_fail(walk, DISC_IMAGE_INVALID,
                             "SYSTEM.CNF too large: " + std::to_string(config->size) + " bytes");
        }
        if (!walk_check_extent(walk, *config, "file extent past the end of the image")) {
            return 0;
        }
        std::string text(config->size, '\0');
        if (!volume_read(walk, uint64_t{config->extent} * DISC_SECTOR_SIZE,
                         reinterpret_cast<uint8_t*>(text.data()), text.size())) {
            return 0;
        }
        std::vector<std::string> names;
        if (!boot2_path(text, &names)) {
            return walk_fail(walk, DISC_IMAGE_NO_BOOT, "SYSTEM.CNF has no BOOT2 line");
        }
        if (names.size() > PATH_DEPTH_MAX) {
            return walk_fail(walk, DISC_IMAGE_INVALID, "BOOT2 path too deep");
        }
        std::vector<uint32_t> ancestors{root.extent};
        for (size_t i = 0; i < names.size(); ++i) {
            bool last = i + 1 == names.size();
            const DiscEntry* found = find_entry(entries, names[i], !last);
            if (!found) {
                return walk_fail(walk, DISC_IMAGE_NO_BOOT,
                                 "SYSTEM.CNF names " + join_path(names) +
                                     ", which is not on the disc");
            }
            path.push_back(found->name);
            if (last) {
                file = *found;
                break;
            }
            for (uint32_t extent : ancestors) {
                if (found->extent == extent) {
                    return walk_fail(walk, DISC_IMAGE_INVALID,
                                     "directory record loops back to a parent folder");
                }
            }
            ancestors.push_back(found->extent);
            DiscEntry folder = *found;
            if (!walk_list(walk, folder, &entries)) {
                return 0;
            }
        }
    } else {
        uint32_t count = 0;
        for (const DiscEntry& entry : entries) {
            if ((entry.flags & FLAG_FOLDER) != 0) {
                continue;
            }
            if (!walk_check_extent(walk, entry, "file extent past the end of the image")) {
                return 0;
            }
            bool elf = false;
            if (!file_is_elf(walk, entry, &elf)) {
                return 0;
            }
            if (elf && count++ == 0) {
                file = entry;
            }
        }
        if (count != 1) {
            return walk_fail(walk, DISC_IMAGE_NO_BOOT,
                             count == 0 ? "no SYSTEM.CNF and no ELF file in the root folder"
                                        : "no SYSTEM.CNF and " + std::to_string(count) +
                                              " ELF files in the root folder");
        }
        path.push_back(file.name);
    }

    if (!walk_check_extent(walk, file, "file extent past the end of the image")) {
        return 0;
    }
    if ((file.flags & FLAG_MORE_EXTENTS) != 0) {
        return walk_fail(walk, DISC_IMAGE_INVALID, "the boot executable has several extents");
    }
    if (file.size >= BOOT_SIZE_LIMIT) {
        return walk_fail(walk, DISC_IMAGE_INVALID, "the boot executable is 2 GiB or more");
    }
    bool elf = false;
    if (!file_is_elf(walk, file, &elf)) {
        return 0;
    }
    if (!elf) {
        return walk_fail(walk, DISC_IMAGE_INVALID,
                         "the boot executable " + join_path(path) + " is not an ELF file");
    }
    boot->path_in_image = join_path(path);
    boot->serial = disc_image_serial(path.back());
    boot->size = file.size;
    boot->format = walk->volume.format;
    boot->offset = uint64_t{file.extent} * DISC_SECTOR_SIZE;
    return 1;
}

DiscImageStatus status_message(DiscImageStatus status, const std::string& detail,
                               std::string* message) {
    switch (status) {
    case DISC_IMAGE_OK:
        message->clear();
        break;
    case DISC_IMAGE_OPEN_FAILED:
        *message = "Error opening file";
        break;
    case DISC_IMAGE_NOT_IMAGE:
        *message = "Not a disc image";
        break;
    case DISC_IMAGE_INVALID:
        *message = "Invalid disc image (" + detail + ")";
        break;
    case DISC_IMAGE_NO_BOOT:
        *message = "No boot executable in the disc image (" + detail + ")";
        break;
    case DISC_IMAGE_NO_MEMORY:
        *message = "Error allocating memory for file";
        break;
    }
    return status;
}

} // namespace

std::string disc_image_serial(const std::string& file_name) {
    // Four letters, an underscore, three digits, a dot and two digits: SLUS_203.12.
    if (file_name.size() != 11 || file_name[4] != '_' || file_name[8] != '.') {
        return "";
    }
    std::string serial;
    for (size_t i = 0; i < 11; ++i) {
        char c = file_name[i];
        if (i < 4) {
            char letter = upper(c);
            if (letter < 'A' || letter > 'Z') {
                return "";
            }
            serial += letter;
        } else if (i == 4) {
            serial += '-';
        } else if (i != 8) {
            if (c < '0' || c > '9') {
                return "";
            }
            serial += c;
        }
    }
    return serial;
}

// Opens the image behind `reader` and finds its boot executable: the part that finding and
// reading share.
static DiscImageStatus walk_open_find(DiscReader* reader, DiscWalk* walk, DiscBoot* boot,
                                      std::string* message) {
    *boot = DiscBoot{};
    DiscImageFormat format = disc_volume_detect(reader);
    if (format == DISC_IMAGE_NONE) {
        return status_message(DISC_IMAGE_NOT_IMAGE, "", message);
    }
    std::string why;
    if (!disc_volume_open(&walk->volume, reader, format, &why)) {
        return status_message(DISC_IMAGE_INVALID, why, message);
    }
    if (!walk_find_boot(walk, boot)) {
        *boot = DiscBoot{};
        return status_message(walk->status, walk->detail, message);
    }
    return status_message(DISC_IMAGE_OK, "", message);
}

DiscImageStatus disc_image_reader_find_boot(DiscReader* reader, DiscBoot* boot,
                                            std::string* message) {
    DiscWalk walk{};
    return walk_open_find(reader, &walk, boot, message);
}

DiscImageStatus disc_image_reader_read_boot(DiscReader* reader, DiscBoot* boot, uint8_t** data,
                                            std::string* message) {
    *data = nullptr;
    DiscWalk walk{};
    DiscImageStatus status = walk_open_find(reader, &walk, boot, message);
    if (status != DISC_IMAGE_OK) {
        return status;
    }
    // A compressed image only claims its size; the buffer grows with the bytes that really
    // come out, so a lie costs no large allocation.
    uint64_t capacity = std::min<uint64_t>(boot->size, READ_PIECE) + 1;
    uint8_t* bytes = static_cast<uint8_t*>(malloc(capacity));
    for (uint64_t done = 0; bytes && done < boot->size;) {
        uint64_t piece = std::min<uint64_t>(boot->size - done, READ_PIECE);
        if (done + piece >= capacity) {
            capacity = std::min<uint64_t>(capacity * 2, boot->size + 1);
            uint8_t* grown = static_cast<uint8_t*>(realloc(bytes, capacity));
            if (!grown) {
                free(bytes);
                bytes = nullptr;
                break;
            }
            bytes = grown;
        }
        if (!volume_read(&walk, boot->offset + done, bytes + done, piece)) {
            free(bytes);
            *boot = DiscBoot{};
            return status_message(walk.status, walk.detail, message);
        }
        done += piece;
    }
    if (!bytes) {
        *boot = DiscBoot{};
        return status_message(DISC_IMAGE_NO_MEMORY, "", message);
    }
    *data = bytes;
    return DISC_IMAGE_OK;
}

// Opens the image at `path` into *reader: the file itself, or the data file that a cue sheet
// there names. Returns DISC_IMAGE_OK, or a refusal with its message (the reader then closed).
static DiscImageStatus image_open(const char* path, DiscReader* reader, std::string* message) {
    if (!disc_reader_open_file(reader, path)) {
        return status_message(DISC_IMAGE_OPEN_FAILED, "", message);
    }
    if (disc_volume_detect(reader) != DISC_IMAGE_NONE || reader->size > DISC_CUE_SIZE_MAX) {
        return DISC_IMAGE_OK;
    }
    std::string text(reader->size, '\0');
    std::string data_path;
    if (!disc_reader_read(reader, 0, text.data(), text.size()) ||
        !disc_cue_data_file(text, path, &data_path)) {
        return DISC_IMAGE_OK; // no cue sheet: the walk tells that this is no image
    }
    disc_reader_close(reader);
    if (!disc_reader_open_file(reader, data_path.c_str())) {
        return status_message(DISC_IMAGE_INVALID,
                              "the cue sheet names " + data_path + ", which cannot be opened",
                              message);
    }
    return DISC_IMAGE_OK;
}

DiscImageFormat disc_image_detect(const char* path) {
    DiscReader reader;
    std::string message;
    DiscImageStatus status = image_open(path, &reader, &message);
    if (status != DISC_IMAGE_OK) {
        // A cue sheet whose data file is missing still asks for an image: reading it then
        // refuses it with that reason, instead of taking the text for an ELF file.
        return status == DISC_IMAGE_INVALID ? DISC_IMAGE_RAW : DISC_IMAGE_NONE;
    }
    DiscImageFormat format = disc_volume_detect(&reader);
    disc_reader_close(&reader);
    return format;
}

DiscImageStatus disc_image_find_boot(const char* path, DiscBoot* boot, std::string* message) {
    *boot = DiscBoot{};
    DiscReader reader;
    DiscImageStatus status = image_open(path, &reader, message);
    if (status != DISC_IMAGE_OK) {
        return status;
    }
    status = disc_image_reader_find_boot(&reader, boot, message);
    disc_reader_close(&reader);
    return status;
}

DiscImageStatus disc_image_read_boot(const char* path, DiscBoot* boot, uint8_t** data,
                                     std::string* message) {
    *data = nullptr;
    *boot = DiscBoot{};
    DiscReader reader;
    DiscImageStatus status = image_open(path, &reader, message);
    if (status != DISC_IMAGE_OK) {
        return status;
    }
    status = disc_image_reader_read_boot(&reader, boot, data, message);
    disc_reader_close(&reader);
    return status;
}
