// The hostile ELF corpus (made by make_hostile_elfs.py into the build folder): every file must
// be refused or load with sane segments, then survive a search in every way, with no read past
// the data and in time proportional to its size.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include <gtest/gtest.h>

#include "core/elf_image.h"
#include "core/file_io.h"
#include "core/match.h"
#include "core/pattern.h"
#include "core/result_format.h"
#include "hostile_support.h"

namespace {

struct HostileCase {
    std::string name;
    bool refuse = false;
    uint32_t counts[2] = {0, 0};                   // executable, other
    std::vector<std::array<uint32_t, 5>> segments; // set, index, offset, size, address delta
};

// Keeps the test list readable: gtest would print the record's raw bytes.
void PrintTo(const HostileCase& c, std::ostream* out) {
    *out << c.name << (c.refuse ? " (refuse)" : " (load)");
}

std::vector<HostileCase> read_manifest() {
    std::vector<HostileCase> cases;
    std::ifstream in(std::string(HOSTILE_DIR) + "/manifest.txt");
    std::string line, expect, check;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        HostileCase c;
        words >> c.name >> expect >> c.counts[0] >> c.counts[1];
        c.refuse = expect == "refuse";
        while (words >> check) {
            auto& s = c.segments.emplace_back();
            sscanf(check.c_str(), "%u:%u:%x:%x:%x", &s[0], &s[1], &s[2], &s[3], &s[4]);
        }
        if (!c.name.empty())
            cases.push_back(c);
    }
    return cases;
}

bool same_matches(const Match* a, const Match* b) {
    for (; a != nullptr && b != nullptr; a = a->next, b = b->next)
        if (a->value != b->value || a->offset != b->offset || a->address != b->address)
            return false;
    return a == b;
}

// One scan, compared with the literal engine when `compare`, then rendered in both formats that
// fit the patterns.
void scan_and_render(const ElfImage* image, const PatternList& search, const PatternList* replace,
                     bool executable, bool swap, uint32_t step, bool compare) {
    SCOPED_TRACE(testing::Message()
                 << "executable " << executable << " swap " << swap << " step " << step);
    MatchList* list =
        find_matches(image, executable, swap, step, search.count, search.values, search.masks);
    ASSERT_NE(list, nullptr);
    Match* head = list->head;
    if (compare) {
        MatchList* literal = find_matches_reference(image, executable, swap, step, search.count,
                                                    search.values, search.masks);
        ASSERT_NE(literal, nullptr);
        EXPECT_TRUE(same_matches(head, literal->head));
        free_matches(literal->head);
    }
    for (const Match* m = head; m != nullptr; m = m->next)
        EXPECT_LE(uint64_t(m->offset) + m->value->length, image->size) << "runs past the file";
    for (ResultFormat format :
         {replace ? FORMAT_PNACH : FORMAT_ADDRESS, replace ? FORMAT_RAW_CODE : FORMAT_OFFSET}) {
        ResultBuffer buffer;
        ASSERT_TRUE(result_buffer_init(&buffer));
        EXPECT_TRUE(result_render(&buffer, &search, replace, head, image, swap, format));
        EXPECT_EQ(strlen(buffer.text), buffer.length);
        result_buffer_free(&buffer);
    }
    free_matches(head);
}

// Every range set, byte order and alignment, searching and patching. The pattern lengths (4, 5
// and 7 bytes, mostly free) crowd matches against the ends of segments, where the comparison
// and the printed words could reach past the file.
void search_every_way(const ElfImage* image, bool compare) {
    PatternList search{}, patch{}, replace{};
    EXPECT_TRUE(pattern_list_parse("3C0F0040\r\n400F003C xx\r\nxxxxxxxxxxxx*10x\r\n*10xxxxxxx\r\n",
                                   &search));
    EXPECT_TRUE(pattern_list_parse("3C0F0040\r\n*10xxxxxxx xxxxxxxx\r\n", &patch));
    EXPECT_TRUE(pattern_list_parse("3C0F0041\r\n12345678 9ABCDEF0\r\n", &replace));
    for (bool executable : {true, false})
        for (bool swap : {false, true}) {
            for (uint32_t step : {1u, 2u, 4u})
                scan_and_render(image, search, nullptr, executable, swap, step, compare);
            scan_and_render(image, patch, &replace, executable, swap, 4, compare);
        }
    pattern_list_free(&search);
    pattern_list_free(&patch);
    pattern_list_free(&replace);
}

