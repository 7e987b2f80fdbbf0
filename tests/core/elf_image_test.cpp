#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "core/elf_image.h"
#include "fixtures.h"

namespace {

const uint32_t PT_LOAD = 1;
const uint32_t PT_NOTE = 4;
const uint32_t PF_X = 1;
const uint32_t PF_R = 4;
const uint32_t PF_W = 2;

std::string write_temp(const std::vector<uint8_t>& bytes) {
    char path[] = "/tmp/quarnel-elf-XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    return path;
}

struct Range {
    uint32_t delta, offset, size;
    bool operator==(const Range&) const = default;
};

std::vector<Range> ranges(const ElfImage* image, int set) {
    std::vector<Range> out;
    const RangeSet& r = image->ranges[set];
    for (uint32_t i = 0; i < r.count; ++i) {
        out.push_back({r.address_delta[i], r.file_offset[i], r.file_size[i]});
    }
    return out;
}

TEST(ElfImage, LoadableSegmentsSplitByExecuteBitInTableOrder) {
    auto bytes = elf_bytes(0x3000, {
                                       {PT_LOAD, 0x2000, 0x00402000, 0x100, PF_R | PF_W},
                                       {PT_NOTE, 0x200, 0x200, 0x20, PF_X | PF_R},
                                       {PT_LOAD, 0x1000, 0x3000, 0x800, PF_R | PF_X},
                                       {PT_LOAD, 0x0100, 0x0, 0x40, PF_X},
                                       {PT_LOAD, 0x2800, 0x1000, 0x10, PF_R},
                                   });
    ElfImage* image = elf_load(bytes);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(ranges(image, 0),
              (std::vector<Range>{{0x2000, 0x1000, 0x800}, {0xFFFFFF00, 0x100, 0x40}}));
    EXPECT_EQ(ranges(image, 1),
              (std::vector<Range>{{0x400000, 0x2000, 0x100}, {0xFFFFE800, 0x2800, 0x10}}));
    free_elf_image(image);
    EXPECT_EQ(image->data, nullptr);
    EXPECT_EQ(image->ranges[0].count, 0u);
}

TEST(ElfImage, NoLoadableSegmentIsStillAnImage) {
    ElfImage* image = elf_load(elf_bytes(64, {}));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->ranges[0].count, 0u);
    EXPECT_EQ(image->ranges[1].count, 0u);
    free_elf_image(image);
}

TEST(ElfImage, ChecksumIsXorOfWholeWords) {
    auto bytes = elf_bytes(63, {});
    for (size_t i = 52; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(0x11 * i);
    }
    uint32_t expected = 0;
    for (size_t at = 0; at + 4 <= bytes.size(); at += 4) {
        expected ^= bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                    static_cast<uint32_t>(bytes[at + 3]) << 24;
    }
    ElfImage* image = elf_load(bytes);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->checksum, expected);
    EXPECT_EQ(image->size, 63u);
    // The three trailing bytes do not count.
    bytes[60] ^= 0xFF;
    image = elf_load(bytes);
    EXPECT_EQ(image->checksum, expected);
    free_elf_image(image);
}

TEST(ElfImage, RejectsWhatIsNoUsableElfFile) {
    auto good = elf_bytes(200, {{PT_LOAD, 0x80, 0x80, 0x40, PF_X}});
    ASSERT_NE(elf_load(good), nullptr);

    auto short_file = good;
    short_file.resize(51);
    EXPECT_EQ(elf_load(short_file), nullptr);

    auto bad_magic = good;
    bad_magic[3] = 'f';
    EXPECT_EQ(elf_load(bad_magic), nullptr);

    // Two entries at 52 need 116 bytes.
    auto cut_table = elf_bytes(115, {{PT_NOTE, 0, 0, 0, 0}, {PT_LOAD, 0, 0, 0, 0}});
    EXPECT_EQ(elf_load(cut_table), nullptr);
    cut_table.push_back(0);
    EXPECT_NE(elf_load(cut_table), nullptr);

    // A table offset that wraps around in 32 bits must not land inside the file.
    auto wrapping = elf_bytes(200, {{PT_LOAD, 0, 0, 0, 0}});
    wrapping[28] = 0xF0, wrapping[29] = 0xFF, wrapping[30] = 0xFF, wrapping[31] = 0xFF;
    EXPECT_EQ(elf_load(wrapping), nullptr);

    // No entries: the table offset does not matter.
    auto empty_table = elf_bytes(60, {});
    empty_table[31] = 0x7F;
    EXPECT_NE(elf_load(empty_table), nullptr);

    // 2 GiB and more is refused before anything is read.
    uint8_t* big = static_cast<uint8_t*>(malloc(64));
    memcpy(big, good.data(), 64);
    EXPECT_EQ(elf_image_from_bytes(big, 0x80000000u), nullptr);
    EXPECT_EQ(elf_image_from_bytes(nullptr, 100), nullptr);
}

