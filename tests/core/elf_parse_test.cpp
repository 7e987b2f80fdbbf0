// The reentrant ELF record over caller-owned bytes, its reasons for refusing, the lazy
// checksum, the mapping, and the names a saved result gets.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "core/elf_image.h"
#include "core/file_map.h"
#include "core/save_name.h"

namespace {

std::string elf_bytes(uint32_t size, uint16_t entries) {
    std::string f(size, '\0');
    f.replace(0, 7, "\177ELF\1\1\1");
    f[28] = 52;
    f[44] = char(entries);
    if (size >= 52 + 32) {
        const uint32_t header[] = {1, 0, 0x100000, 0x100000, size, size, 5};
        for (uint32_t k = 0; k < 28; k++)
            f[52 + k] = char(header[k / 4] >> (8 * (k % 4)));
    }
    return f;
}

struct ParseCase {
    const char* name;
    std::string bytes;
    ElfStatus expect;
};

TEST(ElfImageParse, GivesTheReasonForEachRefusalAndOwnsNothing) {
    std::string not_elf = elf_bytes(0x100, 1);
    not_elf[1] = 'X';
    const ParseCase cases[] = {
        {"empty", "", ELF_TOO_SHORT},
        {"51 bytes", elf_bytes(51, 0), ELF_TOO_SHORT},
        {"no magic", not_elf, ELF_NOT_ELF},
        {"table past the end", elf_bytes(0x60, 2), ELF_TABLE_CUT_SHORT},
        {"one segment", elf_bytes(0x100, 1), ELF_OK},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.name);
        ElfImage image;
        const uint8_t* data = reinterpret_cast<const uint8_t*>(c.bytes.data());
        EXPECT_EQ(elf_image_parse(data, uint32_t(c.bytes.size()), &image), c.expect);
        EXPECT_STRNE(elf_status_text(c.expect), "");
        if (c.expect == ELF_OK) {
            EXPECT_EQ(image.data, data); // no copy
            EXPECT_EQ(image.ranges[0].count, 1u);
            EXPECT_EQ(image.ranges[0].file_size[0], 0x100u);
        }
        elf_image_clear(&image);
        EXPECT_EQ(image.data, nullptr);
    }
}

TEST(ElfImageParse, ChecksumMatchesTheWindowsRecord) {
    std::string bytes = elf_bytes(0x103, 1);
    bytes[0x100] = char(0x5A); // the last partial word does not count
    ElfImage image;
    ASSERT_EQ(elf_image_parse(reinterpret_cast<const uint8_t*>(bytes.data()),
                              uint32_t(bytes.size()), &image),
              ELF_OK);
    uint8_t* copy = static_cast<uint8_t*>(malloc(bytes.size()));
    memcpy(copy, bytes.data(), bytes.size());
    ElfImage* window = elf_image_from_bytes(copy, uint32_t(bytes.size()));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(elf_image_checksum(&image), window->checksum);
    free_elf_image(window);
    elf_image_clear(&image);
}

TEST(FileMap, MapsRegularFilesOnlyAndSurvivesTruncation) {
    std::string dir =
        std::filesystem::temp_directory_path() / ("quarnel-map-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::string path = dir + "/f";
    std::ofstream(path, std::ios::binary) << std::string(3 * 65536, 'A');
    FileMap map;
    uint32_t error = 1;
    ASSERT_EQ(file_map_open(path.c_str(), &map, &error), FILE_MAP_OK);
    EXPECT_EQ(map.size, 3u * 65536);
    ASSERT_EQ(truncate(path.c_str(), 100), 0);
    unsigned sum = 0;
    for (uint32_t i = 0; i < map.size; i += 512)
        sum += map.data[i];
    EXPECT_EQ(sum, unsigned('A')); // the first page stays; the rest reads as zeros
    EXPECT_TRUE(file_map_damaged(&map));
    file_map_close(&map);
    EXPECT_EQ(file_map_open(dir.c_str(), &map, &error), FILE_MAP_NOT_REGULAR);
    EXPECT_EQ(file_map_open((dir + "/none").c_str(), &map, &error), FILE_MAP_OPEN_FAILED);
    EXPECT_NE(error, 0u);
    std::ofstream(path, std::ios::trunc);
    ASSERT_EQ(file_map_open(path.c_str(), &map, &error), FILE_MAP_OK);
    EXPECT_EQ(map.size, 0u);
    EXPECT_FALSE(file_map_damaged(&map));
    file_map_close(&map);
    std::filesystem::remove_all(dir);
}

TEST(SaveName, AsTheWindowsSaveProposesAndCompletes) {
    struct {
        bool pnach;
        uint32_t checksum;
        const char* base;
        const char* proposal;
        const char* saved;
    } const cases[] = {
        {true, 0xAB, "GAME.ELF", "000000AB.PNACH", "000000AB.PNACH"},
        {false, 0xAB, "SLUS_209.46", "SLUS_209.46", "SLUS_209.46"},
        {false, 0, "GAME", "GAME", "GAME.txt"},
    };
    for (const auto& c : cases) {
        char name[64];
        save_name_propose(c.pnach, c.checksum, c.base, name, sizeof name);
        EXPECT_STREQ(name, c.proposal);
        save_name_final(c.pnach, c.checksum, c.base, name, sizeof name);
        EXPECT_STREQ(name, c.saved);
    }
}

} // namespace
