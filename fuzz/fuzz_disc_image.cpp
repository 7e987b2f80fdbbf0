// Arbitrary bytes as a disc image in memory: finding and reading the boot executable must agree,
// never read outside the image, and hand over bytes that load like any ELF file.
#include <string>

#include "core/disc_image.h"
#include "core/elf_image.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size heap copy: any read past the image is a read past the block.
    uint8_t* image = static_cast<uint8_t*>(malloc(size ? size : 1));
    memcpy(image, data, size);
    DiscReader reader;
    disc_reader_open_memory(&reader, image, size);

    DiscBoot found;
    std::string found_message;
    DiscImageStatus found_status = disc_image_reader_find_boot(&reader, &found, &found_message);
    fuzz_require((found_status == DISC_IMAGE_OK) == found_message.empty(),
                 "a refusal without a message, or a message without a refusal");

    DiscBoot boot;
    std::string message;
    uint8_t* bytes = nullptr;
    DiscImageStatus status = disc_image_reader_read_boot(&reader, &boot, &bytes, &message);
    fuzz_require((status == DISC_IMAGE_OK) == (bytes != nullptr), "bytes only when read");
    if (found_status != DISC_IMAGE_OK) {
        fuzz_require(status == found_status && message == found_message,
                     "reading refuses otherwise than finding");
    } else if (status == DISC_IMAGE_OK) {
        fuzz_require(boot.path_in_image == found.path_in_image && boot.size == found.size,
                     "reading finds another file than finding");
        fuzz_require(boot.size < 0x80000000u, "a boot executable of 2 GiB or more");
        fuzz_require(boot.size >= 4 && memcmp(bytes,
                                              "\x7F"
                                              "ELF",
                                              4) == 0,
                     "a boot executable that is no ELF file");
        fuzz_require(boot.serial.empty() || boot.serial.size() == 10, "a serial of odd shape");
        if (ElfImage* elf = elf_image_from_bytes(bytes, uint32_t(boot.size))) { // owns bytes
            free_elf_image(elf);
        }
    } else {
        // After the walk only the file's own data can fail: a raw sector without its sync
        // pattern, a block that does not inflate.
        fuzz_require(boot.format == DISC_IMAGE_NONE, "a refusal that keeps its record");
    }
    free(image);
    return 0;
}