TEST(ElfImage, SegmentsAreClippedToTheFile) {
    auto bytes = elf_bytes(0x200, {
                                      {PT_LOAD, 0x100, 0x1000, 0x80, PF_X},       // inside
                                      {PT_LOAD, 0x180, 0x2000, 0x100, PF_X},      // runs past
                                      {PT_LOAD, 0x100, 0x3000, 0xFFFFFFF0, PF_X}, // wraps
                                      {PT_LOAD, 0x200, 0x4000, 0x10, 0},          // at the end
                                      {PT_LOAD, 0xFFFFFFFF, 0x5000, 0x10, 0},     // far beyond
                                      {PT_NOTE, 0xFFFFFF00, 0, 0x1000, PF_X},     // ignored
                                  });
    ElfImage* image = elf_load(bytes);
    ASSERT_NE(image, nullptr);
    const RangeSet& x = image->ranges[0];
    ASSERT_EQ(x.count, 3u);
    EXPECT_EQ(x.file_size[0], 0x80u);
    EXPECT_EQ(x.file_size[1], 0x80u);
    EXPECT_EQ(x.file_size[2], 0x100u);
    const RangeSet& d = image->ranges[1];
    ASSERT_EQ(d.count, 2u);
    EXPECT_EQ(d.file_size[0], 0u);
    EXPECT_EQ(d.file_size[1], 0u);
    EXPECT_EQ(d.address_delta[1], 0x5001u);
    free_elf_image(image);
}

TEST(ElfImage, WordsPastTheEndReadAsZero) {
    auto bytes = elf_bytes(58, {});
    bytes[56] = 0x11, bytes[57] = 0x22;
    ElfImage* image = elf_load(bytes);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(elf_image_word(image, 0), 0x464C457Fu);
    EXPECT_EQ(elf_image_word(image, 56), 0x2211u);
    EXPECT_EQ(elf_image_word(image, 57), 0x22u);
    EXPECT_EQ(elf_image_word(image, 58), 0u);
    EXPECT_EQ(elf_image_word(image, 0xFFFFFFFE), 0u);
    free_elf_image(image);
}

TEST(ReadElf, ReadsFilesAndRefusesOthers) {
    auto a = elf_bytes(128, {{PT_LOAD, 64, 0x1000, 64, PF_X}});
    a[100] = 0x5A;
    auto b = elf_bytes(128, {{PT_LOAD, 64, 0x1000, 64, PF_X}});
    std::string path_a = write_temp(a);
    std::string path_b = write_temp(b);
    std::string text = write_temp({'h', 'e', 'l', 'l', 'o', '\n'});
    std::string empty = write_temp({});

    ElfImage* image = read_elf(path_a.c_str());
    ASSERT_NE(image, nullptr);
    uint32_t checksum_a = image->checksum;
    EXPECT_EQ(image->size, 128u);
    EXPECT_EQ(memcmp(image->data, a.data(), a.size()), 0);
    image = read_elf(path_b.c_str());
    ASSERT_NE(image, nullptr);
    EXPECT_NE(image->checksum, checksum_a);
    image = read_elf(path_a.c_str());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->checksum, checksum_a);
    free_elf_image(image);

    EXPECT_EQ(read_elf(text.c_str()), nullptr);
    EXPECT_EQ(read_elf(empty.c_str()), nullptr);
    EXPECT_EQ(read_elf("/nonexistent/quarnel.elf"), nullptr);
    EXPECT_EQ(read_elf("/tmp"), nullptr);
    for (const std::string& path : {path_a, path_b, text, empty}) {
        unlink(path.c_str());
    }
}

} // namespace
