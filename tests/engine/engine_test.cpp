// The fast scan must give the literal engine's matches in the same order however it divides the
// work, and the literal engine must follow the rule written out here.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/elf_image.h"
#include "core/match.h"
#include "core/match_fast.h"
#include "core/match_plan.h"
#include "core/pattern.h"

namespace {

// splitmix64: the same numbers on every platform and standard library.
struct Random {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) {
        return uint32_t(next() % n);
    }
    bool chance(uint32_t percent) {
        return below(100) < percent;
    }
};

struct Segment {
    uint32_t offset, size, delta;
};

using Found = std::array<uint32_t, 3>; // pattern index, address, offset

// Ranges as given, unclipped, over a copy exactly as long as the file so that AddressSanitizer
// sees a read past it. The bytes after a pattern in its last word hold junk that must not count.
struct Search {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> fields[2][3];
    std::vector<PatternRecord*> values, masks;
    ElfImage image{};
    bool executable = true, swap = false;
    uint32_t step = 4;

    Search(std::vector<uint8_t> file, const std::vector<Segment>& exec,
           const std::vector<Segment>& data)
        : bytes(std::move(file)) {
        image.data = bytes.data();
        image.size = uint32_t(bytes.size());
        for (int k = 0; k < 2; k++) {
            for (const Segment& s : k ? data : exec) {
                fields[k][0].push_back(s.delta);
                fields[k][1].push_back(s.offset);
                fields[k][2].push_back(s.size);
            }
            image.ranges[k] = {uint32_t(fields[k][0].size()), fields[k][0].data(),
                               fields[k][1].data(), fields[k][2].data()};
        }
    }
    ~Search() {
        for (size_t i = 0; i < values.size(); i++)
            std::free(values[i]), std::free(masks[i]);
    }
    void add(const std::vector<uint8_t>& value, const std::vector<uint8_t>& mask) {
        for (auto [bytes, list] : {std::pair{&value, &values}, std::pair{&mask, &masks}}) {
            size_t size = (bytes->size() + 3) / 4 * 4;
            auto* r = static_cast<PatternRecord*>(std::malloc(sizeof(PatternRecord) + size));
            r->length = uint32_t(bytes->size());
            std::memset(r->words, list == &values ? 0xA5 : 0x5A, size);
            for (size_t n = 0; n < bytes->size(); n++)
                reinterpret_cast<uint8_t*>(r->words)[n ^ 3] = (*bytes)[n];
            list->push_back(r);
        }
    }

    // The index of a value record in the list (values.size() when it is none of them).
    uint32_t index_of(const PatternRecord* value) const {
        if (index.size() != values.size()) {
            index.clear();
            for (uint32_t i = 0; i < values.size(); i++)
                index.emplace(values[i], i);
        }
        auto at = index.find(value);
        return at == index.end() ? uint32_t(values.size()) : at->second;
    }
    mutable std::unordered_map<const PatternRecord*, uint32_t> index;

    // find_matches with no tuning, else the fast scan divided as told, or the literal engine.
    std::vector<Found> scan(const MatchFastTuning* tuning = nullptr, bool literal = false) {
        MatchList own{nullptr, &own.head}, *list = &own;
        uint32_t n = uint32_t(values.size());
        auto* v = values.data();
        if (literal)
            list = find_matches_reference(&image, executable, swap, step, n, v, masks.data());
        else if (!tuning)
            list = find_matches(&image, executable, swap, step, n, v, masks.data());
        else
            EXPECT_EQ(
                match_fast_find(&image, executable, swap, step, n, v, masks.data(), &own, tuning),
                MATCH_FAST_DONE);
        std::vector<Found> found;
        for (const Match* m = list ? list->head : nullptr; m; m = m->next) {
            uint32_t i = index_of(m->value);
            EXPECT_TRUE(i < n && m->mask == masks[i]) << "a match names no pattern";
            found.push_back({i, m->address, m->offset});
        }
        EXPECT_TRUE(list) << "no list";
        free_matches(list ? list->head : nullptr);
        return found;
    }

