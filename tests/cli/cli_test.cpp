// quarnel-cli as a script uses it: the built program is run with its arguments, standard input
// and output in files, and everything it leaves is compared byte for byte. The expected texts
// are written out by hand from the ELF files that the tests build.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string work = QUARNEL_TEST_WORK;

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

std::string file_read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void file_write(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

// A file in the work folder; returns its path.
std::string work_file(const std::string& name, const std::string& bytes) {
    std::string path = work + "/" + name;
    file_write(path, bytes);
    return path;
}

std::string in_quotes(const std::string& text) {
    return "\"" + text + "\"";
}

int exit_status(int raw) {
    if (QUARNEL_SYSTEM_WAIT_STATUS) {
        return (raw & 0x7F) ? -(raw & 0x7F) : (raw >> 8) & 0xFF; // negative: a signal
    }
    return raw;
}

// Runs quarnel-cli with `args` (already quoted where needed) and `input` on standard input.
CliRun cli(const std::string& args, const std::string& input = "") {
    std::string in = work_file("stdin.bin", input);
    std::string out = work + "/stdout.bin";
    std::string err = work + "/stderr.txt";
    std::string command = in_quotes(QUARNEL_CLI) + " " + args + " <" + in_quotes(in) + " >" +
                          in_quotes(out) + " 2>" + in_quotes(err);
    // cmd.exe strips one pair of quotes around the whole line.
    if (!QUARNEL_SYSTEM_WAIT_STATUS) {
        command = "\"" + command + "\"";
    }
    CliRun run;
    run.status = exit_status(std::system(command.c_str()));
    run.out = file_read(out);
    run.err = file_read(err);
    std::erase(run.err, '\r'); // standard error is a text stream
    return run;
}

void put32(std::string& f, uint32_t at, uint32_t value) {
    for (int k = 0; k < 4; k++) {
        f[at + k] = char(value >> (8 * k));
    }
}

void put_bytes(std::string& f, uint32_t at, std::vector<uint8_t> bytes) {
    for (size_t k = 0; k < bytes.size(); k++) {
        f[at + k] = char(bytes[k]);
    }
}

struct Segment {
    uint32_t type, offset, vaddr, filesz, flags;
};

std::string elf_file(uint32_t size, const std::vector<Segment>& segments) {
    std::string f(size, '\0');
    put_bytes(f, 0, {0x7F, 'E', 'L', 'F', 1, 1, 1});
    put32(f, 28, 52);
    f[42] = 32;
    f[44] = char(segments.size());
    for (size_t i = 0; i < segments.size(); i++) {
        uint32_t h = uint32_t(52 + 32 * i);
        const Segment& s = segments[i];
        put32(f, h, s.type);
        put32(f, h + 4, s.offset);
        put32(f, h + 8, s.vaddr);
        put32(f, h + 12, s.vaddr);
        put32(f, h + 16, s.filesz);
        put32(f, h + 20, s.filesz);
        put32(f, h + 24, s.flags);
        put32(f, h + 28, 4);
    }
    return f;
}

// A code segment at 0x1000 mapped at 0x100000, a data segment at 0x2000 mapped at
// 0x10200000 (an address of more than seven digits), and a note that is not loaded.
std::string game_elf() {
    std::string f = elf_file(0x3000, {{1, 0x1000, 0x100000, 0x100, 5},
                                      {4, 0x1000, 0x900000, 0x100, 5},
                                      {1, 0x2000, 0x10200000, 0x100, 6}});
    put_bytes(f, 0x1008, {0x40, 0x00, 0x0F, 0x3C}); // lui $t7, 0x40
    put_bytes(f, 0x1010, {0x05, 0x00, 0x02, 0x24}); // li $v0, 5
    put_bytes(f, 0x1022, {0x40, 0x00, 0x0F, 0x3C}); // the same word at a half-word boundary
    put_bytes(f, 0x1031, {0x40, 0x00, 0x0F, 0x3C}); // and at an odd offset
    put_bytes(f, 0x2004, {0x40, 0x00, 0x0F, 0x3C});
    return f;
}

const char* const HEADER_3C0F0040 = "//Search pattern: 3C0F0040\r\n"
                                    "//Search mask:    FFFFFFFF\r\n";

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(work);
        elf = in_quotes(work_file("game.elf", game_elf()));
    }

    // Pattern text in a work file, ready to be passed as an argument.
    std::string patterns(const std::string& name, const std::string& text) {
        return in_quotes(work_file(name, text));
    }

    void expect_result(const std::string& args, int status, const std::string& out,
                       const std::string& input = "") {
        CliRun run = cli(args, input);
        EXPECT_EQ(run.status, status) << args;
        EXPECT_EQ(run.out, out) << args;
        EXPECT_EQ(run.err, "") << args;
    }

    void expect_failure(const std::string& args, const std::string& message,
                        const std::string& input = "") {
        CliRun run = cli(args, input);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_EQ(run.out, "") << args;
        EXPECT_EQ(run.err, message + "\n") << args;
    }

    std::string elf;
};

