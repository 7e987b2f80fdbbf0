// The core's view of an ELF file that binutils linked, compared with binutils' own view of
// the same file: the segments that readelf lists, and the symbols that nm names.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/elf_image.h"
#include "core/match.h"
#include "core/pattern.h"

namespace {

const std::string fixtures = QUARNEL_ELF_FIXTURES;

uint32_t hex(const std::string& text) {
    return uint32_t(std::stoul(text, nullptr, 16));
}

TEST(LinkedElf, RangeSetsAreReadelfsLoadSegmentsAndMatchesLandOnNmsSymbols) {
    ElfImage* image = read_elf((fixtures + "/segments.elf").c_str());
    ASSERT_NE(image, nullptr);
    // Table lines of `readelf -lW`: Type Offset VirtAddr PhysAddr FileSiz MemSiz Flg Align, where
    // Flg may hold blanks ("R E"). Each LOAD goes to its set as {offset, size, delta}.
    std::vector<std::array<uint32_t, 3>> loads[2];
    int other_entries = 0;
    std::ifstream readelf(fixtures + "/segments.readelf.txt");
    for (std::string line; std::getline(readelf, line);) {
        std::istringstream fields(line);
        std::vector<std::string> t{std::istream_iterator<std::string>(fields), {}};
        if (t.size() < 8 || t[1].rfind("0x", 0) != 0)
            continue;
        bool executable = std::any_of(t.begin() + 6, t.end() - 1, [](const std::string& flag) {
            return flag.find('E') != std::string::npos;
        });
        if (t[0] != "LOAD")
            other_entries++;
        else
            loads[executable ? 0 : 1].push_back({hex(t[1]), hex(t[4]), hex(t[2]) - hex(t[1])});
    }
    ASSERT_EQ(loads[0].size() + loads[1].size(), 4u) << "the fixture's shape is what it tests";
    ASSERT_GE(other_entries, 1);
    for (int set = 0; set < 2; set++) {
        const RangeSet& r = image->ranges[set];
        std::vector<std::array<uint32_t, 3>> found;
        for (uint32_t k = 0; k < r.count; k++)
            found.push_back({r.file_offset[k], r.file_size[k], r.address_delta[k]});
        EXPECT_EQ(found, loads[set]) << "set " << set;
    }

    std::map<std::string, uint32_t> symbols;
    std::ifstream nm(fixtures + "/segments.nm.txt");
    for (std::string address, kind, name; nm >> address >> kind >> name;)
        symbols[name] = hex(address);
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
        for (const std::string& name : c.at)
            expected.push_back(symbols.at(name));
        PatternList list{};
        ASSERT_TRUE(pattern_list_parse(c.pattern, &list));
        MatchList* matches =
            find_matches(image, c.executable, c.swap, c.step, list.count, list.values, list.masks);
        ASSERT_NE(matches, nullptr);
        for (const Match* m = matches->head; m; m = m->next)
            found.push_back(m->address);
        free_matches(matches->head);
        pattern_list_free(&list);
        EXPECT_EQ(found, expected);
    }
    free_elf_image(image);
}

} // namespace