    // A plan built with `limits`, then scanned with `tuning`; the plan's figures in `stats`.
    std::vector<Found> plan_scan(const MatchPlanLimits& limits, const MatchFastTuning& tuning,
                                 MatchPlanStats* stats = nullptr) {
        MatchPlan* plan = match_plan_build_limited(swap, step, uint32_t(values.size()),
                                                   values.data(), masks.data(), &limits);
        EXPECT_TRUE(plan) << "no plan";
        if (!plan)
            return {};
        if (stats)
            *stats = match_plan_stats(plan);
        std::vector<Found> found = plan_find(plan, tuning);
        match_plan_free(plan);
        return found;
    }

    std::vector<Found> plan_find(const MatchPlan* plan, const MatchFastTuning& tuning) const {
        MatchList list{nullptr, nullptr};
        list.tail = &list.head;
        EXPECT_EQ(match_plan_find(plan, &image, executable, &list, &tuning), MATCH_FAST_DONE);
        std::vector<Found> found;
        for (const Match* m = list.head; m; m = m->next) {
            uint32_t i = index_of(m->value);
            EXPECT_TRUE(i < values.size() && m->mask == masks[i]) << "a match names no pattern";
            found.push_back({i, m->address, m->offset});
        }
        free_matches(list.head);
        return found;
    }

    // Words in table order with a cursor that never moves back, then patterns, then shifts; a
    // match ends inside its segment and needs no byte past the file, whatever its mask.
    std::vector<Found> rule() const {
        std::vector<Found> out;
        const RangeSet& set = image.ranges[executable ? 0 : 1];
        uint64_t w = set.count ? set.file_offset[0] / 4 : 0;
        for (uint32_t k = 0; k < set.count; ++k) {
            uint64_t end = uint64_t{set.file_offset[k]} + set.file_size[k];
            for (; w < uint64_t{set.file_offset[k] / 4} + set.file_size[k] / 4; ++w)
                for (uint32_t i = 0; i < values.size(); ++i)
                    for (uint32_t s = 0; s < 4; s += step) {
                        uint64_t start = 4 * w + s;
                        bool match = start + values[i]->length <= end;
                        for (uint32_t n = 0; match && n < values[i]->length; ++n) {
                            uint64_t at = (start + (n ^ 3)) ^ (swap ? 3 : 0);
                            uint8_t m = pattern_byte(masks[i], n);
                            match = at < bytes.size() &&
                                    (bytes[at] & m) == (pattern_byte(values[i], n) & m);
                        }
                        if (match)
                            out.push_back(
                                {i, uint32_t(start) + set.address_delta[k], uint32_t(start)});
                    }
            if (k + 1 < set.count)
                w = std::max<uint64_t>(w, set.file_offset[k + 1] / 4);
        }
        return out;
    }
};

// Names the first record where two lists part, instead of printing both.
testing::AssertionResult same(const std::vector<Found>& want, const std::vector<Found>& got) {
    size_t i = std::mismatch(want.begin(), want.end(), got.begin(), got.end()).first - want.begin();
    auto at = [i](const auto& l) { return i < l.size() ? testing::PrintToString(l[i]) : "end"; };
    if (want == got)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "record " << i << ": " << at(want) << " != " << at(got);
}

std::vector<uint8_t> random_file(Random& rng, uint32_t size) {
    std::vector<uint8_t> bytes(size);
    static const uint8_t few[] = {0x00, 0x00, 0xFF, 0x3C, 0x01, 0x10};
    uint32_t kind = rng.below(4), period = 1 + rng.below(9);
    for (uint32_t i = 0; i < size; i++) // few distinct bytes or a repeat give many matches
        bytes[i] = kind == 0   ? few[rng.below(sizeof few)]
                   : kind == 1 ? (i >= period ? bytes[i - period] : uint8_t(rng.below(3)))
                               : uint8_t(rng.next());
    return bytes;
}