TEST_F(Cli, EachFormatWritesTheResultBoxBytes) {
    std::string big = "--endian big --search " + patterns("s.txt", "3C0F0040\r\n") + " --replace " +
                      patterns("r.txt", "3C0F0041\r\n") + " " + elf;
    std::string header = HEADER_3C0F0040;
    expect_result("--format address " + big, 0, header + "00100008 //3C0F0040\r\n\r\n");
    expect_result("--format=offset " + big, 0, header + "00001008 //3C0F0040\r\n\r\n");
    expect_result("--format pnach " + big, 0,
                  header + "patch=1,EE,00100008,word,3C0F0041 //3C0F0040\r\n\r\n");
    // Addresses are written whole: nine characters before the blank above 0FFFFFFF.
    expect_result("--format raw --range data " + big, 0,
                  header + "210200004 3C0F0041 //3C0F0040\r\n\r\n");
    // The alignment reaches the scan, except for the patch formats, which stay word-aligned.
    expect_result("--format offset --align byte " + big, 0,
                  header + "00001008 //3C0F0040\r\n00001022 //3C0F0040\r\n"
                           "00001031 //3C0F0040\r\n\r\n");
    expect_result("--format raw --align byte " + big, 0,
                  header + "20100008 3C0F0041 //3C0F0040\r\n\r\n");

    // The defaults: little (the file's byte order), word, executable, pnach.
    expect_result("--search " + patterns("s.txt", "40 00 0f 3c ; lui") + " --replace " +
                      patterns("r.txt", "41000F3C") + " " + elf,
                  0,
                  "//Search pattern: 40000F3C\r\n//Search mask:    FFFFFFFF\r\n"
                  "patch=1,EE,00100008,word,3C0F0041 //3C0F0040\r\n\r\n");
    expect_result("--format raw --search " + patterns("s.txt", "11111111") + " --replace " +
                      patterns("r.txt", "22222222") + " " + elf,
                  1, "No matches found");
}

TEST_F(Cli, FailuresComeInTheSearchOrderAsOneLine) {
    std::string notes = patterns("notes.txt", "; nothing but a note\r\n");
    std::string four = patterns("four.txt", "3C0F0040\r\n");
    std::string two = patterns("two.txt", "3C0F0040\r\n24020005\r\n");
    std::string six = patterns("six.txt", "3C0F0040 0500\r\n");
    std::string missing = in_quotes(work + "/no-such-file.txt");
    std::string not_elf = in_quotes(work_file("not.elf", "just some text, long enough to read"));
    std::string mismatch =
        "The number of and length of Replace patterns must match Search patterns";
    const std::pair<std::string, std::string> cases[] = {
        // The ELF file comes before the pattern files.
        {"--search " + missing + " " + not_elf, "Invalid ELF file"},
        {"--checksum " + in_quotes(work + "/no-such.elf"), "Invalid ELF file"},
        // Both pattern files are read before either is judged; a replace file that is named
        // must be readable even where the format does not use it.
        {"--search " + missing + " " + elf, "Error opening file"},
        {"--format address --search " + notes + " --replace " + missing + " " + elf,
         "Error opening file"},
        {"--search " + notes + " " + elf, "No valid search patterns"},
        {"--search " + patterns("empty.txt", "") + " " + elf, "No valid search patterns"},
        {"--search " + four + " " + elf, "PNACH and RAW Code results require Replace patterns"},
        {"--format raw --search " + four + " --replace " + notes + " " + elf,
         "PNACH and RAW Code results require Replace patterns"},
        {"--search " + two + " --replace " + four + " " + elf, mismatch},
        {"--search " + six + " --replace " + four + " " + elf, mismatch},
        {"--format raw --search " + six + " --replace " + six + " " + elf,
         "PNACH/Raw Code results require Word-divisible patterns;"},
    };
    for (const auto& [args, message] : cases) {
        expect_failure(args, message);
    }
    // Formats that do not patch ignore what the replace file holds.
    expect_result("--endian big --format offset --search " + four + " --replace " + six + " " + elf,
                  0, std::string(HEADER_3C0F0040) + "00001008 //3C0F0040\r\n\r\n");
}

