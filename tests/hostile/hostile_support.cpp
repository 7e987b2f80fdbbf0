#include "hostile_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "core/match.h"
#include "core/report.h"
#include "core/result_format.h"
#include "core/search_rules.h"

ScratchDir::ScratchDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/quarnel-hostile-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    if (mkdtemp(name.data()) != nullptr)
        path = name.data();
}

ScratchDir::~ScratchDir() {
    if (!path.empty())
        std::system(("rm -rf '" + path + "'").c_str());
}

std::string read_whole_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void write_whole_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::vector<std::string> list_dir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool cli_available() {
#ifdef QUARNEL_CLI
    return access(QUARNEL_CLI, X_OK) == 0;
#else
    return false;
#endif
}

CliRun run_cli(const std::vector<std::string>& args, const std::string& input) {
    CliRun run{-1, "", ""};
#ifdef QUARNEL_CLI
    ScratchDir scratch;
    std::string in_path = scratch.file("in"), out_path = scratch.file("out"),
                err_path = scratch.file("err");
    write_whole_file(in_path, input);
    pid_t child = fork();
    if (child == 0) {
        int in = open(in_path.c_str(), O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(QUARNEL_CLI));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(QUARNEL_CLI, argv.data());
        _exit(127);
    }
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
        run.exit_code = WEXITSTATUS(status);
    run.out = read_whole_file(out_path);
    run.err = read_whole_file(err_path);
#else
    (void)args;
    (void)input;
#endif
    return run;
}

namespace {
std::vector<std::string>* catcher_target = nullptr;

void catch_report(const char*, const char* text, const ErrorReport* report) {
    if (catcher_target != nullptr)
        catcher_target->push_back(report && report->message ? report->message : text);
}
} // namespace

ReportCatcher::ReportCatcher() {
    catcher_target = &messages;
    report_set_sink(catch_report);
}

ReportCatcher::~ReportCatcher() {
    report_set_sink(nullptr);
    catcher_target = nullptr;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double time_factor() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return 8.0;
#else
    return 1.0;
#endif
}

namespace {

// Lengths 4, 5 and 7 with mostly free bytes, so that matches crowd the ends of segments where
// the comparison and the printed words could reach past the file.
const char* const SEARCH_TEXT = "3C0F0040\r\n"
                                "400F003C xx\r\n"
                                "xxxxxxxxxxxx*10x\r\n"
                                "*10xxxxxxx\r\n";
const char* const PATCH_SEARCH_TEXT = "3C0F0040\r\n*10xxxxxxx xxxxxxxx\r\n";
const char* const PATCH_REPLACE_TEXT = "3C0F0041\r\n12345678 9ABCDEF0\r\n";

bool same_matches(const Match* a, const Match* b) {
    for (; a != nullptr && b != nullptr; a = a->next, b = b->next)
        if (a->value != b->value || a->offset != b->offset || a->address != b->address)
            return false;
    return a == nullptr && b == nullptr;
}

void render(const PatternList& search, const PatternList* replace, const Match* head,
            const ElfImage* image, bool swap, ResultFormat format, SearchTotals& totals) {
    ResultBuffer buffer;
    ASSERT_TRUE(result_buffer_init(&buffer));
    ASSERT_TRUE(result_render(&buffer, &search, replace, head, image, swap, format));
    EXPECT_EQ(strlen(buffer.text), buffer.length);
    totals.text_bytes += buffer.length;
    result_buffer_free(&buffer);
}

void scan(const PatternList& search, const PatternList* replace, const ElfImage* image,
          bool with_reference, bool executable, bool swap, uint32_t step, SearchTotals& totals) {
    MatchList* list =
        find_matches(image, executable, swap, step, search.count, search.values, search.masks);
    ASSERT_NE(list, nullptr);
    Match* head = list->head;
    if (with_reference) {
        MatchList* literal = find_matches_reference(image, executable, swap, step, search.count,
                                                    search.values, search.masks);
        ASSERT_NE(literal, nullptr);
        EXPECT_TRUE(same_matches(head, literal->head))
            << "executable " << executable << " swap " << swap << " step " << step;
        free_matches(literal->head);
    }
    for (const Match* m = head; m != nullptr; m = m->next) {
        totals.matches++;
        EXPECT_LE(uint64_t(m->offset) + m->value->length, image->size)
            << "match at " << m->offset << " runs past the file";
    }
    if (replace == nullptr) {
        render(search, nullptr, head, image, swap, FORMAT_ADDRESS, totals);
        render(search, nullptr, head, image, swap, FORMAT_OFFSET, totals);
    } else {
        render(search, replace, head, image, swap, FORMAT_PNACH, totals);
        render(search, replace, head, image, swap, FORMAT_RAW_CODE, totals);
    }
    free_matches(head);
}

} // namespace

SearchTotals search_every_way(const ElfImage* image, bool with_reference) {
    SearchTotals totals;
    PatternList search{}, patch_search{}, patch_replace{};
    EXPECT_TRUE(pattern_list_parse(SEARCH_TEXT, &search));
    EXPECT_TRUE(pattern_list_parse(PATCH_SEARCH_TEXT, &patch_search));
    EXPECT_TRUE(pattern_list_parse(PATCH_REPLACE_TEXT, &patch_replace));
    EXPECT_EQ(search_check_patch_patterns(FORMAT_PNACH, &patch_search, &patch_replace), nullptr);
    for (bool executable : {true, false})
        for (bool swap : {false, true}) {
            for (uint32_t step : {1u, 2u, 4u})
                scan(search, nullptr, image, with_reference, executable, swap, step, totals);
            scan(patch_search, &patch_replace, image, with_reference, executable, swap, 4, totals);
        }
    pattern_list_free(&search);
    pattern_list_free(&patch_search);
    pattern_list_free(&patch_replace);
    return totals;
}

namespace {
void put32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; i++)
        at[i] = uint8_t(value >> (8 * i));
}
} // namespace

uint8_t* make_elf_bytes(uint32_t words, uint32_t fill, uint32_t* size) {
    const uint32_t body = 0x100;
    *size = body + 4 * words;
    uint8_t* data = static_cast<uint8_t*>(calloc(*size, 1));
    if (data == nullptr)
        return nullptr;
    memcpy(data,
           "\x7f"
           "ELF\x01\x01\x01",
           7);
    put32(data + 28, 52); // e_phoff
    data[44] = 1;         // e_phnum
    uint8_t* entry = data + 52;
    put32(entry + 0, 1);               // PT_LOAD
    put32(entry + 4, body);            // p_offset
    put32(entry + 8, 0x100000 + body); // p_vaddr
    put32(entry + 16, 4 * words);      // p_filesz
    put32(entry + 24, 5);              // R+X
    for (uint32_t i = 0; i < words; i++)
        put32(data + body + 4 * i, fill);
    return data;
}