// Mostly ascending, sometimes overlapping, out of order, empty, at the very end, or (unlike
// what read_elf makes) past the end of the file.
std::vector<Segment> random_segments(Random& rng, uint32_t size) {
    std::vector<Segment> segments(rng.below(5));
    uint32_t next = rng.below(size / 2 + 1);
    for (Segment& s : segments) {
        s.offset = rng.chance(70)   ? std::min(size, next + rng.below(16))
                   : rng.chance(20) ? size - rng.below(std::min(size, 6u) + 1)
                                    : rng.below(size + 1);
        s.size = rng.chance(15) ? size - s.offset : rng.below(size - s.offset + 1);
        next = s.offset + s.size - std::min(s.size, rng.below(12));
        if (rng.chance(3))
            s.size += 1 + rng.below(64);
        else if (rng.chance(2))
            s.offset = 0xFFFFFF00u + rng.below(0x100);
        s.delta = uint32_t(rng.next());
    }
    return segments;
}

// Mostly taken from the file so that it matches somewhere, sometimes in the other byte order.
void random_pattern(Random& rng, Search& search) {
    const std::vector<uint8_t>& file = search.bytes;
    uint32_t length = 4 + rng.below(rng.chance(85) ? 17 : 40);
    std::vector<uint8_t> value(length), mask(length, 0xFF);
    uint32_t from = file.size() > length ? rng.below(uint32_t(file.size() - length)) : 0;
    for (uint32_t n = 0; n < length; n++)
        value[n] = n + from < file.size() && rng.chance(90) ? file[from + n] : uint8_t(rng.next());
    if (rng.chance(30))
        for (uint32_t n = 0; n + 4 <= length; n += 4)
            std::reverse(value.begin() + n, value.begin() + n + 4);
    uint32_t kind = rng.below(10);
    for (uint32_t n = 0; n < length && kind <= 4; n++) {
        if (kind <= 1) // bits as `*` writes them (value bits may lie outside), or none fixed
            mask[n] = kind ? 0 : uint8_t(rng.next());
        uint32_t p = rng.below(3) == 0 ? 60 : 15; // else wildcard nibbles, some or many
        for (uint8_t keep : {0x0F, 0xF0})
            if (kind > 1 && rng.chance(p))
                mask[n] &= keep, value[n] &= keep;
    }
    search.add(value, mask);
}

TEST(EngineDifferential, RandomFilesLayoutsPatternsAndOptions) {
    Random rng{20240611};
    uint64_t total_matches = 0;
    for (int round = 0; round < 2000; round++) {
        uint32_t size = 1 + rng.below(rng.chance(80) ? 700 : 5000);
        std::vector<uint8_t> file = random_file(rng, size);
        std::vector<Segment> exec = random_segments(rng, size);
        Search search(file, exec, random_segments(rng, size));
        for (uint32_t i = 1 + rng.below(rng.chance(70) ? 4 : 40); i > 0; i--)
            random_pattern(rng, search);
        search.executable = rng.chance(50);
        search.swap = rng.chance(50);
        search.step = 1u << rng.below(3);
        MatchFastTuning tuning{1 + rng.below(3), 1 + rng.below(40), rng.chance(50)};
        SCOPED_TRACE(testing::Message()
                     << "round " << round << ", size " << size << ", step " << search.step
                     << (search.swap ? " Little" : " Big") << ", threads " << tuning.threads);

        std::vector<Found> want = search.scan(nullptr, true);
        total_matches += want.size();
        ASSERT_TRUE(same(search.rule(), want)) << "the literal engine";
        ASSERT_TRUE(same(want, search.scan(&tuning)));
        ASSERT_TRUE(same(want, search.scan()));
        // Tables too small for the list: anchors spill to the half words and the per-word
        // compare.
        MatchPlanLimits limits{rng.below(3) * rng.below(300), rng.chance(30), rng.chance(30)};
        ASSERT_TRUE(same(want, search.plan_scan(limits, tuning)))
            << "limits " << limits.expansion_slots << " " << limits.exact_anchors_only << " "
            << limits.no_half_words;
    }
    EXPECT_GT(total_matches, 100000u) << "rounds without matches prove nothing";
}

