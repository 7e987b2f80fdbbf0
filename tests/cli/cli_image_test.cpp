// quarnel-cli over disc images: the sample's boot executable inside an ISO, a raw CD (BIN) and a
// compressed (CSO) image gives what the loose file gives, in every format and command.
#include <gtest/gtest.h>

#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/disc/disc_images.h"

namespace {

using namespace disc_images;

struct Outcome {
    int status; // exit status, or -1 for a signal
    std::string out, err;
};

std::string text_of(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

const char* const IMAGES[] = {"game.iso", "game.bin", "game.cso"};

class CliImages : public testing::Test {
  protected:
    static fs::path dir;
    static Bytes sample;

    // The images are made once for every test: xorriso is the slow part.
    static void SetUpTestSuite() {
        dir = fs::temp_directory_path() / ("quarnel-cli-images-" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        sample = read_bytes(SAMPLE_ELF);
        // The loose file under the boot executable's name, so that even the gametitle= line of
        // a whole PNACH file agrees.
        write_bytes(dir / "SLUS_203.12", sample);
        Bytes iso = disc_images_make_iso(
            XORRISO, dir, "game",
            {{"SYSTEM.CNF", text_bytes("BOOT2 = cdrom0:\\SLUS_203.12;1\r\nVER = 1.00\r\n")},
             {"SLUS_203.12", sample},
             {"README.TXT", text_bytes("Not the executable.\n")}},
            "");
        fs::remove_all(dir / "stage_game");
        write_bytes(dir / "game.bin", raw_from_iso(iso, 2));
        write_bytes(dir / "game.cso", cso_from_iso(iso));
        // The first 40 KiB of the ISO: the volume descriptor points past its end.
        write_bytes(dir / "cut.iso", Bytes(iso.begin(), iso.begin() + 40 * 1024));
    }
    static void TearDownTestSuite() {
        fs::remove_all(dir);
    }

    Outcome run(const std::string& arguments) {
        std::string command =
            "cd '" + dir.string() + "' && " QUARNEL_CLI " " + arguments + " >out 2>err </dev/null";
        int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text_of(read_bytes(dir / "out")),
                text_of(read_bytes(dir / "err"))};
    }
};

fs::path CliImages::dir;
Bytes CliImages::sample;

const std::string PATTERNS =
    "--search " SAMPLE_DIR "/search.txt --replace " SAMPLE_DIR "/replace.txt ";

TEST_F(CliImages, EveryFormatPrintsWhatTheLooseFilePrints) {
    const char* const formats[] = {"--format address", "--format offset", "--format pnach",
                                   "--format raw", "--format pnach --pnach-file"};
    for (const char* format : formats) {
        Outcome loose = run(std::string(format) + " " + PATTERNS + "SLUS_203.12");
        ASSERT_EQ(loose.status, 0) << format << loose.err;
        for (const char* image : IMAGES) {
            Outcome r = run(std::string(format) + " " + PATTERNS + image);
            EXPECT_EQ(r.status, 0) << format << " " << image;
            EXPECT_EQ(r.err, "") << format << " " << image;
            EXPECT_EQ(r.out, loose.out) << format << " " << image;
        }
    }
    Outcome checksum = run("--checksum SLUS_203.12");
    ASSERT_EQ(checksum.out, "8917AF82\n");
    for (const char* image : IMAGES)
        EXPECT_EQ(run(std::string("--checksum ") + image).out, checksum.out) << image;
}

// Images among loose files, on the command line and in a list: each under its path as given.
TEST_F(CliImages, ManyFilesMixImagesAndElfFiles) {
    Outcome loose = run("--format address " + PATTERNS + "SLUS_203.12");
    ASSERT_EQ(loose.status, 0);
    std::string expected;
    for (const char* name : {"SLUS_203.12", "game.iso", "game.bin", "game.cso"})
        expected += std::string("//File: ") + name + "\r\n" + loose.out;
    Outcome r = run("--format address " + PATTERNS + "SLUS_203.12 game.iso game.bin game.cso");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected);
    write_bytes(dir / "list", text_bytes("SLUS_203.12\ngame.iso\r\ngame.bin\ngame.cso\n"));
    r = run("--format address " + PATTERNS + "--files-from list");
    EXPECT_EQ(r.out, expected);

    // In --output-dir an image's result takes its boot executable's name, so an image and its
    // loose executable would clash and are refused before anything is written.
    fs::create_directories(dir / "res");
    r = run("--format address " + PATTERNS + "--output-dir res game.cso");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(text_of(read_bytes(dir / "res" / "SLUS_203.12.txt")), loose.out);
    r = run("--format address " + PATTERNS + "--output-dir res SLUS_203.12 game.iso");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "quarnel-cli: SLUS_203.12 and game.iso would both be written to "
                     "res/SLUS_203.12.txt\n");
    fs::remove_all(dir / "res");
}

