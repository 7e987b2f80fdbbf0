#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include "fixtures.h"

namespace {

const uint32_t PT_NOTE = 4;

// Each range as "delta:offset+size", executable set first, sets separated by " | ".
std::string describe(const ElfImage* image) {
    std::string out;
    char piece[40];
    for (int set = 0; set < 2; ++set) {
        const RangeSet& r = image->ranges[set];
        for (uint32_t i = 0; i < r.count; ++i) {
            snprintf(piece, sizeof piece, "%X:%X+%X ", r.address_delta[i], r.file_offset[i],
                     r.file_size[i]);
            out += piece;
        }
        out += set == 0 ? "| " : "";
    }
    return out;
}

TEST(ElfImage, LoadableSegmentsInTableOrderClippedToTheFile) {
    ElfImage* image = elf_load(elf_bytes(0x3000, {
                                                     {PT_LOAD, 0x2000, 0x402000, 0x100, 6},
                                                     {PT_NOTE, 0xFFFFFF00, 0, 0x1000, PF_X},
                                                     {PT_LOAD, 0x1000, 0x3000, 0x800, 5},
                                                     {PT_LOAD, 0x2F80, 0x1000, 0x100, 1},
                                                     {PT_LOAD, 0x0100, 0x0, 0xFFFFFFF0, 1},
                                                     {PT_LOAD, 0x3000, 0x4000, 0x10, 4},
                                                     {PT_LOAD, 0xFFFFFFFF, 0, 0x10, 0},
                                                 }));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(describe(image),
              "2000:1000+800 FFFFE080:2F80+80 FFFFFF00:100+2F00 | 400000:2000+100 1000:3000+0 "
              "1:FFFFFFFF+0 ");
    free_elf_image(image);
    EXPECT_EQ(image->data, nullptr);

    image = elf_load(elf_bytes(64, {}));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(describe(image), "| ");
}

TEST(ElfImage, ChecksumIsXorOfWholeWords) {
    auto bytes = elf_bytes(63, {}, 52, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    ElfImage* image = elf_load(bytes);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->checksum, 0x464C457Fu ^ 52 ^ 0x04030201 ^ 0x08070605);
    EXPECT_EQ(elf_image_word(image, 60), 0x0B0A09u); // bytes past the end read as 0
    EXPECT_EQ(elf_image_word(image, 0xFFFFFFFE), 0u);
    free_elf_image(image);
}

TEST(ElfImage, RejectsFilesItCannotUse) {
    auto good = elf_bytes(116, {{PT_NOTE, 0, 0, 0, 0}, {PT_LOAD, 0, 0, 0, 0}});
    ASSERT_NE(elf_load(good), nullptr);
    auto cut = good;
    cut.pop_back(); // the second table entry now runs past the end
    EXPECT_EQ(elf_load(cut), nullptr);
    auto short_file = elf_bytes(51, {});
    EXPECT_EQ(elf_load(short_file), nullptr);
    auto no_magic = good;
    no_magic[1] = 'e';
    EXPECT_EQ(elf_load(no_magic), nullptr);
    auto wrapping = good;
    put32(wrapping, 28, 0xFFFFFFF0); // + 32 wraps to 16 in 32 bits
    EXPECT_EQ(elf_load(wrapping), nullptr);
    auto empty_table = elf_bytes(60, {});
    put32(empty_table, 28, 0xFFFFFFF0); // no entries: the offset is never used
    EXPECT_NE(elf_load(empty_table), nullptr);
    uint8_t* big = static_cast<uint8_t*>(malloc(64)); // refused before anything is read
    memcpy(big, good.data(), 64);
    EXPECT_EQ(elf_image_from_bytes(big, 0x80000000u), nullptr);
}

TEST(ReadElf, ReadsFilesAndRefusesOthers) {
    std::string base = "/tmp/quarnel-elf-" + std::to_string(getpid());
    std::vector<std::string> paths = {base + "a", base + "b", base + "c", base + "d"};
    std::vector<std::vector<uint8_t>> contents = {
        elf_bytes(128, {{PT_LOAD, 64, 0x1000, 64, PF_X}}, 100, {0x5A}),
        elf_bytes(128, {{PT_LOAD, 64, 0x1000, 64, PF_X}}),
        {'h', 'i', '\n'},
        {}};
    for (size_t i = 0; i < paths.size(); ++i) {
        std::ofstream(paths[i], std::ios::binary)
            .write(reinterpret_cast<const char*>(contents[i].data()), contents[i].size());
    }
    ElfImage* image = read_elf(paths[0].c_str());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->size, 128u);
    EXPECT_EQ(image->data[100], 0x5A);
    uint32_t checksum_a = image->checksum;
    ASSERT_NE(read_elf(paths[1].c_str()), nullptr);
    EXPECT_EQ(image->checksum, checksum_a ^ 0x5A);
    for (const std::string& path : {paths[2], paths[3], base + "missing", std::string("/tmp")}) {
        EXPECT_EQ(read_elf(path.c_str()), nullptr) << path;
    }
    for (const std::string& path : paths) {
        unlink(path.c_str());
    }
}

} // namespace