TEST_F(Cli, StandardInputIsReadAsBytes) {
    std::string offset = "--endian big --format offset --search ";
    std::string one = std::string(HEADER_3C0F0040) + "00001008 //3C0F0040\r\n\r\n";
    expect_result(offset + "- " + elf, 0, one, "3C0F0040");
    expect_result(
        "--endian big --search " + patterns("s.txt", "3C0F0040") + " --replace - " + elf, 0,
        std::string(HEADER_3C0F0040) + "patch=1,EE,00100008,word,3C0F0041 //3C0F0040\r\n\r\n",
        "3C0F0041\r\n");

    // The text ends at the first zero byte, from a file as from standard input; a Ctrl-Z is
    // just another byte.
    std::string with_nul = std::string("3C0F0040\r\n") + '\0' + "\r\n24020005\r\n";
    expect_result(offset + "- " + elf, 0, one, with_nul);
    expect_result(offset + patterns("nul.txt", with_nul) + " " + elf, 0, one);
    expect_result(offset + "- " + elf, 0,
                  one + "//Search pattern: 24020005\r\n//Search mask:    FFFFFFFF\r\n"
                        "00001010 //24020005\r\n\r\n",
                  "3C0F0040\r\n\x1A\r\n24020005\r\n");
}

TEST_F(Cli, OutputFileGetsTheResultOnlyWhenEverythingSucceeded) {
    std::string target = work + "/result.txt";
    std::string args = "--format address --output " + in_quotes(target) + " --search ";
    std::string found = patterns("s.txt", "40000F3C");
    file_write(target, "an older result");
    expect_result(args + found + " " + elf, 0, "");
    EXPECT_EQ(file_read(target), "//Search pattern: 40000F3C\r\n//Search mask:    FFFFFFFF\r\n"
                                 "00100008 //3C0F0040\r\n\r\n");

    file_write(target, "an older result");
    expect_failure(args + found + " " + in_quotes(work_file("bad.elf", "not an ELF")),
                   "Invalid ELF file");
    EXPECT_EQ(file_read(target), "an older result");

    expect_result(args + patterns("none.txt", "11111111") + " " + elf, 1, "");
    EXPECT_EQ(file_read(target), "No matches found");

    expect_failure("--output " + in_quotes(work + "/no-such-folder/result.txt") + " --search " +
                       found + " --format offset " + elf,
                   "Error opening file");
}

TEST_F(Cli, BadUsageExitsWithTheUsage) {
    std::string s = " --search " + patterns("s.txt", "3C0F0040") + " ";
    const std::string bad[] = {
        "--bogus" + s + elf,
        "--endian middle" + s + elf,
        "--align dword" + s + elf,
        "--range code" + s + elf,
        "--format pnch" + s + elf,
        s,
        elf,
        s + elf + " " + elf,
        s + s + elf,
        s + elf + " --output",
        "--checksum",
        "--checksum" + s + elf,
        "--search - --replace - " + elf,
    };
    for (const std::string& args : bad) {
        CliRun run = cli(args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_EQ(run.out, "") << args;
        EXPECT_NE(run.err.find("usage: quarnel-cli"), std::string::npos) << args;
    }
    CliRun help = cli("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: quarnel-cli", 0), 0u);
    expect_result("--version", 0, "quarnel-cli " QUARNEL_CLI_VERSION "\n");
}

TEST_F(Cli, ChecksumIsTheXorOfTheFilesWholeWords) {
    std::string f = elf_file(0x1003, {{1, 0x100, 0x1000, 0x10, 5}});
    put_bytes(f, 0x100, {0x78, 0x56, 0x34, 0x12, 0x01, 0x00, 0x00, 0x80});
    put_bytes(f, 0x1000, {0xFF, 0xFF, 0xFF}); // a partial word does not count
    uint32_t sum = 0;
    for (uint32_t at = 0; at + 4 <= f.size(); at += 4) {
        for (uint32_t k = 0; k < 4; k++) {
            sum ^= uint32_t(uint8_t(f[at + k])) << (8 * k);
        }
    }
    char line[16];
    std::snprintf(line, sizeof line, "%08X\n", unsigned(sum));
    expect_result("--checksum " + in_quotes(work_file("sum.elf", f)), 0, line);
}

TEST(BundledSample, SamplePatternsGiveItsPatchLines) {
    std::string dir = QUARNEL_SAMPLE_DIR;
    CliRun run = cli("--search " + in_quotes(dir + "/search.txt") + " --replace " +
                     in_quotes(dir + "/replace.txt") + " " + in_quotes(dir + "/sample.elf"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "//Search pattern: 03000924\r\n//Search mask:    FFFFFFFF\r\n"
                       "patch=1,EE,00100024,word,24090063 //24090003\r\n\r\n"
                       "//Search pattern: FFFF4224\r\n//Search mask:    FFFFFFFF\r\n"
                       "patch=1,EE,00100044,word,24420000 //2442FFFF\r\n\r\n"
                       "//Search pattern: 0000083C\r\n//Search mask:    0000FFFF\r\n\r\n");
    if (QUARNEL_SAMPLE_BUILT) {
        EXPECT_EQ(file_read(dir + "/sample.elf"), file_read(QUARNEL_SAMPLE_SOURCE "/sample.elf"))
            << "samples/sample.elf is older than samples/sample.s: commit the built one";
    }
}

} // namespace