TEST_F(CliImages, BootLineAndExtractedBytes) {
    std::string line = "SLUS_203.12\t" + std::to_string(sample.size()) + "\t8917AF82\n";
    for (const char* image : IMAGES) {
        Outcome r = run(std::string("--boot ") + image);
        EXPECT_EQ(r.status, 0) << image << r.err;
        EXPECT_EQ(r.out, line) << image;

        fs::remove(dir / "out.elf");
        write_bytes(dir / "out.elf", text_bytes("an older file"));
        r = run(std::string("--extract ") + image + " out.elf");
        EXPECT_EQ(r.status, 0) << image << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(read_bytes(dir / "out.elf"), sample) << image;
    }
    const struct {
        const char* arguments;
        const char* err;
    } refused[] = {
        {"--boot SLUS_203.12", "quarnel-cli: SLUS_203.12: Not a disc image\n"},
        {"--extract SLUS_203.12 x.elf", "quarnel-cli: SLUS_203.12: Not a disc image\n"},
        {"--extract game.iso game.iso",
         "quarnel-cli: game.iso: Error opening file (it is the disc image itself)\n"},
    };
    for (const auto& c : refused) {
        Outcome r = run(c.arguments);
        EXPECT_EQ(r.status, 2) << c.arguments;
        EXPECT_EQ(r.out, "") << c.arguments;
        EXPECT_EQ(r.err, c.err) << c.arguments;
    }
    EXPECT_FALSE(fs::exists(dir / "x.elf"));
    EXPECT_EQ(read_bytes(dir / "game.iso").size() % 2048, 0u);
}

// An image cut short: one line naming the file and the reason, from every command.
TEST_F(CliImages, BadImageIsOneLineWithItsReason) {
    for (const std::string& arguments :
         {"--format address " + PATTERNS + "cut.iso", std::string("--checksum cut.iso"),
          std::string("--boot cut.iso"), std::string("--extract cut.iso x.elf"),
          "--format address " + PATTERNS + "SLUS_203.12 cut.iso"}) {
        Outcome r = run(arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(r.err.rfind("quarnel-cli: cut.iso: Invalid disc image (", 0), 0u)
            << arguments << ": " << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << arguments << ": " << r.err;
    }
    Outcome r = run("apply --patches " SAMPLE_DIR "/lives.pnach --output x.elf cut.iso");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("quarnel-cli: cut.iso: Invalid disc image (", 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(dir / "x.elf"));
}

// A whole PNACH file made from an image is named as emulators look for it and loads back
// through port and apply without a malformed line.
TEST_F(CliImages, PnachFileRoundTripsThroughPortAndApply) {
    fs::create_directories(dir / "res");
    Outcome r = run("--format pnach --pnach-file " + PATTERNS + "--output-dir res game.iso");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string name = "res/SLUS-20312_8917AF82.pnach";
    ASSERT_TRUE(fs::exists(dir / name));
    std::string pnach = text_of(read_bytes(dir / name));
    EXPECT_EQ(pnach.rfind("gametitle=SLUS_203.12 (8917AF82)\r\n", 0), 0u) << pnach;
    // A wildcard of the search pattern stays one in the section's name.
    EXPECT_NE(pnach.find("\r\n[Search pattern 3: xxxx083C]\r\n"), std::string::npos) << pnach;

    r = run("port --from game.bin --patches " + name + " --output ported.pnach game.cso");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("malformed"), std::string::npos) << r.err;
    EXPECT_EQ(read_bytes(dir / "ported.pnach"), read_bytes(dir / name));

    r = run("apply --patches " + name + " --output image.elf game.iso");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "2 of 2 lines applied\n");
    r = run("apply --patches " + name + " --output loose.elf SLUS_203.12");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_bytes(dir / "image.elf"), read_bytes(dir / "loose.elf"));
    EXPECT_NE(read_bytes(dir / "image.elf"), sample);

    r = run("--format address --pnach-file " + PATTERNS + "game.iso");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("quarnel-cli: --pnach-file needs --format pnach\nusage:", 0), 0u);
    fs::remove_all(dir / "res");
}

} // namespace
