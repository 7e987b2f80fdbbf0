// The boot executable inside disc images: ISO images made by xorriso, the same as raw 2352-byte
// sector images (Mode 1 and Mode 2 Form 1) and as CSO images, must give exactly the bytes of the
// loose file; hostile images are refused with their message; a DVD-sized image is not read whole.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "core/disc_image.h"
#include "core/elf_image.h"
#include "core/executable_file.h"
#include "core/file_io.h"
#include "tests/disc/disc_images.h"

namespace fs = std::filesystem;

namespace {

using namespace disc_images;

const Bytes& sample() {
    static const Bytes bytes = read_bytes(SAMPLE_ELF);
    return bytes;
}

// A folder per test: ctest runs the tests of this program side by side, and several make
// images of the same name.
fs::path work_dir() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    fs::path dir = fs::path(DISC_WORK_DIR) /
                   (test ? std::string(test->test_suite_name()) + "." + test->name() : "shared");
    fs::create_directories(dir);
    return dir;
}

// A folder tree made into an ISO image by xorriso. Returns the image's bytes.
Bytes make_iso(const std::string& name, const std::map<std::string, Bytes>& files,
               const std::string& options) {
    return disc_images_make_iso(XORRISO, work_dir(), name, files, options);
}

Bytes filler(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(i * 131 + (i >> 9));
    return bytes;
}

struct Layout {
    std::string name, options, path_in_image;
    std::map<std::string, Bytes> files;
};

// Boot executables named like a console's, with a SYSTEM.CNF (or none) and other files around.
const std::vector<Layout>& layouts() {
    static const std::vector<Layout> list = {
        {"root",
         "-R",
         "SLUS_203.12",
         {{"SYSTEM.CNF", text_bytes("BOOT2 = cdrom0:\\SLUS_203.12;1\r\nVER = 1.00\r\n"
                                    "VMODE = NTSC\r\n")},
          {"SLUS_203.12", sample()},
          {"README.TXT", text_bytes("Not the executable.\n")},
          {"DATA/MOVIE.PSS", filler(300000)}}},
        // The path in another case than on the disc, with slashes, spaces and a folder.
        {"folder",
         "",
         "GAME/SLUS_203.12",
         {{"SYSTEM.CNF", text_bytes("VER = 1.00\nboot2=cdrom0:/game/slus_203.12;1  \n")},
          {"DATA/SOUND.BIN", filler(70000)},
          {"GAME/SLUS_203.12", sample()},
          {"GAME/README.TXT", text_bytes("hello\n")}}},
        // No SYSTEM.CNF: the only ELF file in the root folder.
        {"bare",
         "",
         "SLUS_203.12",
         {{"README.TXT", text_bytes("hello\n")},
          {"SLUS_203.12", sample()},
          {"DATA/OTHER.ELF", sample()}}},
    };
    return list;
}

struct Format {
    std::string suffix;
    DiscImageFormat format;
    Bytes (*make)(const Bytes& iso);
};

const std::vector<Format>& formats() {
    static const std::vector<Format> list = {
        {".iso", DISC_IMAGE_ISO, [](const Bytes& iso) { return iso; }},
        {"-mode1.bin", DISC_IMAGE_RAW, [](const Bytes& iso) { return raw_from_iso(iso, 1); }},
        {"-mode2.bin", DISC_IMAGE_RAW, [](const Bytes& iso) { return raw_from_iso(iso, 2); }},
        {".cso", DISC_IMAGE_CSO, [](const Bytes& iso) { return cso_from_iso(iso); }},
        // xorriso pads with 150 empty sectors; an image trimmed of them loses nothing read.
        {"-trimmed.iso", DISC_IMAGE_ISO,
         [](const Bytes& iso) { return Bytes(iso.begin(), iso.end() - 140 * 2048); }},
    };
    return list;
}

