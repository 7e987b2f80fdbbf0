// Patch files, apply, the port on the bundled sample, and whole PNACH files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/image_copy.h"
#include "core/mips_signature.h"
#include "core/patch_apply.h"
#include "core/patch_file.h"
#include "core/patch_port.h"
#include "core/pnach_file.h"

namespace {

const std::string sample = std::string(QUARNEL_SAMPLE_DIR) + "/sample.elf";
const std::string work = QUARNEL_PORT_WORK;

PatchFile parse(const std::string& text) {
    PatchFile file;
    patch_file_parse(text.data(), text.size(), &file);
    return file;
}

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_all(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

struct LineCase {
    const char* text;
    PatchLineKind kind;
    uint32_t address, width, value;
    const char* problem; // start of the problem, "" for none
};

TEST(PatchFile, ClassifiesEachLine) {
    const LineCase cases[] = {
        {"patch=1,EE,00100024,word,24090063 //99 lives", PATCH_LINE_PNACH, 0x100024, 4, 0x24090063,
         ""},
        {"  PATCH = 0 , ee , 102000 , byte , 7f", PATCH_LINE_PNACH, 0x102000, 1, 0x7F, ""},
        {"patch=1,EE,00102002,short,FFFF", PATCH_LINE_PNACH, 0x102002, 2, 0xFFFF, ""},
        {"patch=1,EE,20100024,extended,24090063", PATCH_LINE_PNACH, 0x100024, 4, 0x24090063, ""},
        {"patch=1,EE,10102002,extended,0000ABCD", PATCH_LINE_PNACH, 0x102002, 2, 0xABCD, ""},
        {"patch=1,EE,D0102000,extended,00000001", PATCH_LINE_PNACH, 0x102000, 0, 1, "code type D"},
        {"patch=1,IOP,00100000,word,0", PATCH_LINE_PNACH, 0x100000, 0, 0, "processor 'iop'"},
        {"patch=1,EE,00100000,double,0", PATCH_LINE_PNACH, 0x100000, 0, 0, "type 'double'"},
        {"20100024 24090063 //raw", PATCH_LINE_RAW, 0x100024, 4, 0x24090063, ""},
        {"00102001 000000FF", PATCH_LINE_RAW, 0x102001, 1, 0xFF, ""},
        {"gametitle=Sample (8917AF82)", PATCH_LINE_TEXT, 0, 0, 0, ""},
        {"author=someone", PATCH_LINE_TEXT, 0, 0, 0, ""},
        {"description=faster", PATCH_LINE_TEXT, 0, 0, 0, ""},
        {"[infinite lives]", PATCH_LINE_TEXT, 0, 0, 0, ""},
        {"// a comment", PATCH_LINE_TEXT, 0, 0, 0, ""},
        {"; another", PATCH_LINE_TEXT, 0, 0, 0, ""},
        {"", PATCH_LINE_TEXT, 0, 0, 0, ""},
        {"patch=1,EE,00100024,dword,1", PATCH_LINE_MALFORMED, 0, 0, 0, "unknown type"},
        {"patch=1,EE,00100024,word", PATCH_LINE_MALFORMED, 0, 0, 0, "',' missing after the type"},
        {"patch=1,EE,001000245,word,1", PATCH_LINE_MALFORMED, 0, 0, 0, "bad address"},
        {"patch=1,EE,00100024,word,1 junk", PATCH_LINE_MALFORMED, 0, 0, 0, "unexpected text"},
        {"patch=1,EE,00102000,byte,100", PATCH_LINE_MALFORMED, 0, 0, 0, "value does not fit"},
        {"patch=1,EE,00102001,short,1", PATCH_LINE_MALFORMED, 0, 0, 0, "address not aligned"},
        {"patch=1,EE,00102002,word,1", PATCH_LINE_MALFORMED, 0, 0, 0, "address not aligned"},
        {"20100024 2409", PATCH_LINE_MALFORMED, 0, 0, 0, "bad RAW Code value"},
        {"[unclosed", PATCH_LINE_MALFORMED, 0, 0, 0, "section header"},
        {"hello world", PATCH_LINE_MALFORMED, 0, 0, 0, "not a patch line"},
    };
    for (const LineCase& c : cases) {
        PatchFile file = parse(c.text);
        ASSERT_EQ(file.lines.size(), std::strlen(c.text) ? 1u : 0u) << c.text;
        if (file.lines.empty())
            continue;
        const PatchLine& line = file.lines[0];
        EXPECT_EQ(line.kind, c.kind) << c.text << ": " << line.problem;
        EXPECT_EQ(line.problem.rfind(c.problem, 0), 0u) << c.text << ": " << line.problem;
        if (c.kind == PATCH_LINE_PNACH || c.kind == PATCH_LINE_RAW) {
            EXPECT_EQ(line.address, c.address) << c.text;
            EXPECT_EQ(line.width, c.width) << c.text;
            EXPECT_EQ(line.value, c.value) << c.text;
        }
    }
}

TEST(PatchFile, MalformedLinesKeepTheirNumbersAndStopNothing) {
    std::string text = "gametitle=x\r\npatch=1,EE,zz,word,0\r\n"
                       "patch=1,EE,00100024,word,24090063\r\n\r\nnonsense\npatch=0,EE,00102000,"
                       "byte,01";
    std::string with_zero = text;
    with_zero[3] = '\0';
    PatchFile file;
    EXPECT_EQ(patch_file_parse(with_zero.data(), with_zero.size(), &file), 3u);
    ASSERT_EQ(file.lines.size(), 6u);
    EXPECT_EQ(file.lines[0].kind, PATCH_LINE_MALFORMED);
    EXPECT_EQ(file.lines[1].kind, PATCH_LINE_MALFORMED);
    EXPECT_EQ(file.lines[1].number, 2u);
    EXPECT_EQ(file.lines[2].kind, PATCH_LINE_PNACH);
    EXPECT_EQ(file.lines[4].number, 5u);
    EXPECT_EQ(file.lines[4].kind, PATCH_LINE_MALFORMED);
    EXPECT_EQ(file.lines[5].kind, PATCH_LINE_PNACH);
    EXPECT_EQ(file.lines[5].ending, "");
    // Written back byte for byte, line ends and all.
    PatchFile plain = parse(text);
    EXPECT_EQ(patch_file_render(&plain), text);
}

TEST(PatchFile, RewriteChangesOnlyTheDigits) {
    PatchFile file = parse("patch=1,EE,20100024,extended,24090063 // note\n"
                           "20100024 0C040008 //raw\n"
                           "patch=0,ee,102000,byte,7f\n");
    patch_line_rewrite(&file.lines[0], 0x200040, 0x0C080010);
    patch_line_rewrite(&file.lines[1], 0x100100, 1);
    patch_line_rewrite(&file.lines[2], 0x10A2000, 0x80);
    EXPECT_EQ(patch_file_render(&file), "patch=1,EE,20200040,extended,0C080010 // note\n"
                                        "20100100 00000001 //raw\n"
                                        "patch=0,ee,10A2000,byte,80\n");
}

TEST(PatchApply, WritesLittleEndianInsideTheFileOnly) {
    std::unique_ptr<ImageCopy> copy = image_copy_load(sample.c_str());
    ASSERT_TRUE(copy);
    std::vector<uint8_t> data = copy->data;
    PatchFile file = parse("patch=1,EE,00100024,word,24090063\n"
                           "patch=0,EE,00102002,short,BEEF\n"
                           "00102001 000000AA\n"
                           "patch=2,EE,00102004,word,1\n"
                           "patch=1,EE,00200000,word,1\n"
                           "patch=1,EE,0010004E,short,1\n"
                           "patch=1,EE,00100050,word,1\n"
                           "bad line\n");
    ApplyReport report;
    patch_file_apply(&copy->image, data.data(), &file, &report);
    EXPECT_EQ(report.lines, 8u);
    EXPECT_EQ(report.applied, 4u);
    ASSERT_EQ(report.problems.size(), 4u);
    EXPECT_EQ(report.problems[0], "line 4: not applied: only patch=0 and patch=1 lines");
    EXPECT_EQ(report.problems[1], "line 5: address 00200000 is not in the file");
    EXPECT_EQ(report.problems[2], "line 7: address 00100050 is not in the file");
    EXPECT_EQ(report.problems[3].rfind("line 8: malformed", 0), 0u);
    const uint8_t word[] = {0x63, 0x00, 0x09, 0x24};
    EXPECT_EQ(std::memcmp(data.data() + 0x1024, word, 4), 0);
    EXPECT_EQ(data[0x3001], 0xAA);
    EXPECT_EQ(data[0x3002], 0xEF);
    EXPECT_EQ(data[0x3003], 0xBE);
    EXPECT_EQ(data[0x104E], 0x01);
    EXPECT_EQ(data[0x104F], 0x00);
    // Everything else is the file as it was.
    size_t differences = 0;
    for (size_t i = 0; i < data.size(); i++)
        differences += data[i] != copy->data[i];
    EXPECT_LE(differences, 8u);
}

// Standard error of the last run, a file per test: ctest runs the tests of this program side by
// side in one work folder.
std::string stderr_path() {
    return work + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".stderr";
}

int run(const std::string& command) {
    int status = std::system((command + " 2>" + stderr_path()).c_str());
#ifdef WEXITSTATUS
    return WEXITSTATUS(status);
#else
    return status;
#endif
}

TEST(PatchApplyCli, NothingAppliedLeavesNoOutputAndTheInputAlone) {
    std::string cli = QUARNEL_CLI;
    std::string out = work + "/applied.elf";
    std::string patches = work + "/outside.pnach";
    std::remove(out.c_str());
    write_all(patches, "patch=1,EE,00200000,word,1\r\npatch=1,EE,00000000,byte,1\r\n");
    std::string before = read_all(sample);
    EXPECT_EQ(run(cli + " apply --patches " + patches + " --output " + out + " " + sample), 1);
    EXPECT_FALSE(std::ifstream(out).good());
    EXPECT_NE(read_all(stderr_path()).find("nothing applied"), std::string::npos);

    write_all(patches, "patch=1,EE,00100024,word,24090063\r\npatch=1,EE,00200000,word,1\r\n");
    EXPECT_EQ(run(cli + " apply --patches " + patches + " --output " + out + " " + sample), 1);
    std::string applied = read_all(out);
    ASSERT_EQ(applied.size(), before.size());
    EXPECT_EQ(applied.substr(0x1024, 4), std::string("\x63\x00\x09\x24", 4));

    write_all(patches, "patch=1,EE,00100024,word,24090063\r\n");
    EXPECT_EQ(run(cli + " apply --patches " + patches + " --output " + out + " " + sample), 0);
    // Output onto the input is refused; the input is never changed.
    std::string copy = work + "/input.elf";
    write_all(copy, before);
    EXPECT_EQ(run(cli + " apply --patches " + patches + " --output " + copy + " " + copy), 2);
    EXPECT_EQ(read_all(copy), before);
    EXPECT_EQ(read_all(sample), before);
    EXPECT_EQ(run(cli + " apply --patches " + patches + " " + sample), 2);
}

TEST(PatchPort, SampleToItselfKeepsEveryAddress) {
    std::unique_ptr<ImageCopy> old_copy = image_copy_load(sample.c_str());
    std::unique_ptr<ImageCopy> new_copy = image_copy_load(sample.c_str());
    ASSERT_TRUE(old_copy && new_copy);
    std::string text = "gametitle=Sample (8917af82)\n[lives]\n"
                       "patch=1,EE,00100024,word,24090063\n"
                       "patch=1,EE,00100044,word,24420000\n"
                       "patch=1,EE,00100008,word,0C040008\n" // jal init_player over jal take_hit
                       "patch=0,EE,00102000,word,00000063\n"
                       "patch=1,EE,00300000,word,0\n"
                       "patch=1,EE,E0100000,extended,0\n";
    PatchFile file = parse(text);
    PortReport report;
    patch_file_port(old_copy.get(), new_copy.get(), &file, &report);
    std::string out = patch_file_render(&file);
    EXPECT_EQ(report.lines, 6u);
    EXPECT_EQ(report.counts[PORT_OK], 3u) << out;
    EXPECT_EQ(report.counts[PORT_NOT_IN_FILE], 1u);
    // The player record is zeros up to the end of its segment: four zero words fit only at
    // its start, which says nothing about the place, so the line is left to the user.
    EXPECT_EQ(report.counts[PORT_NO_SIGNATURE], 1u);
    EXPECT_EQ(report.counts[PORT_UNSUPPORTED], 1u);
    EXPECT_EQ(out.substr(0, 28), "gametitle=Sample (8917AF82)\n");
    EXPECT_NE(out.find("\npatch=1,EE,00100024,word,24090063\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\npatch=1,EE,00100008,word,0C040008\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\n// not ported (not in the file): patch=1,EE,00300000,word,0\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(port_report_summary(&report),
              "3 of 6 lines ported; 1 not in the file, 1 no unique signature, 1 unsupported");
}

// The walk-through of the README: lives.pnach from the sample to its second release, whose
// symbols put init_player at 00100034, take_hit at 0010004C and the player at 00103004. The
// jal over main_loop's call is left: main_loop is reached by a branch only, so it counts as
// the rest of _start, which gained a call before it; its words alone would have moved it.
TEST(PatchPortCli, SampleToItsSecondRelease) {
    std::string cli = QUARNEL_CLI;
    std::string dir = QUARNEL_SAMPLE_DIR;
    std::string out = work + "/lives_v2.pnach";
    std::remove(out.c_str());
    EXPECT_EQ(run(cli + " port --from " + dir + "/sample.elf --patches " + dir +
                  "/lives.pnach --output " + out + " " + dir + "/sample_v2.elf"),
              1);
    std::string text = read_all(out);
    EXPECT_NE(text.find("gametitle=Quarnel sample (21F9BF82)\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\npatch=1,EE,00100038,word,24090063 //li $t1, 99 (was li $t1, 3)\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\npatch=1,EE,00100058,word,24420000 //"), std::string::npos) << text;
    EXPECT_NE(text.find("\n// not ported (no unique signature): patch=0,EE,00102000,word,"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n// not ported (function changed): patch=1,EE,00100008,word,0C040008 "
                        "//jal init_player\r\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(read_all(stderr_path()),
              "2 of 4 lines ported; 1 no unique signature, 1 function changed\n");
    EXPECT_EQ(run(cli + " port --from " + dir + "/sample.elf --patches " + dir + "/missing.pnach " +
                  dir + "/sample_v2.elf"),
              2);
    EXPECT_EQ(run(cli + " port --patches " + dir + "/lives.pnach " + dir + "/sample_v2.elf"), 2);
}

// An ELF of one code segment at 00100000 (file offset 0x100) holding `words`.
std::vector<uint8_t> code_elf(const std::vector<uint32_t>& words) {
    std::vector<uint8_t> bytes(0x100 + 4 * words.size(), 0);
    auto put = [&](size_t at, uint32_t value, int size) {
        for (int i = 0; i < size; i++)
            bytes[at + i] = uint8_t(value >> (8 * i));
    };
    std::memcpy(bytes.data(),
                "\x7F"
                "ELF",
                4);
    put(24, 0x100000, 4); // entry
    put(28, 52, 4);       // program header table
    put(44, 1, 2);
    put(52, 1, 4);        // PT_LOAD
    put(56, 0x100, 4);    // offset
    put(60, 0x100000, 4); // address
    put(68, 4 * uint32_t(words.size()), 4);
    put(76, 5, 4); // read and execute
    for (size_t i = 0; i < words.size(); i++)
        put(0x100 + 4 * i, words[i], 4);
    return bytes;
}

// Function starts: the entry point, a jal target, an address a lui pair loads, and code after
// a return and padding that nothing branches to; the cold block a branch reaches is not one.
TEST(PatchPort, CodeEntries) {
    const uint32_t jr_ra = 0x03E00008, nop = 0;
    std::vector<uint8_t> elf = code_elf({
        0x0C04000D, nop,             // 100000 jal 100034
        0x3C040010, 0x24840050,      // 100008 lui a0 / addiu a0: 100050
        jr_ra,      nop,             // 100010
        0x24420001, jr_ra,      nop, // 100018 cold block, branched to from 100034
        nop,                         // 100024 padding
        0x24420002, jr_ra,      nop, // 100028 called by nothing
        0x1000FFF8, nop,             // 100034 b 100018
        jr_ra,      nop,             // 10003C
        0x24420003, jr_ra,      nop, // 100044 called by nothing
        0x24420004, jr_ra,      nop, // 100050 its address taken
    });
    std::unique_ptr<ImageCopy> copy = image_copy_from_bytes(elf.data(), uint32_t(elf.size()));
    ASSERT_TRUE(copy);
    std::vector<uint32_t> want = {0x100000, 0x100028, 0x100034, 0x100044, 0x100050};
    EXPECT_EQ(mips_code_entries(copy.get()), want);
}

TEST(PatchPort, SummaryNamesTheNumberOfPlaces) {
    PortReport report{};
    report.lines = 14;
    report.counts[PORT_OK] = 12;
    report.counts[PORT_AMBIGUOUS] = 1;
    report.counts[PORT_NOT_IN_FILE] = 1;
    report.fewest_places = report.most_places = 3;
    EXPECT_EQ(port_report_summary(&report),
              "12 of 14 lines ported; 1 not in the file, 1 ambiguous (3 places)");
}

TEST(PnachFile, SerialsAndNames) {
    EXPECT_EQ(pnach_serial_from_name("/games/SLUS_203.12"), "SLUS-20312");
    EXPECT_EQ(pnach_serial_from_name("C:\\ps2\\sces_500.51"), "SCES-50051");
    EXPECT_EQ(pnach_serial_from_name("sample.elf"), "");
    EXPECT_EQ(pnach_serial_from_name("SLUS_203.1"), "");
    const char cnf[] = "BOOT2 = cdrom0:\\SLUS_203.12;1\r\nVER = 1.00\r\nVMODE = NTSC\r\n";
    EXPECT_EQ(pnach_serial_from_system_cnf(cnf, sizeof cnf - 1), "SLUS-20312");
    EXPECT_EQ(pnach_serial_from_system_cnf(cnf, 20), "");
    EXPECT_EQ(pnach_serial_from_system_cnf("VER = 1\n", 8), "");
    EXPECT_EQ(pnach_file_name("SLUS-20312", 0x1A2B3C4D), "SLUS-20312_1A2B3C4D.pnach");
    EXPECT_EQ(pnach_file_name("", 0x0000BEEF), "0000BEEF.pnach");
}

TEST(PnachFile, OneSectionPerPattern) {
    std::unique_ptr<ImageCopy> copy = image_copy_load(sample.c_str());
    ASSERT_TRUE(copy);
    PatternList search{}, replace{};
    ASSERT_TRUE(pattern_list_parse("24090003\n2442FFFF\n12345678\n", &search));
    ASSERT_TRUE(pattern_list_parse("24090063\nxxxx0000\n00000000\n", &replace));
    MatchList list{nullptr, nullptr};
    list.tail = &list.head;
    // The matches the engine gives for the two instructions ("Big", word-aligned).
    ASSERT_TRUE(append_match(&list, search.values[0], search.masks[0], 0x100024, 0x1024));
    ASSERT_TRUE(append_match(&list, search.values[1], search.masks[1], 0x100044, 0x1044));
    std::string text;
    pnach_file_render(&search, &replace, list.head, &copy->image, false, "sample.elf", &text);
    EXPECT_EQ(text, "gametitle=sample.elf (8917AF82)\r\n"
                    "\r\n[Search pattern 1: 24090003]\r\n"
                    "patch=1,EE,00100024,word,24090063 //24090003\r\n"
                    "\r\n[Search pattern 2: 2442FFFF]\r\n"
                    "patch=1,EE,00100044,word,24420000 //2442FFFF\r\n"
                    "\r\n[Search pattern 3: 12345678]\r\n");
    free_matches(list.head);
    pattern_list_free(&search);
    pattern_list_free(&replace);
}

} // namespace
