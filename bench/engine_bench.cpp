// Measures the scan inside one process: the fast scan on the large file for each pattern set
// and alignment, the literal engine and the fast scan on the small file (and that both give
// the same list), the machine's memchr over the same number of bytes, and the rendering of
// 100,000 and 1,000,000 matches.
//
//   engine_bench LARGE_DIR SMALL_DIR
//   engine_bench --list literal|fast ELF PATTERNS STEP FROM COUNT
//
// Both folders as gen_elf makes them. Prints one line per measurement, "key value unit", for
// run_bench.py to read, and a readable line after each. The second form prints the list of
// patterns FROM to FROM + COUNT - 1 of the file ("Little", executable segments) as "offset
// index" lines, so that run_bench.py can run the literal engine over slices of a large list
// in several processes and merge them into the engine's order.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/elf_image.h"
#include "core/file_io.h"
#include "core/match.h"
#include "core/match_plan.h"
#include "core/pattern.h"
#include "core/result_format.h"

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Scan {
    double seconds;
    uint64_t matches;
};

uint64_t list_length(const MatchList* list) {
    uint64_t n = 0;
    for (const Match* m = list ? list->head : nullptr; m; m = m->next)
        n++;
    return n;
}

// Best of `repeats` runs of find_matches (or the literal engine).
Scan time_scan(const ElfImage* image, const PatternList& patterns, bool swap, uint32_t step,
               bool reference, int repeats) {
    Scan best{1e30, 0};
    for (int r = 0; r < repeats; r++) {
        double t0 = now();
        MatchList* list = reference
                              ? find_matches_reference(image, true, swap, step, patterns.count,
                                                       patterns.values, patterns.masks)
                              : find_matches(image, true, swap, step, patterns.count,
                                             patterns.values, patterns.masks);
        double t = now() - t0;
        if (!list) {
            std::fprintf(stderr, "engine_bench: out of memory\n");
            std::exit(1);
        }
        best.matches = list_length(list);
        free_matches(list->head);
        match_list_reset();
        if (t < best.seconds)
            best.seconds = t;
    }
    return best;
}

uint64_t scanned_bytes(const ElfImage* image) {
    uint64_t n = 0;
    for (uint32_t k = 0; k < image->ranges[0].count; k++)
        n += image->ranges[0].file_size[k];
    return n;
}

bool load_patterns(const std::string& path, PatternList* list) {
    char* text = load_file(path.c_str());
    if (!text)
        return false;
    int ok = pattern_list_parse(text, list);
    std::free(text);
    return ok != 0;
}

// The offsets of two lists, in order, and the patterns they name, must agree.
bool same_lists(const ElfImage* image, const PatternList& patterns, bool swap, uint32_t step) {
    std::vector<std::pair<const void*, uint32_t>> a, b;
    MatchList* list = find_matches_reference(image, true, swap, step, patterns.count,
                                             patterns.values, patterns.masks);
    for (const Match* m = list->head; m; m = m->next)
        a.push_back({m->value, m->offset});
    free_matches(list->head);
    list = find_matches(image, true, swap, step, patterns.count, patterns.values, patterns.masks);
    for (const Match* m = list->head; m; m = m->next)
        b.push_back({m->value, m->offset});
    free_matches(list->head);
    match_list_reset();
    return a == b;
}

void put(const char* key, double value, const char* unit) {
    std::printf("%s %.6g %s\n", key, value, unit);
}

// memchr over `bytes` bytes that do not hold the byte looked for: the machine's pace for one
// pass over memory.
double memchr_rate(size_t bytes) {
    std::vector<uint8_t> buffer(bytes, 0x11);
    double best = 1e30;
    for (int r = 0; r < 7; r++) {
        double t0 = now();
        const void* at = std::memchr(buffer.data(), 0xEE, buffer.size());
        double t = now() - t0;
        if (at)
            std::abort();
        if (t < best)
            best = t;
    }
    return double(bytes) / best;
}

// Renders `matches` matches of one four-byte pattern in the Offset format: a segment of zeros
// with one match per word.
void time_render(uint32_t matches) {
    uint32_t size = 4096 + matches * 4;
    uint8_t* data = static_cast<uint8_t*>(std::calloc(size, 1));
    data[0] = 0x7F;
    data[1] = 'E';
    data[2] = 'L';
    data[3] = 'F';
    auto put32 = [&](uint32_t at, uint32_t v) { std::memcpy(data + at, &v, 4); };
    put32(28, 52);
    data[44] = 1;
    put32(52, 1);
    put32(56, 4096);
    put32(60, 0x100000);
    put32(68, size - 4096);
    put32(76, 5);
    ElfImage* image = elf_image_from_bytes(data, size);
    PatternList patterns{};
    pattern_list_parse("00000000", &patterns);
    double t0 = now();
    MatchList* list =
        find_matches(image, true, true, 4, patterns.count, patterns.values, patterns.masks);
    double scan = now() - t0;
    ResultBuffer buffer;
    result_buffer_init(&buffer);
    t0 = now();
    int ok = result_render(&buffer, &patterns, nullptr, list->head, image, true, FORMAT_OFFSET);
    double render = now() - t0;
    uint64_t found = list_length(list);
    std::printf("render_%u %.6g s\n", matches, render);
    std::printf("# %u matches (%llu found, %s): scan %.1f ms, rendering %.1f ms, %u bytes of "
                "text\n",
                matches, static_cast<unsigned long long>(found), ok ? "rendered" : "FAILED",
                scan * 1e3, render * 1e3, buffer.length);
    result_buffer_free(&buffer);
    free_matches(list->head);
    match_list_reset();
    pattern_list_free(&patterns);
    free_elf_image(image);
}

