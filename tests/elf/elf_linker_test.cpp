// The core's view of an ELF file that binutils linked, compared with binutils' own view of
// the same file: the segments that readelf lists, and the symbols that nm names.
#include <gtest/gtest.h>

#include <algorithm>
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
    uint32_t offset, vaddr, filesz;
    bool executable;
};

uint32_t hex_value(const std::string& text) {
    return uint32_t(std::stoul(text, nullptr, 16));
}

// The table lines of `readelf -lW`: Type Offset VirtAddr PhysAddr FileSiz MemSiz Flg Align,
// where Flg may itself hold blanks ("R E"). Entries other than LOAD are only counted.
std::vector<LoadSegment> readelf_loads(const std::string& path, int* other_entries) {
    std::vector<LoadSegment> loads;
    std::ifstream lines(path);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::vector<std::string> t;
        for (std::string token; fields >> token;) {
            t.push_back(token);
        }
        if (t.size() < 8 || t[1].rfind("0x", 0) != 0) {
            continue;
        }
        if (t[0] != "LOAD") {
            (*other_entries)++;
            continue;
        }
        bool executable = false;
        for (size_t k = 6; k + 1 < t.size(); k++) {
            executable = executable || t[k].find('E') != std::string::npos;
        }
        loads.push_back({hex_value(t[1]), hex_value(t[2]), hex_value(t[4]), executable});
    }
    return loads;
}

TEST(LinkedElf, RangeSetsAreReadelfsLoadSegmentsAndMatchesLandOnNmsSymbols) {
    ElfImage* image = read_elf((fixtures + "/segments.elf").c_str());
    ASSERT_NE(image, nullptr);
    int other_entries = 0;
    std::vector<LoadSegment> loads =
        readelf_loads(fixtures + "/segments.readelf.txt", &other_entries);
    ASSERT_EQ(loads.size(), 4u)
        << "the fixture is only worth something in the shape it was linked for";
    ASSERT_GE(other_entries, 1);
    for (int set = 0; set < 2; set++) {
        const RangeSet& ranges = image->ranges[set];
        std::vector<LoadSegment> expected;
        std::copy_if(loads.begin(), loads.end(), std::back_inserter(expected),
                     [&](const LoadSegment& load) { return load.executable == (set == 0); });
        ASSERT_EQ(ranges.count, expected.size()) << "set " << set;
        for (uint32_t k = 0; k < ranges.count; k++) {
            SCOPED_TRACE(testing::Message() << "set " << set << " #" << k);
            EXPECT_EQ(ranges.file_offset[k], expected[k].offset);
            EXPECT_EQ(ranges.file_size[k], expected[k].filesz);
            EXPECT_EQ(ranges.address_delta[k], uint32_t(expected[k].vaddr - expected[k].offset));
        }
    }

    std::map<std::string, uint32_t> symbols;
    std::ifstream nm(fixtures + "/segments.nm.txt");
    for (std::string address, kind, name; nm >> address >> kind >> name;) {
        symbols[name] = hex_value(address);
    }
    struct Case {
        const char* pattern;
        bool executable, swap;
        uint32_t step;
        std::vector<std::string> at;
    };
    const Case cases[] = {
        // lui $t7, 0x1234 written as the instruction word, and as the file's bytes.
        {"3C0F1234", true, false, 4, {"boot_marker"}},
        {"34120F3C", true, true, 4, {"boot_marker"}},
        // A second executable segment with its own address delta, holding the word twice.
        {"3C0Exxxx ; any lui $t6", true, false, 4, {"hot_marker", "hot_twice"}},
        {"CAFEF00D", false, false, 4, {"data_marker"}},
        {"CAFEF00D", true, false, 4, {}},
        // Off word boundaries "big" compares the little-endian word at the position: bytes at
        // a half-word boundary, and in a segment whose file offset is odd.
        {"EFBEADDE", false, false, 2, {"odd_marker"}},
        {"EFBEADDE", false, false, 4, {}},
        {"4C4E5251 ; QRNL", false, false, 1, {"text_marker"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.pattern << (c.executable ? " exec" : " data") << " step " << c.step);
        std::vector<uint32_t> expected, found;
        for (const std::string& name : c.at) {
            ASSERT_TRUE(symbols.count(name)) << name;
            expected.push_back(symbols[name]);
        }
        PatternList list{};
        ASSERT_TRUE(pattern_list_parse(c.pattern, &list));
        MatchList* matches =
            find_matches(image, c.executable, c.swap, c.step, list.count, list.values, list.masks);
        ASSERT_NE(matches, nullptr);
        for (const Match* m = matches->head; m; m = m->next) {
            found.push_back(m->address);
        }
        free_matches(matches->head);
        pattern_list_free(&list);
        EXPECT_EQ(found, expected);
    }
    free_elf_image(image);
}

} // namespace
