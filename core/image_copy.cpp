// Owned copies of ELF images.
#include "core/image_copy.h"

#include "core/executable_file.h"

#include <cstdlib>

namespace {

uint32_t read_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Parses `bytes` as an ELF image that the copy owns. Null when they are no ELF image.
std::unique_ptr<ImageCopy> copy_parse(std::vector<uint8_t> bytes) {
    std::unique_ptr<ImageCopy> copy(new ImageCopy{});
    copy->data = std::move(bytes);
    if (elf_image_parse(copy->data.data(), uint32_t(copy->data.size()), &copy->image) != ELF_OK)
        return nullptr;
    copy->image.checksum = elf_image_checksum(&copy->image);

    // The parse has checked that the program header table lies inside the file.
    const uint8_t* data = copy->data.data();
    uint32_t table = read_le32(data + 28);
    uint32_t entries = uint32_t(data[44] | data[45] << 8);
    copy->span_low = 0xFFFFFFFFu;
    copy->span_high = 0;
    for (uint32_t i = 0; i < entries; i++) {
        const uint8_t* entry = data + table + 32 * i;
        if (read_le32(entry) != 1)
            continue;
        uint32_t address = read_le32(entry + 8);
        uint64_t end = uint64_t(address) + read_le32(entry + 20);
        copy->span_low = address < copy->span_low ? address : copy->span_low;
        uint32_t clipped = end > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(end);
        copy->span_high = clipped > copy->span_high ? clipped : copy->span_high;
    }
    if (copy->span_low > copy->span_high)
        copy->span_low = copy->span_high = 0;
    return copy;
}

} // namespace

std::unique_ptr<ImageCopy> image_copy_load(const char* path, std::string* message) {
    std::string ignored;
    if (!message)
        message = &ignored;
    message->clear();
    ExecutableFile file;
    if (executable_file_read(path, &file, message) != EXECUTABLE_FILE_OK) {
        if (message->empty())
            *message = "Error reading file";
        return nullptr;
    }
    std::vector<uint8_t> bytes(file.data, file.data + file.size);
    std::free(file.data);
    std::unique_ptr<ImageCopy> copy = copy_parse(std::move(bytes));
    if (!copy) {
        *message = file.in_image ? "Invalid ELF file (" + file.boot.path_in_image + ")"
                                 : "Invalid ELF file";
        return nullptr;
    }
    copy->path = path;
    copy->in_image = file.in_image;
    copy->boot_name = executable_file_base_name(file.in_image ? file.boot.path_in_image : path);
    return copy;
}

std::unique_ptr<ImageCopy> image_copy_from_bytes(const uint8_t* data, uint32_t size) {
    return copy_parse(std::vector<uint8_t>(data, data + size));
}

bool image_place_find(const ElfImage* image, uint32_t address, uint32_t width, ImagePlace* place) {
    for (int set = 0; set < 2; set++) {
        const RangeSet& r = image->ranges[set];
        for (uint32_t k = 0; k < r.count; k++) {
            uint32_t offset = address - r.address_delta[k];
            if (offset >= r.file_offset[k] &&
                uint64_t(offset) + width <= uint64_t(r.file_offset[k]) + r.file_size[k]) {
                place->executable = set == 0;
                place->segment = k;
                place->offset = offset;
                return true;
            }
        }
    }
    return false;
}

uint32_t image_place_address(const ElfImage* image, const ImagePlace* place) {
    return place->offset + image->ranges[place->executable ? 0 : 1].address_delta[place->segment];
}