// find_matches and the fast scan in several divisions of the work all give the literal list.
std::vector<Found> expect_same(Search& search, bool every_division = true) {
    std::vector<Found> want = search.scan(nullptr, true);
    EXPECT_TRUE(same(want, search.scan()));
    if (!every_division)
        return want;
    for (MatchFastTuning t :
         {MatchFastTuning{1, 0, false}, {2, 7, false}, {3, 1, true}, {2, 64, true}})
        EXPECT_TRUE(same(want, search.scan(&t)))
            << t.threads << " threads, chunk " << t.chunk_words;
    return want;
}

// Three hundred patterns over few distinct words: anchors collide, buckets fill, words match
// several patterns, and two wildcard nibbles per word ask for more table slots than allowed.
TEST(EngineCases, ManyPatternsSharingAnchors) {
    Random rng{77};
    std::vector<uint8_t> file(1 << 14);
    static const uint32_t words[] = {0x27BDFFE0, 0xAFBF0014, 0x00000000, 0x8FBF0014, 0x03E00008};
    for (size_t at = 0; at < file.size(); at += 4)
        std::memcpy(&file[at], &words[rng.below(5)], 4);
    Search search(file, {{16, uint32_t(file.size()) - 16, 0x100000}}, {});
    for (int i = 0; i < 300; i++) {
        uint32_t length = 4 + rng.below(13), from = 16 + rng.below(uint32_t(file.size()) - 64);
        std::vector<uint8_t> value(&file[from], &file[from + length]), mask(length, 0xFF);
        if (rng.chance(40))
            mask[rng.below(length)] = rng.chance(50) ? 0xF0 : 0x0F;
        else if (rng.chance(50))
            for (uint32_t n = 0; n < length; n += 2)
                mask[n] = 0xF0;
        for (uint32_t n = 0; n < length; n++)
            value[n] &= mask[n];
        search.add(value, mask);
    }
    for (uint32_t step : {1u, 4u}) {
        search.step = step;
        search.swap = step == 1;
        EXPECT_GT(expect_same(search).size(), 1000u);
    }
}

// Stack adjustments that a quarter of the patterns hold and a fifth of the file's words are:
// planning sends those entries to wildcard expansions of their other words (up to three
// nibbles) or to the half-word table, and the matches must not change.
TEST(EngineCases, RepeatedWordsLoseTheirAnchors) {
    Random rng{4242};
    std::vector<uint8_t> file = random_file(rng, 1 << 15);
    static const uint32_t common[] = {0x27BDFFE0, 0x27BDFFD8, 0xAFBF0014};
    for (size_t at = 0; at < file.size(); at += 4)
        if (rng.chance(20))
            std::memcpy(&file[at], &common[rng.below(3)], 4);
    std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> patterns;
    for (int i = 0; i < 120; i++) {
        uint32_t length = 8 + rng.below(9), from = rng.below(uint32_t(file.size()) - 32);
        std::vector<uint8_t> value(&file[from], &file[from + length]), mask(length, 0xFF);
        if (rng.chance(25)) // the repeated word first, as the file holds it
            std::memcpy(&value[0], &common[rng.below(3)], 4);
        for (uint32_t k = rng.below(4); k > 0; k--)
            mask[4 + rng.below(length - 4)] &= rng.chance(50) ? 0xF0 : 0x0F;
        if (i % 4 == 0) // and a copy in the file, so that some of them match
            std::memcpy(&file[rng.below(uint32_t(file.size()) - 32)], value.data(), length);
        for (uint32_t n = 0; n < length; n++)
            value[n] &= mask[n];
        patterns.push_back({value, mask});
    }
    Search search(file, {{0, uint32_t(file.size()), 0x1000}}, {});
    for (const auto& [value, mask] : patterns)
        search.add(value, mask);
    for (uint32_t step : {1u, 2u, 4u})
        for (bool swap : {false, true}) {
            search.step = step;
            search.swap = swap;
            std::vector<Found> found = expect_same(search, step == 1);
            if (step == 1 && swap) { // the order that reads the file's bytes as they lie
                EXPECT_GE(found.size(), 20u);
            }
        }
}

