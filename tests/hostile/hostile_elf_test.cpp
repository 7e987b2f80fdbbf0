// The hostile ELF corpus (make_hostile_elfs.py): each file is refused, or loads with sane segments
// and survives every kind of search with no read past the data, in time linear in its size.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <future>

#include <gtest/gtest.h>

#include "core/elf_image.h"
#include "core/file_io.h"
#include "core/match.h"
#include "core/pattern.h"
#include "core/result_format.h"
#include "hostile_support.h"

namespace {

struct HostileCase {
    std::string name, expect; // a manifest line: see make_hostile_elfs.py
};

// Keeps the test list readable: gtest would print the record's raw bytes.
void PrintTo(const HostileCase& c, std::ostream* out) {
    *out << c.name << " " << c.expect;
}

std::vector<HostileCase> read_manifest() {
    std::vector<HostileCase> cases;
    std::ifstream in(std::string(HOSTILE_DIR) + "/manifest.txt");
    for (std::string name, expect; in >> name && std::getline(in >> std::ws, expect);)
        cases.push_back({name, expect});
    return cases;
}

bool same_matches(const Match* a, const Match* b) {
    for (; a != nullptr && b != nullptr; a = a->next, b = b->next)
        if (a->value != b->value || a->offset != b->offset || a->address != b->address)
            return false;
    return a == b;
}

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

// Every range set, byte order and alignment, searching and patching. Patterns of 4, 5 and 7
// bytes, mostly free, crowd matches against segment ends, where reads could pass the file.
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

class HostileElf : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileElf, LoadsOrIsRefusedThenSearchesInsideTheFile) {
    const HostileCase& c = GetParam();
    const bool refuse = c.expect == "refuse";
    std::string path = std::string(HOSTILE_DIR) + "/" + c.name + ".elf";
    std::error_code missing;
    uint64_t bytes = std::filesystem::file_size(path, missing);
    ASSERT_FALSE(missing) << path;
#ifdef QUARNEL_CLI
    { // The command line agrees: a refused file exits 2 with the message alone.
        ScratchDir dir;
        write_whole_file(dir.file("search.txt"), "3C0F0040\r\n400F003C xx\r\n");
        std::string command = "cd '" + dir.path +
                              "' && '" QUARNEL_CLI
                              "' --format address --align byte --search search.txt '" +
                              path + "' >out 2>err";
        int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        std::string out = read_whole_file(dir.file("out")), err = read_whole_file(dir.file("err"));
        // "quarnel-cli: PATH: Invalid ELF file (REASON)" on one line.
        if (refuse)
            EXPECT_EQ(err.rfind("quarnel-cli: " + path + ": Invalid ELF file (", 0), 0u) << err;
        else
            EXPECT_EQ(err, "");
        EXPECT_EQ(WEXITSTATUS(status), refuse ? 2 : out == "No matches found" ? 1 : 0);
        EXPECT_TRUE(!refuse || out.empty()) << "a refused file printed " << out;
    }
#endif
    auto start = std::chrono::steady_clock::now();
    ElfImage* image = read_elf(path.c_str());
    if (refuse) {
        EXPECT_EQ(image, nullptr);
        // By the header or the size alone: the sparse giants must not be read.
        EXPECT_LT(seconds_since(start), 1.0 * time_factor());
        return;
    }
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->size, bytes);
    // A segment that starts past the end keeps its offset with no bytes: nothing to read.
    for (const RangeSet& r : image->ranges)
        for (uint32_t k = 0; k < r.count; k++)
            ASSERT_TRUE(r.file_size[k] == 0 ||
                        uint64_t(r.file_offset[k]) + r.file_size[k] <= image->size)
                << "segment " << k << " reaches past the file";
    // The image in the manifest's terms: the counts, then each segment the manifest names.
    std::string got = "load " + std::to_string(image->ranges[0].count) + " " +
                      std::to_string(image->ranges[1].count);
    std::istringstream checks(c.expect);
    unsigned set, index;
    for (std::string check; checks >> check;)
        if (sscanf(check.c_str(), "%u:%u:", &set, &index) == 2) {
            const RangeSet& r = image->ranges[set % 2];
            char text[64] = " missing";
            if (index < r.count)
                snprintf(text, sizeof text, " %u:%u:%x:%x:%x", set, index, r.file_offset[index],
                         r.file_size[index], r.address_delta[index]);
            got += text;
        }
    EXPECT_EQ(got, c.expect);
    // The literal engine walks every segment word by word, too slow for the 65535-entry files.
    search_every_way(image, bytes < 65536);
    free_elf_image(image);
    // A fixed allowance plus a cost per byte far above one linear pass, far below one per segment.
    EXPECT_LT(seconds_since(start), (1.0 + double(bytes) * 2e-6) * time_factor());
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileElf, testing::ValuesIn(read_manifest()),
                         [](const testing::TestParamInfo<HostileCase>& info) {
                             return info.param.name;
                         });

// Refused at once, as ELF and as pattern file: a named pipe once froze the caller waiting for a
// writer; the sparse files are too big to hold (the second's size needs 33 bits) and not read.
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