TEST(DiscImage, EveryFormatGivesTheLooseFileBytes) {
    ElfImage* loose = read_elf(SAMPLE_ELF);
    ASSERT_NE(loose, nullptr);
    uint32_t loose_checksum = loose->checksum;
    free_elf_image(loose);
    for (const Layout& layout : layouts()) {
        Bytes iso = make_iso(layout.name, layout.files, layout.options);
        ASSERT_GT(iso.size(), 32768u);
        for (const Format& format : formats()) {
            std::string file_name = layout.name + format.suffix;
            SCOPED_TRACE(file_name);
            fs::path path = work_dir() / file_name;
            write_bytes(path, format.make(iso));
            EXPECT_EQ(disc_image_detect(path.string().c_str()), format.format);

            DiscBoot found;
            std::string message;
            ASSERT_EQ(disc_image_find_boot(path.string().c_str(), &found, &message), DISC_IMAGE_OK)
                << message;
            EXPECT_EQ(found.path_in_image, layout.path_in_image);
            EXPECT_EQ(found.serial, "SLUS-20312");
            EXPECT_EQ(found.size, sample().size());

            ExecutableFile file;
            ASSERT_EQ(executable_file_read(path.string().c_str(), &file, &message),
                      EXECUTABLE_FILE_OK)
                << message;
            EXPECT_TRUE(file.in_image);
            EXPECT_EQ(file.display_name, "SLUS_203.12 in " + file_name);
            EXPECT_EQ(file.boot.path_in_image, layout.path_in_image);
            ASSERT_EQ(file.size, sample().size());
            EXPECT_EQ(memcmp(file.data, sample().data(), file.size), 0);
            ElfImage* image = elf_image_from_bytes(file.data, file.size);
            ASSERT_NE(image, nullptr);
            EXPECT_EQ(image->checksum, loose_checksum);
            free_elf_image(image);
        }
    }
}

// A cue sheet beside a raw image opens that image; one naming a missing file is refused.
TEST(DiscImage, CueSheetsOpenTheImageTheyName) {
    Bytes iso = make_iso("cue", layouts()[1].files, "");
    write_bytes(work_dir() / "cue game.bin", raw_from_iso(iso, 2));
    const std::pair<const char*, std::string> cases[] = {
        {"game.cue", "FILE \"cue game.bin\" BINARY\r\n  TRACK 01 MODE2/2352\r\n"
                     "    INDEX 01 00:00:00\r\n"},
        {"lower.cue", "REM made by hand\nfile \"cue game.bin\" binary\ntrack 01 mode2/2352\n"},
        {"missing.cue", "FILE \"gone.bin\" BINARY\n  TRACK 01 MODE1/2352\n"},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        fs::path cue = work_dir() / name;
        write_text(cue, text);
        ExecutableFile file;
        std::string message;
        ExecutableFileStatus status = executable_file_read(cue.string().c_str(), &file, &message);
        if (std::string(name) == "missing.cue") {
            EXPECT_EQ(status, EXECUTABLE_FILE_BAD_IMAGE);
            EXPECT_EQ(message, "Invalid disc image (the cue sheet names " +
                                   (work_dir() / "gone.bin").string() +
                                   ", which cannot be opened)");
            continue;
        }
        ASSERT_EQ(status, EXECUTABLE_FILE_OK) << message;
        EXPECT_EQ(file.display_name, "SLUS_203.12 in " + std::string(name));
        EXPECT_EQ(file.boot.path_in_image, "GAME/SLUS_203.12");
        EXPECT_EQ(Bytes(file.data, file.data + file.size), sample());
        free(file.data);
    }
}