// Over 8 MiB, so that find_matches divides the work itself. Copies sit at both ends, around the
// middle where two threads part, and on a chunk's edge.
TEST(EngineCases, LargeFileAcrossThreadsAndChunks) {
    const uint32_t size = (8u << 20) + 3;
    std::vector<uint8_t> file(size);
    Random rng{5};
    for (uint8_t& b : file)
        b = uint8_t(rng.next());
    // 3C0F0040 123456 in "Big": the file word, then the top three bytes of the next one.
    const uint8_t copy[] = {0x40, 0x00, 0x0F, 0x3C, 0x99, 0x56, 0x34, 0x12};
    std::vector<uint32_t> places = {
        0, 9, 131072 - 4, 131072 + 5, size / 2 - 10, size / 2 - 1, size / 2 + 8, size - 8};
    for (uint32_t at : places)
        std::copy(std::begin(copy), std::end(copy), &file[at]);
    Search search(file, {{0, size, 0x400000}}, {});
    search.add({0x3C, 0x0F, 0x00, 0x40, 0x12, 0x34, 0x56}, std::vector<uint8_t>(7, 0xFF));
    search.add({0x3C, 0x0F, 0x00, 0x40, 0x12, 0x04, 0x56}, {255, 255, 255, 255, 255, 0x0F, 255});
    for (uint32_t step : {1u, 4u}) {
        std::vector<uint32_t> want, found;
        for (uint32_t at : places)
            if (at % step == 0)
                want.insert(want.end(), {at, at});
        search.step = step;
        for (const Found& m : expect_same(search, false))
            found.push_back(m[2]);
        EXPECT_EQ(found, want);
    }
    search.step = 2;
    search.swap = true;
    expect_same(search, false);
}

// Thousands of patterns in every order and alignment, most with wildcards, some with masked
// bits or odd lengths: the default tables grow with the list, and tight ones overflow into the
// half-word table and the per-word compare, which must give the same list.
TEST(EngineCases, LargeListsAndOverflowingTables) {
    Random rng{4242};
    std::vector<uint8_t> file(8192);
    for (size_t at = 0; at < file.size(); at++) // instruction-like words with common halves
        file[at] = at % 4 >= 2 && rng.chance(60) ? uint8_t(0x27 + rng.below(3))
                                                 : uint8_t(rng.below(rng.chance(50) ? 4 : 256));
    Search search(file, {{8, uint32_t(file.size()) - 9, 0x400}, {100, 3000, 0}}, {});
    for (int i = 0; i < 800; i++)
        random_pattern(rng, search);
    struct Case {
        bool swap;
        uint32_t step;
        MatchPlanLimits limits;
        bool halves, direct; // paths the case must reach
    };
    const Case cases[] = {
        {true, 1, {}, false, false},
        {false, 2, {}, false, false},
        {true, 4, {}, false, false},
        {false, 1, {64, false, false}, true, true},
        {true, 1, {0, true, false}, true, true},
        {false, 4, {0, true, true}, false, true},
    };
    uint64_t total = 0;
    for (const Case& c : cases) {
        search.swap = c.swap;
        search.step = c.step;
        SCOPED_TRACE(testing::Message() << "step " << c.step << (c.swap ? " Little" : " Big")
                                        << ", allowance " << c.limits.expansion_slots);
        std::vector<Found> want = search.scan(nullptr, true);
        total += want.size();
        MatchPlanStats stats{};
        EXPECT_TRUE(same(want, search.plan_scan(c.limits, {2, 100, false}, &stats)));
        EXPECT_TRUE(same(want, search.plan_scan(c.limits, {1, 0, true})));
        EXPECT_EQ(stats.entries, 800u * (4 / c.step));
        if (c.halves) {
            EXPECT_GT(stats.half_words, 0u);
        }
        if (c.direct) {
            EXPECT_GT(stats.direct, 0u);
        }
        if (!c.halves && !c.direct) { // the default allowance keeps the most in the table
            EXPECT_GT(stats.table_slots, stats.entries);
        }
    }
    EXPECT_GT(total, 5000u);
}

