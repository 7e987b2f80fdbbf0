// The hostile ELF corpus (made by make_hostile_elfs.py into the build folder): every file must
// be refused or load with sane segments, then survive a search in every way, with no read past
// the data and in time proportional to its size; quarnel-cli must agree.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/elf_image.h"
#include "core/file_io.h"
#include "hostile_support.h"

namespace {

struct SegmentCheck {
    unsigned set, index;
    uint32_t offset, size, delta;
};

struct HostileCase {
    std::string name;
    std::string expect; // "refuse", "load" or "any"
    uint32_t exec_count = 0, nonexec_count = 0;
    std::vector<SegmentCheck> segments;
};

// Shown by the test framework in place of the record's bytes.
void PrintTo(const HostileCase& c, std::ostream* out) {
    *out << c.name << " (" << c.expect << ")";
}

std::string corpus_path(const std::string& name) {
    return std::string(HOSTILE_DIR) + "/" + name + ".elf";
}

std::vector<HostileCase> read_manifest() {
    std::vector<HostileCase> cases;
    std::ifstream in(std::string(HOSTILE_DIR) + "/manifest.txt");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        HostileCase c;
        words >> c.name >> c.expect;
        if (c.expect == "load") {
            words >> c.exec_count >> c.nonexec_count;
            std::string check;
            while (words >> check) {
                SegmentCheck s{};
                sscanf(check.c_str(), "%u:%u:%x:%x:%x", &s.set, &s.index, &s.offset, &s.size,
                       &s.delta);
                c.segments.push_back(s);
            }
        }
        if (!c.name.empty())
            cases.push_back(c);
    }
    return cases;
}

uint64_t file_size(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

// Time allowed for loading and searching a file every way: a fixed allowance plus a cost per
// byte far above what a linear pass needs, far below what a pass per segment would take.
double time_budget(uint64_t bytes) {
    return (1.0 + double(bytes) * 2e-6) * time_factor();
}

class HostileElf : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileElf, LoadsOrIsRefusedThenSearchesInsideTheFile) {
    const HostileCase& c = GetParam();
    std::string path = corpus_path(c.name);
    uint64_t bytes = file_size(path);
    ASSERT_TRUE(bytes > 0 || c.name == "empty") << path << " missing; run the corpus script";

    auto start = std::chrono::steady_clock::now();
    ElfImage* image = read_elf(path.c_str());
    if (c.expect == "refuse") {
        EXPECT_EQ(image, nullptr);
        free_elf_image(image);
        // Refusing must not depend on reading the file: the sparse giants are refused at once.
        EXPECT_LT(seconds_since(start), 1.0 * time_factor());
        return;
    }
    if (c.expect == "load") {
        ASSERT_NE(image, nullptr);
    }
    if (image == nullptr)
        return;

    EXPECT_EQ(image->size, bytes);
    for (unsigned set = 0; set < 2; set++) {
        const RangeSet& r = image->ranges[set];
        // A segment that starts past the end keeps its offset with no bytes: nothing to read.
        for (uint32_t k = 0; k < r.count; k++) {
            if (r.file_size[k] > 0) {
                ASSERT_LE(uint64_t(r.file_offset[k]) + r.file_size[k], image->size)
                    << "segment " << k << " of set " << set << " reaches past the file";
            }
        }
    }
    if (c.expect == "load") {
        EXPECT_EQ(image->ranges[0].count, c.exec_count);
        EXPECT_EQ(image->ranges[1].count, c.nonexec_count);
        for (const SegmentCheck& s : c.segments) {
            const RangeSet& r = image->ranges[s.set];
            ASSERT_LT(s.index, r.count);
            EXPECT_EQ(r.file_offset[s.index], s.offset) << "set " << s.set << " #" << s.index;
            EXPECT_EQ(r.file_size[s.index], s.size) << "set " << s.set << " #" << s.index;
            EXPECT_EQ(r.address_delta[s.index], s.delta) << "set " << s.set << " #" << s.index;
        }
    }

    // The literal engine walks every segment word by word; on the 65535-entry files that is
    // the slow path this test guards the fast engine against, so it is only compared on the
    // small files.
    SearchTotals totals = search_every_way(image, bytes < 65536);
    free_elf_image(image);
    double elapsed = seconds_since(start);
    EXPECT_LT(elapsed, time_budget(bytes))
        << totals.matches << " matches, " << totals.text_bytes << " bytes of text";
}

std::string case_name(const testing::TestParamInfo<HostileCase>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileElf, testing::ValuesIn(read_manifest()), case_name);

// The command line must say the same: refused files exit 2 with "Invalid ELF file" and print
// nothing; loaded files run the search (0 or 1) and print a result.
TEST(HostileElfCli, RefusesOrSearchesEveryFile) {
    if (!cli_available())
        GTEST_SKIP() << "quarnel-cli is not built";
    ScratchDir scratch;
    std::string patterns = scratch.file("search.txt");
    write_whole_file(patterns, "3C0F0040\r\n400F003C xx\r\n");
    for (const HostileCase& c : read_manifest()) {
        SCOPED_TRACE(c.name);
        std::string path = corpus_path(c.name);
        CliRun run =
            run_cli({"--format", "address", "--align", "byte", "--search", patterns, path});
        if (c.expect == "refuse") {
            EXPECT_EQ(run.exit_code, 2);
            EXPECT_EQ(run.err, "Invalid ELF file\n");
            EXPECT_EQ(run.out, "");
        } else if (c.expect == "load") {
            EXPECT_TRUE(run.exit_code == 0 || run.exit_code == 1) << run.err;
            EXPECT_EQ(run.err, "");
            EXPECT_EQ(run.exit_code == 1, run.out == "No matches found");
        } else {
            EXPECT_TRUE(run.exit_code >= 0 && run.exit_code <= 2) << run.err;
        }
    }
}

// Files that are not regular files at all.
TEST(HostileElfPaths, FoldersAndMissingFilesAreRefused) {
    ScratchDir scratch;
    EXPECT_EQ(read_elf(scratch.path.c_str()), nullptr);
    EXPECT_EQ(read_elf(scratch.file("missing.elf").c_str()), nullptr);
    EXPECT_EQ(read_elf(""), nullptr);
}

// A named pipe (dropped on the window, or given to quarnel-cli) must be refused at once: opening
// it for reading used to wait for a writer that never comes, freezing the caller.
TEST(HostileElfPaths, ANamedPipeIsRefusedWithoutWaitingForAWriter) {
    ScratchDir scratch;
    std::string pipe_path = scratch.file("pipe.elf");
    ASSERT_EQ(mkfifo(pipe_path.c_str(), 0600), 0);
    for (int attempt = 0; attempt < 2; attempt++) {
        SCOPED_TRACE(attempt == 0 ? "read_elf" : "load_file");
        ReportCatcher catcher;
        std::future<bool> refused = std::async(std::launch::async, [&] {
            if (attempt == 0) {
                ElfImage* image = read_elf(pipe_path.c_str());
                free_elf_image(image);
                return image == nullptr;
            }
            char* text = load_file(pipe_path.c_str());
            free(text);
            return text == nullptr;
        });
        if (refused.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            // Let the stuck reader go: a writer that comes and leaves gives it end of file.
            close(open(pipe_path.c_str(), O_WRONLY | O_NONBLOCK));
            ADD_FAILURE() << "waited for a writer";
        }
        EXPECT_TRUE(refused.get());
    }
}

} // namespace