TEST(DiscImage, LooseFilesAreReadAsTheyAre) {
    ExecutableFile file;
    std::string message;
    ASSERT_EQ(executable_file_read(SAMPLE_ELF, &file, &message), EXECUTABLE_FILE_OK);
    EXPECT_FALSE(file.in_image);
    EXPECT_EQ(file.display_name, "sample.elf");
    EXPECT_EQ(Bytes(file.data, file.data + file.size), sample());
    free(file.data);

    fs::path missing = work_dir() / "missing.iso";
    EXPECT_EQ(executable_file_read(missing.string().c_str(), &file, &message),
              EXECUTABLE_FILE_UNREADABLE);
    EXPECT_EQ(file.data, nullptr);
    DiscBoot boot;
    EXPECT_EQ(disc_image_find_boot(missing.string().c_str(), &boot, &message),
              DISC_IMAGE_OPEN_FAILED);
    EXPECT_EQ(message, "Error opening file");

    // Content decides, not the name: text called .iso is no image, a loose ELF stays loose.
    fs::path text = work_dir() / "notes.iso";
    write_text(text, std::string(40000, 'x'));
    EXPECT_EQ(disc_image_detect(text.string().c_str()), DISC_IMAGE_NONE);
    EXPECT_EQ(disc_image_detect(SAMPLE_ELF), DISC_IMAGE_NONE);
    EXPECT_EQ(disc_image_find_boot(text.string().c_str(), &boot, &message), DISC_IMAGE_NOT_IMAGE);
    EXPECT_EQ(message, "Not a disc image");
}

// Extracting: the bytes land whole under the target's name, or the old file stays as it was.
TEST(DiscImage, ExtractedExecutableIsSavedWhole) {
    fs::path folder = work_dir() / "extract";
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::path target = folder / "SLUS_203.12";
    write_text(target, "old");
    auto save = [](const fs::path& path) {
        uint32_t error = 0;
        return file_write_all(path.string().c_str(), reinterpret_cast<const char*>(sample().data()),
                              uint32_t(sample().size()), &error);
    };
    EXPECT_EQ(save(target), FILE_WRITE_OK);
    EXPECT_EQ(read_bytes(target), sample());
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

    EXPECT_EQ(save(folder / "missing" / "SLUS_203.12"), FILE_WRITE_OPEN_FAILED);
    EXPECT_EQ(save("/dev/null"), FILE_WRITE_OK);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST(DiscImage, SerialsFromConsoleFileNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"SLUS_203.12", "SLUS-20312"}, {"slps_150.01", "SLPS-15001"},
        {"SCES_500.00", "SCES-50000"}, {"MAIN.ELF", ""},
        {"SLUS_2031.2", ""},           {"SLUS-203.12", ""},
        {"SL1S_203.12", ""},           {"SLUS_20A.12", ""},
        {"SLUS_203.123", ""},
    };
    for (const auto& [name, serial] : cases)
        EXPECT_EQ(disc_image_serial(name), serial) << name;
}

struct HostileImage {
    std::string name, message;
};

TEST(DiscImage, HostileImagesAreRefusedWithTheirMessage) {
    std::vector<HostileImage> cases;
    std::ifstream manifest(std::string(HOSTILE_IMAGE_DIR) + "/manifest.txt");
    for (std::string line; std::getline(manifest, line);) {
        size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos);
        cases.push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
    ASSERT_GE(cases.size(), 30u);
    for (const HostileImage& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = std::string(HOSTILE_IMAGE_DIR) + "/" + c.name;
        DiscBoot boot;
        std::string message;
        EXPECT_NE(disc_image_find_boot(path.c_str(), &boot, &message), DISC_IMAGE_OK);
        EXPECT_EQ(message, c.message);
        EXPECT_TRUE(boot.path_in_image.empty());

        // The same from memory, in an exact-size block: a read past it is seen under ASan.
        Bytes bytes = read_bytes(path);
        uint8_t* copy = static_cast<uint8_t*>(malloc(bytes.size()));
        memcpy(copy, bytes.data(), bytes.size());
        DiscReader reader;
        disc_reader_open_memory(&reader, copy, bytes.size());
        uint8_t* data = reinterpret_cast<uint8_t*>(1);
        EXPECT_NE(disc_image_reader_read_boot(&reader, &boot, &data, &message), DISC_IMAGE_OK);
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(data, nullptr);
        free(copy);

        ExecutableFile file;
        if (c.message != "Not a disc image") {
            EXPECT_EQ(executable_file_read(path.c_str(), &file, &message),
                      EXECUTABLE_FILE_BAD_IMAGE);
            EXPECT_EQ(message, c.message);
        }
    }
}