// quarnel-cli must agree: a refused file exits 2 with "Invalid ELF file" and prints nothing; the
// others are searched (exit 0 or 1).
void expect_cli_agrees([[maybe_unused]] const HostileCase& c,
                       [[maybe_unused]] const std::string& path) {
#ifdef QUARNEL_CLI
    ScratchDir dir;
    write_whole_file(dir.file("search.txt"), "3C0F0040\r\n400F003C xx\r\n");
    std::string command = std::string(QUARNEL_CLI) + " --format address --align byte --search '" +
                          dir.file("search.txt") + "' '" + path + "' >'" + dir.file("out") +
                          "' 2>'" + dir.file("err") + "'";
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    std::string out = read_whole_file(dir.file("out")), err = read_whole_file(dir.file("err"));
    if (c.refuse) {
        EXPECT_EQ(WEXITSTATUS(status), 2);
        EXPECT_EQ(err, "Invalid ELF file\n");
        EXPECT_EQ(out, "");
    } else {
        EXPECT_EQ(err, "");
        EXPECT_EQ(WEXITSTATUS(status), out == "No matches found" ? 1 : 0);
    }
#endif
}

class HostileElf : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileElf, LoadsOrIsRefusedThenSearchesInsideTheFile) {
    const HostileCase& c = GetParam();
    std::string path = std::string(HOSTILE_DIR) + "/" + c.name + ".elf";
    std::error_code missing;
    uint64_t bytes = std::filesystem::file_size(path, missing);
    ASSERT_FALSE(missing) << path;
    expect_cli_agrees(c, path);

    auto start = std::chrono::steady_clock::now();
    ElfImage* image = read_elf(path.c_str());
    if (c.refuse) {
        EXPECT_EQ(image, nullptr);
        // By the header or the size alone: the sparse giants must not be read.
        EXPECT_LT(seconds_since(start), 1.0 * time_factor());
        return;
    }
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->size, bytes);
    for (unsigned set = 0; set < 2; set++) {
        const RangeSet& r = image->ranges[set];
        EXPECT_EQ(r.count, c.counts[set]);
        // A segment that starts past the end keeps its offset with no bytes: nothing to read.
        for (uint32_t k = 0; k < r.count; k++)
            ASSERT_TRUE(r.file_size[k] == 0 ||
                        uint64_t(r.file_offset[k]) + r.file_size[k] <= image->size)
                << "segment " << k << " of set " << set << " reaches past the file";
    }
    for (const auto& [set, index, offset, size, delta] : c.segments) {
        SCOPED_TRACE(testing::Message() << "set " << set << " #" << index);
        const RangeSet& r = image->ranges[set];
        ASSERT_LT(index, r.count);
        EXPECT_EQ(r.file_offset[index], offset);
        EXPECT_EQ(r.file_size[index], size);
        EXPECT_EQ(r.address_delta[index], delta);
    }
    // The literal engine walks every segment word by word, the slow path the fast engine must
    // avoid on the 65535-entry files; it is compared on the small files only.
    search_every_way(image, bytes < 65536);
    free_elf_image(image);
    // A fixed allowance plus a cost per byte far above a linear pass, far below a pass per
    // segment.
    EXPECT_LT(seconds_since(start), (1.0 + double(bytes) * 2e-6) * time_factor());
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileElf, testing::ValuesIn(read_manifest()),
                         [](const testing::TestParamInfo<HostileCase>& info) {
                             return info.param.name;
                         });

// Paths that hold no usable file are refused at once, as ELF and as pattern file. A named pipe
// once froze the caller: opening it for reading waited for a writer that never comes. The sparse
// files cannot be held (the second's size does not even fit 32 bits) and must not be read.
TEST(HostilePaths, PipesFoldersAndFilesTooBigToHoldAreRefusedAtOnce) {
    ScratchDir dir;
    std::string pipe = dir.file("pipe");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::vector<std::string> paths{pipe, dir.path, dir.file("missing"), ""};
    for (uint64_t size : {uint64_t(1) << 31, (uint64_t(1) << 32) + 16}) {
        paths.push_back(dir.file(std::to_string(size)));
        write_whole_file(paths.back(), "DEADBEEF\r\n");
        ASSERT_EQ(truncate(paths.back().c_str(), off_t(size)), 0);
    }
    for (const std::string& path : paths)
        for (bool as_elf : {true, false}) {
            SCOPED_TRACE(path + (as_elf ? " as ELF" : " as pattern file"));
            ReportCatcher catcher;
            auto start = std::chrono::steady_clock::now();
            std::future<bool> refused = std::async(std::launch::async, [&] {
                if (as_elf)
                    return read_elf(path.c_str()) == nullptr;
                char* text = load_file(path.c_str());
                free(text);
                return text == nullptr;
            });
            if (refused.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
                // Let the stuck reader go: a writer that comes and leaves gives it end of file.
                close(open(pipe.c_str(), O_WRONLY | O_NONBLOCK));
                ADD_FAILURE() << "waited for a writer";
            }
            EXPECT_TRUE(refused.get());
            EXPECT_LT(seconds_since(start), 1.0 * time_factor());
            // read_elf leaves the message to its caller; load_file reports once.
            EXPECT_EQ(catcher.messages.size(), as_elf ? 0u : 1u);
        }
}

} // namespace