// A short list of patterns with three wildcard nibbles in every word: the table takes a few
// dozen expansion slots per entry, not the 65,536 that a long list may take, and the entries
// it turns away (to the half-word table) are still found.
TEST(EngineCases, ShortWildcardListsKeepSmallTables) {
    Random rng{777};
    std::vector<uint8_t> file = random_file(rng, 4096);
    std::fill(file.begin() + 1024, file.begin() + 1100, 0); // every pattern matches in here
    Search search(file, {{0, 4096, 0x1000}}, {});
    const std::vector<uint8_t> mask{0xF0, 0x0F, 0xF0, 0xFF, 0xF0, 0x0F, 0xF0, 0xFF};
    for (uint32_t i = 0; i < 16; i++) {
        std::vector<uint8_t> value(8);
        for (uint32_t n = 0; n < 8; n++) // the wildcard nibbles differ, the fixed ones are zero
            value[n] = uint8_t(rng.below(256)) & ~mask[n];
        search.add(value, mask);
    }
    search.step = 1;
    for (bool swap : {false, true}) {
        search.swap = swap;
        std::vector<Found> want = search.scan(nullptr, true);
        MatchPlanStats stats{};
        EXPECT_TRUE(same(want, search.plan_scan({}, {1, 0, false}, &stats)));
        EXPECT_GE(want.size(), 16u);
        EXPECT_EQ(stats.entries, 64u);
        EXPECT_LE(stats.table_slots, 88u * stats.entries); // 64 + 8 allowed, 16 always
    }
}

// One plan, several threads, each with its own image and list.
TEST(EngineCases, OnePlanScansManyImagesAtOnce) {
    Random rng{99};
    std::vector<Search> files;
    files.reserve(4);
    for (int f = 0; f < 4; f++)
        files.emplace_back(random_file(rng, 3000 + 500 * f),
                           std::vector<Segment>{{0, 3000u + 500 * f, uint32_t(f)}},
                           std::vector<Segment>{});
    for (int i = 0; i < 60; i++) // the patterns are the first file's; the others share them
        random_pattern(rng, files[0]);
    for (Search& s : files) {
        s.step = 1;
        s.swap = true;
        if (&s != &files[0])
            for (size_t i = 0; i < files[0].values.size(); i++)
                s.values.push_back(files[0].values[i]), s.masks.push_back(files[0].masks[i]);
    }
    Search& owner = files[0];
    MatchPlan* plan = match_plan_build(true, 1, uint32_t(owner.values.size()), owner.values.data(),
                                       owner.masks.data());
    ASSERT_TRUE(plan);
    std::vector<std::vector<Found>> want(files.size()), got(files.size());
    for (size_t f = 0; f < files.size(); f++)
        want[f] = files[f].scan(nullptr, true);
    std::vector<std::thread> threads;
    for (size_t f = 0; f < files.size(); f++)
        threads.emplace_back([&, f] {
            for (int r = 0; r < 20; r++)
                got[f] = files[f].plan_find(plan, {1, 0, false});
        });
    for (std::thread& t : threads)
        t.join();
    match_plan_free(plan);
    for (size_t f = 0; f < files.size(); f++) {
        EXPECT_TRUE(same(want[f], got[f])) << "file " << f;
        if (&files[f] != &owner)
            files[f].values.clear(), files[f].masks.clear(); // owned by the first file
    }
}

} // namespace