void put_both32(Bytes* bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        (*bytes)[at + i] = uint8_t(value >> (8 * i));
        (*bytes)[at + 7 - i] = uint8_t(value >> (8 * i));
    }
}

// A sparse copy of the root layout's ISO of `sectors` sectors (it costs no disk), its
// executable moved to `boot_sector` and given `boot_size` bytes in its record.
fs::path make_sparse_image(const std::string& name, uint64_t sectors, uint64_t boot_sector,
                           uint32_t boot_size) {
    Bytes iso = make_iso(name, layouts()[0].files, "");
    const std::string file_name = "SLUS_203.12;1";
    auto it = std::search(iso.begin(), iso.end(), file_name.begin(), file_name.end());
    EXPECT_NE(it, iso.end());
    size_t record = size_t(it - iso.begin()) - 33;
    EXPECT_EQ(iso[record + 32], file_name.size());
    put_both32(&iso, record + 2, uint32_t(boot_sector));
    put_both32(&iso, record + 10, boot_size);
    put_both32(&iso, 16 * 2048 + 80, uint32_t(sectors));

    fs::path path = work_dir() / (name + ".iso");
    fs::remove(path);
    write_bytes(path, iso);
    {
        std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(std::streamoff(boot_sector * 2048));
        out.write(reinterpret_cast<const char*>(sample().data()), std::streamsize(sample().size()));
    }
    fs::resize_file(path, sectors * 2048);
    EXPECT_EQ(fs::file_size(path), sectors * 2048);
    return path;
}

// A boot executable of 2 GiB is refused before anything of it is read (ElfImage's limit).
TEST(DiscImage, BootExecutableOf2GiBIsRefused) {
    fs::path path = make_sparse_image("huge_boot", 3000000000ull / 2048, 1000, 0x80000000u);
    DiscReader reader;
    ASSERT_TRUE(disc_reader_open_file(&reader, path.string().c_str()));
    DiscBoot boot;
    uint8_t* data = nullptr;
    std::string message;
    EXPECT_EQ(disc_image_reader_read_boot(&reader, &boot, &data, &message), DISC_IMAGE_INVALID);
    EXPECT_EQ(message, "Invalid disc image (the boot executable is 2 GiB or more)");
    EXPECT_EQ(data, nullptr);
    EXPECT_LT(reader.bytes_read, 64u * 1024);
    disc_reader_close(&reader);
    fs::remove(path);
}

// A DVD-sized image (4.7 GB) whose boot executable lies near its end: only the descriptors, the
// root folder, SYSTEM.CNF and the executable are read.
TEST(DiscImage, LargeImageIsNotReadWhole) {
    const uint64_t sectors = 4700000000ull / 2048;
    fs::path path = make_sparse_image("large", sectors, sectors - 100, uint32_t(sample().size()));

    auto start = std::chrono::steady_clock::now();
    DiscReader reader;
    ASSERT_TRUE(disc_reader_open_file(&reader, path.string().c_str()));
    DiscBoot boot;
    uint8_t* data = nullptr;
    std::string message;
    DiscImageStatus status = disc_image_reader_read_boot(&reader, &boot, &data, &message);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    uint64_t bytes_read = reader.bytes_read;
    disc_reader_close(&reader);
    fs::remove(path);

    ASSERT_EQ(status, DISC_IMAGE_OK) << message;
    EXPECT_EQ(Bytes(data, data + boot.size), sample());
    free(data);
    EXPECT_LT(bytes_read, 256u * 1024) << "read " << bytes_read << " bytes";
    RecordProperty("bytes_read", std::to_string(bytes_read));
    RecordProperty("seconds", std::to_string(seconds));
    std::printf("4.7 GB image: boot executable at %.2f GB read in %.3f ms, %llu bytes read\n",
                double(boot.offset) / 1e9, seconds * 1e3, (unsigned long long)bytes_read);
}

} // namespace
