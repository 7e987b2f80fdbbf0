// The core's view of an ELF file that binutils linked, compared with binutils' own view of
// the same file: the segments that readelf lists, and the symbols that nm names.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/elf_image.h"
#include "core/match.h"
#include "core/pattern.h"

namespace {

const std::string fixtures = QUARNEL_ELF_FIXTURES;

struct LoadSegment {
    uint32_t offset;
    uint32_t vaddr;
    uint32_t filesz;
    bool executable;
};

std::string file_read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

uint32_t hex_value(const std::string& text) {
    return uint32_t(std::stoul(text, nullptr, 16));
}

// The LOAD lines of `readelf -lW`: Type Offset VirtAddr PhysAddr FileSiz MemSiz Flg Align,
// where Flg may itself hold blanks ("R E").
std::vector<LoadSegment> readelf_loads(const std::string& listing, int* other_entries) {
    std::vector<LoadSegment> loads;
    std::istringstream lines(listing);
    std::string line;
    bool in_table = false;
    *other_entries = 0;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> tokens;
        for (std::string token; fields >> token;) {
            tokens.push_back(token);
        }
        if (tokens.empty()) {
            in_table = false;
            continue;
        }
        if (tokens[0] == "Type") {
            in_table = true;
            continue;
        }
        if (!in_table || tokens.size() < 8) {
            continue;
        }
        if (tokens[0] != "LOAD") {
            (*other_entries)++;
            continue;
        }
        bool executable = false;
        for (size_t k = 6; k + 1 < tokens.size(); k++) {
            executable = executable || tokens[k].find('E') != std::string::npos;
        }
        loads.push_back(
            {hex_value(tokens[1]), hex_value(tokens[2]), hex_value(tokens[4]), executable});
    }
    return loads;
}

std::map<std::string, uint32_t> nm_symbols(const std::string& listing) {
    std::map<std::string, uint32_t> symbols;
    std::istringstream lines(listing);
    std::string address, kind, name;
    while (lines >> address >> kind >> name) {
        symbols[name] = hex_value(address);
    }
    return symbols;
}

// Every match address of one pattern text over the image.
std::vector<uint32_t> match_addresses(const ElfImage* image, const char* text, bool executable,
                                      bool swap, uint32_t step) {
    std::vector<uint32_t> addresses;
    PatternList list{};
    if (!pattern_list_parse(text, &list)) {
        ADD_FAILURE() << "pattern not accepted: " << text;
        return addresses;
    }
    MatchList* found =
        find_matches(image, executable, swap, step, list.count, list.values, list.masks);
    if (!found) {
        ADD_FAILURE() << "scan failed";
    } else {
        for (const Match* m = found->head; m; m = m->next) {
            addresses.push_back(m->address);
        }
        free_matches(found->head);
    }
    pattern_list_free(&list);
    return addresses;
}

class LinkedElf : public ::testing::Test {
  protected:
    void SetUp() override {
        image = read_elf((fixtures + "/segments.elf").c_str());
        ASSERT_NE(image, nullptr);
        loads = readelf_loads(file_read(fixtures + "/segments.readelf.txt"), &other_entries);
        symbols = nm_symbols(file_read(fixtures + "/segments.nm.txt"));
        // The fixture is only worth something when it has the shape it was linked for.
        ASSERT_EQ(loads.size(), 4u);
        ASSERT_GE(other_entries, 1);
    }
    void TearDown() override {
        free_elf_image(image);
    }

    uint32_t symbol(const std::string& name) {
        auto it = symbols.find(name);
        EXPECT_NE(it, symbols.end()) << name;
        return it == symbols.end() ? 0 : it->second;
    }

    ElfImage* image = nullptr;
    std::vector<LoadSegment> loads;
    int other_entries = 0;
    std::map<std::string, uint32_t> symbols;
};

TEST_F(LinkedElf, RangeSetsAreReadelfsLoadSegmentsSplitByExecutePermission) {
    for (int set = 0; set < 2; set++) {
        const RangeSet& ranges = image->ranges[set];
        std::vector<LoadSegment> expected;
        for (const LoadSegment& load : loads) {
            if (load.executable == (set == 0)) {
                expected.push_back(load);
            }
        }
        ASSERT_EQ(ranges.count, expected.size()) << "set " << set;
        for (uint32_t k = 0; k < ranges.count; k++) {
            EXPECT_EQ(ranges.file_offset[k], expected[k].offset) << "set " << set << " #" << k;
            EXPECT_EQ(ranges.file_size[k], expected[k].filesz) << "set " << set << " #" << k;
            EXPECT_EQ(ranges.address_delta[k], uint32_t(expected[k].vaddr - expected[k].offset))
                << "set " << set << " #" << k;
        }
    }
}

TEST_F(LinkedElf, MatchesLandOnTheSymbolsThatNmNames) {
    struct Case {
        const char* pattern;
        bool executable;
        bool swap;
        uint32_t step;
        std::vector<std::string> at;
    };
    const Case cases[] = {
        // lui $t7, 0x1234 written as the instruction word, and as the file's bytes.
        {"3C0F1234", true, false, 4, {"boot_marker"}},
        {"34120F3C", true, true, 4, {"boot_marker"}},
        // A second executable segment with its own address delta, holding the word twice.
        {"3C0E5678", true, false, 4, {"hot_marker", "hot_twice"}},
        {"3C0Exxxx ; any lui $t6", true, false, 4, {"hot_marker", "hot_twice"}},
        {"CAFEF00D", false, false, 4, {"data_marker"}},
        {"CAFEF00D", true, false, 4, {}},
        {"3C0F1234", false, false, 4, {}},
        // Off word boundaries "big" compares the little-endian word at the position: bytes at
        // a half-word boundary, and in a segment whose file offset is odd.
        {"EFBEADDE", false, false, 2, {"odd_marker"}},
        {"EFBEADDE", false, false, 4, {}},
        {"4C4E5251 ; QRNL", false, false, 1, {"text_marker"}},
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> expected;
        for (const std::string& name : c.at) {
            expected.push_back(symbol(name));
        }
        EXPECT_EQ(match_addresses(image, c.pattern, c.executable, c.swap, c.step), expected)
            << c.pattern << (c.executable ? " exec" : " data") << " step " << c.step;
    }
}

} // namespace