// The second form of the command.
int print_list(char** argv) {
    bool literal = std::strcmp(argv[2], "literal") == 0;
    ElfImage* image = read_elf(argv[3]);
    PatternList patterns{};
    if (!image || !load_patterns(argv[4], &patterns))
        return 1;
    uint32_t step = uint32_t(std::strtoul(argv[5], nullptr, 10));
    uint32_t from = uint32_t(std::strtoul(argv[6], nullptr, 10));
    uint32_t count = uint32_t(std::strtoul(argv[7], nullptr, 10));
    if (from >= patterns.count)
        return 0;
    count = count < patterns.count - from ? count : patterns.count - from;
    PatternRecord** values = patterns.values + from;
    PatternRecord** masks = patterns.masks + from;
    MatchList own{nullptr, nullptr};
    own.tail = &own.head;
    MatchList* list = &own;
    if (literal) {
        list = find_matches_reference(image, true, true, step, count, values, masks);
    } else {
        MatchPlan* plan = match_plan_build(true, step, count, values, masks);
        if (!plan || match_plan_find(plan, image, true, &own, nullptr) != MATCH_FAST_DONE)
            return 1;
        match_plan_free(plan);
    }
    if (!list)
        return 1;
    std::unordered_map<const PatternRecord*, uint32_t> index; // matches name their record
    for (uint32_t i = 0; i < count; i++)
        index.emplace(values[i], from + i);
    std::string out;
    char line[32];
    for (const Match* m = list->head; m; m = m->next) {
        std::snprintf(line, sizeof line, "%u %u\n", m->offset, index[m->value]);
        out += line;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    free_matches(list->head);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 8 && std::strcmp(argv[1], "--list") == 0)
        return print_list(argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: engine_bench LARGE_DIR SMALL_DIR\n");
        return 2;
    }
    std::string large = argv[1], small = argv[2];
    const uint32_t sets[] = {1, 10, 100, 1000};
    const uint32_t steps[] = {4, 1};

    double t0 = now();
    ElfImage* image = read_elf((large + "/code.elf").c_str());
    double read_time = now() - t0;
    if (!image) {
        std::fprintf(stderr, "engine_bench: cannot read %s/code.elf\n", large.c_str());
        return 1;
    }
    uint64_t bytes = scanned_bytes(image);
    put("read_elf", read_time, "s");
    double memchr = memchr_rate(image->size);
    put("memchr", memchr / 1e9, "GB/s");
    std::printf("# memchr over %u bytes: %.2f GB/s; read_elf %.1f ms\n", image->size, memchr / 1e9,
                read_time * 1e3);

    // The large file's data must outlive the image record, which the small file reuses.
    std::vector<Scan> fast(8);
    for (int s = 0; s < 4; s++) {
        PatternList patterns{};
        if (!load_patterns(large + "/p" + std::to_string(sets[s]) + ".txt", &patterns))
            return 1;
        for (int a = 0; a < 2; a++) {
            Scan scan = time_scan(image, patterns, true, steps[a], false, 7);
            fast[s * 2 + a] = scan;
            char key[64];
            std::snprintf(key, sizeof key, "scan_%u_%s", sets[s], steps[a] == 4 ? "word" : "byte");
            put(key, double(bytes) / scan.seconds / 1e9, "GB/s");
            std::printf("# %4u patterns, %s: %.2f ms, %.2f GB/s, %llu matches\n", sets[s],
                        steps[a] == 4 ? "word" : "byte", scan.seconds * 1e3,
                        double(bytes) / scan.seconds / 1e9,
                        static_cast<unsigned long long>(scan.matches));
        }
        pattern_list_free(&patterns);
    }
    free_elf_image(image);

    image = read_elf((small + "/code.elf").c_str());
    if (!image) {
        std::fprintf(stderr, "engine_bench: cannot read %s/code.elf\n", small.c_str());
        return 1;
    }
    bytes = scanned_bytes(image);
    for (int s = 0; s < 4; s++) {
        PatternList patterns{};
        if (!load_patterns(small + "/p" + std::to_string(sets[s]) + ".txt", &patterns))
            return 1;
        for (int a = 0; a < 2; a++) {
            Scan quick = time_scan(image, patterns, true, steps[a], false, 7);
            Scan literal = time_scan(image, patterns, true, steps[a], true, 1);
            bool same = same_lists(image, patterns, true, steps[a]) &&
                        same_lists(image, patterns, false, steps[a]);
            char key[64];
            const char* align = steps[a] == 4 ? "word" : "byte";
            std::snprintf(key, sizeof key, "reference_%u_%s", sets[s], align);
            put(key, double(bytes) / literal.seconds / 1e9, "GB/s");
            std::snprintf(key, sizeof key, "speedup_%u_%s", sets[s], align);
            put(key, literal.seconds / quick.seconds, "x");
            std::snprintf(key, sizeof key, "same_%u_%s", sets[s], align);
            put(key, same ? 1 : 0, "bool");
            std::printf("# small file, %4u patterns, %s: literal %.1f ms, fast %.2f ms, %.0fx, "
                        "lists %s\n",
                        sets[s], align, literal.seconds * 1e3, quick.seconds * 1e3,
                        literal.seconds / quick.seconds, same ? "identical" : "DIFFERENT");
        }
        pattern_list_free(&patterns);
    }
    free_elf_image(image);

    time_render(100000);
    time_render(1000000);
    return 0;
}
