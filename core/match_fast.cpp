// The fast scan. The comparison rule reads the file byte (p + (n ^ 3)) ^ e for pattern byte n,
// where p = 4w + s. Seen from the start of word w, every (pattern, shift) pair therefore
// compares one fixed masked byte string against the file bytes from 4w on: "Big" moves the
// pattern's stored words s bytes forward, "Little" also flips every four-byte group. Such a pair
// is an "entry" below. Each entry picks one of its aligned 32-bit words as an anchor; the file
// is probed once per word, and only words whose probe hits an anchor are verified, with masked
// compares over whole 64-bit words. Candidate words never overlap between chunks, and the
// matches of a chunk are sorted into the engine's order (word, pattern, shift) before they are
// appended, so the list equals the literal engine's.
//
// The anchors live in a plan that depends on the patterns alone, so that one plan serves many
// files. An anchor with a few wildcard bits joins the hashed table once per value it stands
// for, within an allowance that grows with the list; an entry that finds no such word is
// looked up by a fully fixed 16-bit half of one of its words; only entries without either
// (almost wholly wildcard) are compared at every word.

#include "match_fast.h"
#include "match_plan.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUARNEL_MATCH_X86 1
#endif

namespace {

constexpr uint32_t HASH_MULTIPLIER = 0x9E3779B1u;
constexpr uint32_t SECOND_MULTIPLIER = 0x85EBCA6Bu;
// Mixed into every value before hashing: the commonest words of code and data (zero, above
// all) would otherwise hash to block 0 and to a single filter bit, and pass the filter by
// chance far more often than other words.
constexpr uint32_t HASH_SALT = 0x5BD1E995u;
// An anchor with more wildcard bits than this looks for a half word instead: 2^8 table slots
// for one anchor is the most that still pays.
constexpr uint32_t MAX_EXPANSION_BITS = 12;
// Table slots that wildcard expansions may take in all: a fixed allowance plus a few per entry,
// so that a list full of wildcards cannot make the table grow without bound. Entries past it
// go to the half-word table. A short list gets at most BASE_SLOTS_PER_ENTRY per entry of the
// fixed part: a few dozen wildcard patterns would otherwise build and sort a table of 65,536
// slots, which costs more than scanning a small file.
constexpr size_t BASE_EXPANSION_SLOTS = size_t(1) << 16;
constexpr size_t BASE_SLOTS_PER_ENTRY = 64;
constexpr size_t EXPANSION_SLOTS_PER_ENTRY = 8;
constexpr uint64_t SMALL_EXPANSION = 16;
// The filter may reach twice the second cache level (512 KiB per core here): for 10,000
// patterns (460,000 slots) the chance hits that a filter of 512 KiB lets through cost more than
// the probes that miss the cache in one of 1 MiB (one-thread scan 15 to 25 % faster); past
// that, probes would miss the cache too often.
constexpr uint32_t MAX_FILTER_BITS = 23;
constexpr uint32_t MAX_BUCKET_BITS = 21;
// Up to this many entries in all, every entry is compared directly at every word: a handful of
// vector compares costs less than a hash probe.
constexpr size_t DIRECT_ONLY_ENTRIES = 4;
constexpr uint32_t DEFAULT_CHUNK_WORDS = 32768;
constexpr uint64_t THREADED_SCAN_BYTES = 8u << 20;
constexpr uint32_t MAX_THREADS = 4;
constexpr size_t PREFETCH_BYTES = 2048;
constexpr uint32_t HALF_KEYS = 1u << 17; // low halves, then high halves
// A whole word that this many patterns hold, and at least one in REPEATED_SHARE of their fully
// fixed words, is taken as common in the files searched too; the MAX_REPEATED commonest count.
constexpr size_t REPEATED_WORD = 3;
constexpr size_t REPEATED_SHARE = 1024;
constexpr size_t MAX_REPEATED = 64;

// One (pattern, shift) pair, seen from the start of its candidate word.
struct Entry {
    uint32_t pattern;
    uint32_t shift;
    uint32_t length;   // the pattern's length L
    uint32_t need_end; // the pattern's bytes lie below 4w + need_end: all must be in the file
    uint32_t anchor;   // anchor word index g: the probe at word w + g finds this entry
    uint32_t anchor_value;
    uint32_t anchor_mask;
    uint32_t first_qword; // (value, mask) pairs in MatchPlan::qwords
    uint32_t qword_count;
};

// One hashed anchor value of an entry, with a second word of the entry (the one after the
// anchor, or before it when the anchor is last) that turns most chance hits away before the
// entry itself is read: single instruction words such as stack loads are common, pairs are not.
struct Slot {
    uint32_t value;
    uint32_t link; // entry << 2 | where the second word lies: 0 none, 1 after, 2 before
    uint32_t other_value;
    uint32_t other_mask;
};

// Consecutive candidate words of one segment: [first, end).
struct WordRange {
    uint32_t segment;
    uint32_t first;
    uint32_t end;
};

} // namespace

struct MatchPlan {
    bool swap;
    uint32_t step;
    uint32_t count;
    PatternRecord** values;
    PatternRecord** masks;
    std::vector<Entry> entries;
    std::vector<uint64_t> qwords;
    std::vector<uint32_t> direct; // entries compared at every word
    uint32_t hash_bits;           // 0: no hashed entry; else log2 of the filter's bits
    uint32_t bucket_shift;        // a probe's bucket: its hash shifted right by this
    std::vector<uint32_t> filter; // 2^(hash_bits - 5) blocks of 32 bits
    std::vector<uint32_t> bucket_start;
    std::vector<Slot> slots;
    std::vector<uint32_t> half_filter;  // one bit per half key; empty when no entry uses one
    std::vector<uint32_t> half_keys;    // ascending
    std::vector<uint32_t> half_entries; // the entry of each key
    uint32_t max_anchor;
    uint32_t reach; // bytes past a chunk's end word that scanning the chunk may read
};

namespace {

// One scan of one image with a plan: what depends on the file.
struct ImageScan {
    const MatchPlan* plan;
    const uint8_t* data;
    uint32_t size;
    const RangeSet* set;
    std::vector<WordRange> ranges;
    uint64_t total_words;
    uint32_t safe_words;       // chunks that end at or below this word are read in place
    std::vector<uint8_t> tail; // the file from word safe_words on, followed by zeros
    uint32_t chunk_words;
    bool vectors;
};

// Where the scan reads: base[x - start] is file byte x.
struct View {
    const uint8_t* base;
    uint32_t start;
};

// A piece of one word range whose matches are sorted together. Chunks are handed to the
// threads one at a time; each keeps its own list, and the lists are joined in chunk order.
struct Chunk {
    uint32_t range;
    uint32_t first;
    uint32_t end;
    bool at_end; // read from the zero-padded copy of the file's end
    Match* head;
    Match** tail; // the `next` field of the last record, when there is one
};

struct Worker {
    const ImageScan* scan;
    std::vector<Chunk>* chunks;
    std::atomic<size_t>* next;
    std::atomic<bool>* failed;
    std::vector<uint64_t> keys;
};

inline uint32_t load32(const uint8_t* at) {
    uint32_t v;
    std::memcpy(&v, at, 4);
    return v;
}

inline uint64_t load64(const uint8_t* at) {
    uint64_t v;
    std::memcpy(&v, at, 8);
    return v;
}

inline uint32_t hash_word(uint32_t value, uint32_t bits) {
    return ((value ^ HASH_SALT) * HASH_MULTIPLIER) >> (32 - bits);
}

// The filter is a Bloom filter of 32-bit blocks: a value sets three bits of one block, so one
// load per probe tests them all, and a chance hit needs all three set by other values (two
// let through a third more chance hits for 10,000 patterns; four, no fewer than three).
inline uint32_t filter_block(uint32_t value, uint32_t bits) {
    return hash_word(value, bits - 5);
}

inline uint32_t filter_bits(uint32_t value) {
    uint32_t m = (value ^ HASH_SALT) * SECOND_MULTIPLIER;
    return (1u << (m >> 27)) | (1u << ((m >> 22) & 31)) | (1u << ((m >> 17) & 31));
}

inline uint32_t popcount32(uint32_t v) {
    uint32_t n = 0;
    for (; v; v &= v - 1)
        n++;
    return n;
}

// Calls `visit` with every value that agrees with `value` on the bits of `mask`.
template <typename Visit> void expand_anchor(uint32_t value, uint32_t mask, Visit visit) {
    const uint32_t free = ~mask;
    uint32_t sub = 0;
    do { // every subset of the free bits, once
        visit(value | sub);
        sub = (sub - free) & free;
    } while (sub != 0);
}

// The words that the literal scan visits, segment by segment: the cursor starts at the first
// segment's first word, never moves back, and jumps forward to the next segment's first word
// once a segment is done. Words past the file are dropped: every pattern byte there would lie
// outside the file, so they cannot match.
void scan_ranges(ImageScan& scan) {
    const RangeSet* set = scan.set;
    uint32_t file_words = scan.size / 4 + (scan.size % 4 != 0);
    uint32_t w = set->file_offset[0] / 4;
    scan.total_words = 0;
    for (uint32_t k = 0; k < set->count; k++) {
        uint32_t last = set->file_offset[k] / 4 + set->file_size[k] / 4;
        if (w < last) {
            uint32_t end = std::min(last, file_words);
            if (w < end) {
                scan.ranges.push_back({k, w, end});
                scan.total_words += end - w;
            }
            w = last;
        }
        if (k + 1 < set->count && w < set->file_offset[k + 1] / 4)
            w = set->file_offset[k + 1] / 4;
    }
}

// Builds the entry of pattern i at `shift` into entry, its (value, mask) pairs into qwords,
// and leaves its byte string in `value` and `mask` (sized and zeroed by the caller).
void entry_build(MatchPlan& plan, uint32_t i, uint32_t shift, uint32_t flip, Entry& entry,
                 std::vector<uint8_t>& value, std::vector<uint8_t>& mask, uint32_t& words) {
    const PatternRecord* v = plan.values[i];
    const PatternRecord* m = plan.masks[i];
    uint32_t length = v->length;
    uint32_t extent = 0;
    uint32_t compared = 0;
    for (uint32_t n = 0; n < length; n++) {
        uint32_t u = (shift + (n ^ 3)) ^ flip;
        uint8_t mb = pattern_byte(m, n);
        mask[u] = mb;
        value[u] = pattern_byte(v, n) & mb;
        extent = std::max(extent, u + 1);
        if (mb)
            compared = std::max(compared, u + 1);
    }
    entry.pattern = i;
    entry.shift = shift;
    entry.length = length;
    entry.need_end = extent;
    entry.first_qword = uint32_t(plan.qwords.size() / 2);
    entry.qword_count = (compared + 7) / 8;
    for (uint32_t q = 0; q < entry.qword_count; q++) {
        plan.qwords.push_back(load64(value.data() + 8 * q));
        plan.qwords.push_back(load64(mask.data() + 8 * q));
    }
    words = std::max<uint32_t>(1, (extent + 3) / 4);
}

// The second word of an entry's slots: the neighbour of the anchor with the most fixed bits.
Slot slot_other(const Entry& e, const std::vector<uint8_t>& value, const std::vector<uint8_t>& mask,
                uint32_t words, uint32_t index) {
    int32_t other = 0;
    uint32_t other_bits = 0;
    for (int32_t d : {1, -1}) {
        int64_t g = int64_t(e.anchor) + d;
        if (g < 0 || g >= int64_t(words))
            continue;
        uint32_t bits = popcount32(load32(mask.data() + 4 * g));
        if (bits > other_bits) {
            other_bits = bits;
            other = d;
        }
    }
    Slot slot{0, index << 2, 0, 0};
    if (other) {
        slot.link |= other > 0 ? 1 : 2;
        slot.other_value = load32(value.data() + 4 * (int64_t(e.anchor) + other));
        slot.other_mask = load32(mask.data() + 4 * (int64_t(e.anchor) + other));
    }
    return slot;
}

// How common a word is likely to be in the files searched, guessed from the patterns alone
// (one plan serves many files): the patterns' own words, as the file holds them at the start of
// a match, are a sample of the code looked for. A word's two 16-bit halves are counted apart,
// and the product of their shares estimates it: a stack load shares its upper half with many
// words and its offset with many more, a loaded address has a rare lower half.
struct WordGuess {
    std::vector<uint32_t> high, low;
    uint64_t words = 0;

    // Up to a few dozen patterns say too little to count (and tables for them would cost more
    // than a small search).
    void learn(const MatchPlan& plan) {
        if (plan.count < 64)
            return;
        high.assign(1u << 16, 0);
        low.assign(1u << 16, 0);
        for (uint32_t i = 0; i < plan.count; i++) {
            for (uint32_t g = 0; g < plan.values[i]->length / 4; g++) {
                uint32_t v = pattern_word(plan.values[i], g);
                uint32_t m = pattern_word(plan.masks[i], g);
                if (plan.swap)
                    v = __builtin_bswap32(v), m = __builtin_bswap32(m);
                if ((m & 0xFFFF) == 0xFFFF)
                    low[v & 0xFFFF]++;
                if (m >> 16 == 0xFFFF)
                    high[v >> 16]++;
                words++;
            }
        }
        learn_repeats(plan);
    }
    // Whole words that recur among the patterns far more often than chance allows: in code,
    // a handful of instructions (the stack adjustments `addiu sp, sp, -n` above all) each fill a
    // fraction of a percent of all words, and an anchor on one of them is hit tens of thousands
    // of times per file. Their halves look no more common than those of stack loads, which
    // recur a thousand times less, so the halves' product alone does not see them.
    std::vector<std::pair<uint32_t, uint32_t>> repeated; // (word, count)

    void learn_repeats(const MatchPlan& plan) {
        std::vector<uint32_t> all;
        for (uint32_t i = 0; i < plan.count; i++) {
            for (uint32_t g = 0; g < plan.values[i]->length / 4; g++) {
                if (pattern_word(plan.masks[i], g) != ~0u)
                    continue;
                uint32_t v = pattern_word(plan.values[i], g);
                all.push_back(plan.swap ? __builtin_bswap32(v) : v);
            }
        }
        std::sort(all.begin(), all.end());
        for (size_t a = 0, b = 0; a < all.size(); a = b) {
            for (b = a + 1; b < all.size() && all[b] == all[a];)
                b++;
            if (b - a >= std::max<size_t>(REPEATED_WORD, all.size() / REPEATED_SHARE))
                repeated.push_back({all[a], uint32_t(b - a)});
        }
        // Every anchor considered is tested against the whole list: the commonest few do.
        if (repeated.size() > MAX_REPEATED) {
            std::partial_sort(repeated.begin(), repeated.begin() + MAX_REPEATED, repeated.end(),
                              [](const auto& x, const auto& y) { return x.second > y.second; });
            repeated.resize(MAX_REPEATED);
        }
    }
    // The extra cost of an anchor (value, mask) for the repeated words it stands for, from
    // their share of the patterns' words (which is about their share of the file's): a stack
    // adjustment (a quarter of a percent) loses even to a wildcard expansion of 4,096 slots of
    // a rare word. The list is short (a few dozen words for 10,000 patterns).
    uint64_t repeats(uint32_t value, uint32_t mask) const {
        uint64_t extra = 0;
        for (const auto& [word, count] : repeated)
            if ((word & mask) == value)
                extra += (uint64_t(count) << 26) / words;
        return extra;
    }

    // Likely matches of x per 256 words of pattern-like code, scaled by the sample size so
    // that a handful of patterns says little.
    uint64_t common(uint32_t x) const {
        return words ? uint64_t(high[x >> 16]) * low[x & 0xFFFF] * 256 / (words + 1) : 0;
    }
    uint64_t seen(uint32_t key) const {
        return words ? (key >> 16 ? high : low)[key & 0xFFFF] : 0;
    }
};

// A word of the entry with a fully fixed 16-bit half, as a half key (bit 16 set for the high
// half), preferring keys that fewer entries use and words that fix more bits; false when there
// is none. Halves of all zeros or all ones are everywhere in code and data, so they come last.
bool half_anchor(const std::vector<uint8_t>& value, const std::vector<uint8_t>& mask,
                 uint32_t words, const std::vector<uint16_t>& half_use, uint32_t use_bits,
                 const WordGuess& guess, uint32_t& anchor, uint32_t& key) {
    uint64_t best = UINT64_MAX;
    for (uint32_t g = 0; g < words; g++) {
        uint32_t am = load32(mask.data() + 4 * g);
        uint32_t av = load32(value.data() + 4 * g);
        for (uint32_t h = 0; h < 2; h++) {
            if (((am >> (16 * h)) & 0xFFFF) != 0xFFFF)
                continue;
            uint32_t half = (av >> (16 * h)) & 0xFFFF;
            uint32_t k = h << 16 | half;
            uint64_t used = half_use[hash_word(k, use_bits)];
            uint64_t penalty = half == 0 || half == 0xFFFF ? 1u << 20 : 0;
            uint64_t cost = (16 * guess.seen(k) + used + penalty) << 6 | (32 - popcount32(am));
            if (cost < best) {
                best = cost;
                anchor = g;
                key = k;
            }
        }
    }
    return best != UINT64_MAX;
}

// Picks each entry's anchor: the aligned word that costs the fewest table slots, counting each
// wildcard combination and the entries that already share the value (a value that many
// patterns share is likely common in code too). Entries that find none go to the half-word
// table, and those without a fixed half word are compared at every word.
void plan_anchors(MatchPlan& plan, const MatchPlanLimits& limits,
                  std::vector<std::pair<uint32_t, uint32_t>>& halves) {
    size_t pairs = size_t(plan.count) * (4 / plan.step);
    uint32_t use_bits = 8;
    while (use_bits < 16 && (size_t(1) << use_bits) < 4 * pairs)
        use_bits++;
    std::vector<uint16_t> used(size_t(1) << use_bits, 0);
    std::vector<uint16_t> half_use(used.size(), 0); // by hashed half key
    WordGuess guess;
    guess.learn(plan);
    uint32_t flip = plan.swap ? 3 : 0;
    bool direct_only = pairs <= DIRECT_ONLY_ENTRIES;
    size_t allowance = limits.expansion_slots
                           ? limits.expansion_slots
                           : std::min(BASE_EXPANSION_SLOTS, BASE_SLOTS_PER_ENTRY * pairs) +
                                 EXPANSION_SLOTS_PER_ENTRY * pairs;
    size_t expanded = 0;
    uint32_t longest = 0;
    for (uint32_t i = 0; i < plan.count; i++)
        longest = std::max(longest, plan.values[i]->length);
    size_t span = 4 * (size_t(longest) / 4 + 5);
    std::vector<uint8_t> value(span), mask(span);
    plan.entries.reserve(pairs);
    for (uint32_t i = 0; i < plan.count; i++) {
        for (uint32_t shift = 0; shift < 4; shift += plan.step) {
            Entry e{};
            uint32_t words = 1;
            entry_build(plan, i, shift, flip, e, value, mask, words);
            uint64_t best_cost = UINT64_MAX;
            uint32_t best = 0;
            uint32_t widest = 0;
            uint32_t widest_bits = 0;
            for (uint32_t g = 0; g < words; g++) {
                uint32_t am = load32(mask.data() + 4 * g);
                uint32_t av = load32(value.data() + 4 * g);
                uint32_t bits = popcount32(am);
                if (bits > widest_bits) {
                    widest_bits = bits;
                    widest = g;
                }
                // Each table slot costs at least 1: a word with more of them than the best
                // cost so far cannot win.
                uint64_t expansions = uint64_t(1) << (32 - bits);
                // One wildcard nibble (16 slots) is always allowed, so that the table's size
                // stays within 16 slots per entry; more only within the allowance.
                if (bits == 0 || 32 - bits > MAX_EXPANSION_BITS || expansions >= best_cost ||
                    (expansions > 1 && limits.exact_anchors_only) ||
                    (expansions > (limits.expansion_slots ? 1 : SMALL_EXPANSION) &&
                     expanded + expansions > allowance))
                    continue;
                uint64_t cost = 0;
                if (expansions <= 16) {
                    expand_anchor(av, am, [&](uint32_t x) {
                        cost += 1 + uint64_t(used[hash_word(x, use_bits)]) + guess.common(x);
                    });
                } else { // the wildcard value's own guess stands for all, to keep planning quick
                    // Large expansions use up the allowance that the entries after this one
                    // may need: they win only where every other word is poor.
                    cost = expansions * 16 *
                           (1 + uint64_t(used[hash_word(av, use_bits)]) + guess.common(av));
                }
                cost += guess.repeats(av, am);
                // Zero and all ones fill padding and data: a poor anchor in any file.
                if (av == 0 || av == ~0u)
                    cost += 64;
                if (cost < best_cost) {
                    best_cost = cost;
                    best = g;
                }
            }
            uint32_t index = uint32_t(plan.entries.size());
            uint32_t key = 0;
            bool hashed = best_cost != UINT64_MAX && !direct_only;
            e.anchor = hashed ? best : widest;
            bool halved = !hashed && !direct_only && !limits.no_half_words &&
                          half_anchor(value, mask, words, half_use, use_bits, guess, e.anchor, key);
            e.anchor_mask = load32(mask.data() + 4 * e.anchor);
            e.anchor_value = load32(value.data() + 4 * e.anchor);
            if (hashed) {
                Slot slot = slot_other(e, value, mask, words, index);
                size_t slots = size_t(1) << (32 - popcount32(e.anchor_mask));
                if (slots > SMALL_EXPANSION)
                    expanded += slots;
                expand_anchor(e.anchor_value, e.anchor_mask, [&](uint32_t x) {
                    uint16_t& u = used[hash_word(x, use_bits)];
                    if (u != 0xFFFF)
                        u++;
                    slot.value = x;
                    plan.slots.push_back(slot);
                });
            } else if (halved) {
                uint16_t& u = half_use[hash_word(key, use_bits)];
                if (u != 0xFFFF)
                    u++;
                halves.push_back({key, index});
            } else {
                plan.direct.push_back(index);
            }
            plan.max_anchor = std::max(plan.max_anchor, e.anchor);
            plan.entries.push_back(e);
            // Only what this entry wrote needs clearing for the next one: its words, and the
            // rest of its last 64-bit pair.
            size_t written = std::min(span, size_t(words) * 4 + 8);
            std::fill_n(value.begin(), written, 0);
            std::fill_n(mask.begin(), written, 0);
        }
    }
}

// The hash table of anchor values: a filter probed at every word, sized so that few probes pass
// by chance, and the slots grouped by bucket for the probes that do pass.
void plan_hash(MatchPlan& plan, bool halves) {
    if (plan.slots.empty() && !halves) {
        plan.hash_bits = 0;
        return;
    }
    uint32_t order = 0;
    while (order < 31 && (uint64_t(1) << order) < plan.slots.size())
        order++;
    // 64 to 128 bits per slot keep chance hits rare, as far as the cache allows.
    uint32_t bits = std::clamp<uint32_t>(order + 6, 12, MAX_FILTER_BITS);
    uint32_t bucket_bits = std::clamp<uint32_t>(order + 1, 4, std::min(bits, MAX_BUCKET_BITS));
    plan.hash_bits = bits;
    plan.bucket_shift = bits - bucket_bits;
    plan.filter.assign(size_t(1) << (bits - 5), 0);
    size_t buckets = size_t(1) << bucket_bits;
    plan.bucket_start.assign(buckets + 1, 0);
    // The slots' words land all over 5 MiB of tables: fetching a few slots ahead keeps misses
    // in flight instead of waiting for each.
    constexpr size_t AHEAD = 16;
    const std::vector<Slot>& all = plan.slots;
    for (size_t i = 0; i < all.size(); i++) {
        if (i + AHEAD < all.size()) {
            uint32_t x = all[i + AHEAD].value;
            __builtin_prefetch(&plan.filter[filter_block(x, bits)], 1);
            __builtin_prefetch(&plan.bucket_start[(hash_word(x, bits) >> plan.bucket_shift) + 1],
                               1);
        }
        plan.filter[filter_block(all[i].value, bits)] |= filter_bits(all[i].value);
        plan.bucket_start[(hash_word(all[i].value, bits) >> plan.bucket_shift) + 1]++;
    }
    for (size_t b = 0; b < buckets; b++)
        plan.bucket_start[b + 1] += plan.bucket_start[b];
    std::vector<Slot> sorted(plan.slots.size());
    std::vector<uint32_t> fill(plan.bucket_start.begin(), plan.bucket_start.end() - 1);
    for (size_t i = 0; i < all.size(); i++) {
        if (i + AHEAD < all.size())
            __builtin_prefetch(&fill[hash_word(all[i + AHEAD].value, bits) >> plan.bucket_shift],
                               1);
        sorted[fill[hash_word(all[i].value, bits) >> plan.bucket_shift]++] = all[i];
    }
    plan.slots.swap(sorted);
}

// The half-word table: a bit per half key, and the (key, entry) pairs sorted by key, for the
// few words whose bit is set.
void plan_halves(MatchPlan& plan, std::vector<std::pair<uint32_t, uint32_t>>& halves) {
    if (halves.empty())
        return;
    plan.half_filter.assign(HALF_KEYS / 32, 0);
    std::sort(halves.begin(), halves.end());
    for (const auto& [key, entry] : halves) {
        plan.half_filter[key / 32] |= 1u << (key % 32);
        plan.half_keys.push_back(key);
        plan.half_entries.push_back(entry);
    }
}

// How far past a chunk's end word scanning may read.
void plan_reach(MatchPlan& plan) {
    uint32_t widest = 0;
    for (const Entry& e : plan.entries)
        widest = std::max(widest, e.qword_count);
    // Probes reach the word after the last anchor (the second word of a slot).
    uint64_t reach = std::max<uint64_t>(4 * (uint64_t(plan.max_anchor) + 2), 8 * uint64_t(widest));
    plan.reach = uint32_t(reach);
}

// The zero-padded copy of the file's end that serves the chunks that would read past the file
// in place.
void scan_tail(ImageScan& scan) {
    uint32_t reach = scan.plan->reach;
    scan.safe_words = scan.size >= reach ? uint32_t((scan.size - reach) / 4) : 0;
    uint32_t start = 4 * scan.safe_words;
    scan.tail.assign(size_t(scan.size - start) + size_t(reach) + 64, 0);
    if (scan.size > start)
        std::memcpy(scan.tail.data(), scan.data + start, scan.size - start);
}

bool cpu_has_vectors() {
#ifdef QUARNEL_MATCH_X86
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

// The literal rule for entry e at word w, given that its anchor already agrees.
inline bool entry_matches(const ImageScan& scan, const Entry& e, const View& view, uint32_t w,
                          uint64_t segment_end) {
    uint64_t p = uint64_t(w) * 4 + e.shift;
    if (p + e.length > segment_end || uint64_t(w) * 4 + e.need_end > scan.size)
        return false;
    const uint8_t* at = view.base + (size_t(w) * 4 - view.start);
    const uint64_t* q = scan.plan->qwords.data() + 2 * size_t(e.first_qword);
    for (uint32_t j = 0; j < e.qword_count; j++)
        if ((load64(at + 8 * j) & q[2 * j + 1]) != q[2 * j])
            return false;
    return true;
}

inline uint64_t match_key(uint32_t w, uint32_t first, const Entry& e) {
    return uint64_t(w - first) << 34 | uint64_t(e.pattern) << 2 | e.shift;
}

// Candidate check shared by every pass: probe word y hit entry e's anchor.
inline void consider(const ImageScan& scan, const Entry& e, const View& view, uint32_t y,
                     uint32_t first, uint32_t end, uint64_t segment_end,
                     std::vector<uint64_t>& keys) {
    if (y - first < e.anchor || y - e.anchor >= end)
        return;
    uint32_t w = y - e.anchor;
    if (entry_matches(scan, e, view, w, segment_end))
        keys.push_back(match_key(w, first, e));
}

// Words whose probe bit is set, in blocks: hits.found[j] has bit b set for word
// hits.first[j] + b. Recording them without a branch per block and handling them afterwards
// spares the mispredicted jump out of the loop that every chance hit would otherwise cost.
struct ProbeHits {
    static constexpr uint32_t CAPACITY = 256;
    uint32_t first[CAPACITY];
    uint32_t found[CAPACITY];
    uint32_t count;
};

// The tables a probe tests: the filter of hashed anchors, and the bits of the half keys (null
// when no entry uses one).
struct Probe {
    const uint32_t* filter;
    uint32_t bits;
    const uint32_t* halves;
};

inline uint32_t half_bit(const uint32_t* halves, uint32_t key) {
    return halves[key / 32] >> (key % 32) & 1;
}

template <bool HALVES> inline uint32_t probe_one(const Probe& probe, uint32_t value) {
    uint32_t want = filter_bits(value);
    uint32_t found = (probe.filter[filter_block(value, probe.bits)] & want) == want;
    if (HALVES)
        found |= half_bit(probe.halves, value & 0xFFFF) |
                 half_bit(probe.halves, HALF_KEYS / 2 | value >> 16);
    return found;
}

// Probes words from y on, until stop or until `hits` is full. Returns the next word to probe.
template <bool HALVES>
__attribute__((noinline)) uint32_t probe_scalar(const uint8_t* base, uint32_t y, uint32_t stop,
                                                const Probe& probe, ProbeHits& hits) {
    uint32_t n = hits.count;
    for (; stop - y >= 4 && n < ProbeHits::CAPACITY; y += 4) {
        const uint8_t* at = base + size_t(y) * 4;
        // The hardware's own prefetch keeps too few lines in flight for this loop.
        __builtin_prefetch(at + PREFETCH_BYTES);
        uint32_t found = probe_one<HALVES>(probe, load32(at)) |
                         probe_one<HALVES>(probe, load32(at + 4)) << 1 |
                         probe_one<HALVES>(probe, load32(at + 8)) << 2 |
                         probe_one<HALVES>(probe, load32(at + 12)) << 3;
        hits.first[n] = y;
        hits.found[n] = found;
        n += found != 0;
    }
    for (; y < stop && n < ProbeHits::CAPACITY; y++) {
        uint32_t found = probe_one<HALVES>(probe, load32(base + size_t(y) * 4));
        hits.first[n] = y;
        hits.found[n] = found;
        n += found != 0;
    }
    hits.count = n;
    return y;
}

#ifdef QUARNEL_MATCH_X86
// Lanes of eight words whose probe passes the filter (or, with HALVES, whose half words name
// a key in use), as bits.
template <bool HALVES>
__attribute__((target("avx2"))) inline uint32_t
probe_lanes(__m256i x, const int* table, __m128i block_shift, const int* halves) {
    const __m256i first = _mm256_set1_epi32(int(HASH_MULTIPLIER));
    const __m256i second = _mm256_set1_epi32(int(SECOND_MULTIPLIER));
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i low = _mm256_set1_epi32(31);
    const __m256i salted = _mm256_xor_si256(x, _mm256_set1_epi32(int(HASH_SALT)));
    __m256i block = _mm256_srl_epi32(_mm256_mullo_epi32(salted, first), block_shift);
    __m256i m = _mm256_mullo_epi32(salted, second);
    __m256i want = _mm256_or_si256(
        _mm256_or_si256(_mm256_sllv_epi32(one, _mm256_srli_epi32(m, 27)),
                        _mm256_sllv_epi32(one, _mm256_and_si256(_mm256_srli_epi32(m, 22), low))),
        _mm256_sllv_epi32(one, _mm256_and_si256(_mm256_srli_epi32(m, 17), low)));
    __m256i have = _mm256_i32gather_epi32(table, block, 4);
    __m256i hit = _mm256_cmpeq_epi32(_mm256_and_si256(have, want), want);
    if (HALVES) {
        __m256i lo = _mm256_and_si256(x, _mm256_set1_epi32(0xFFFF));
        __m256i hi = _mm256_or_si256(_mm256_srli_epi32(x, 16), _mm256_set1_epi32(HALF_KEYS / 2));
        __m256i a = _mm256_srlv_epi32(_mm256_i32gather_epi32(halves, _mm256_srli_epi32(lo, 5), 4),
                                      _mm256_and_si256(lo, low));
        __m256i b = _mm256_srlv_epi32(_mm256_i32gather_epi32(halves, _mm256_srli_epi32(hi, 5), 4),
                                      _mm256_and_si256(hi, low));
        __m256i any = _mm256_and_si256(_mm256_or_si256(a, b), one);
        hit = _mm256_or_si256(hit, _mm256_cmpeq_epi32(any, one));
    }
    return uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(hit)));
}

// probe_scalar, sixteen words at a time.
template <bool HALVES>
__attribute__((target("avx2"), noinline)) uint32_t
probe_avx2(const uint8_t* base, uint32_t y, uint32_t stop, const Probe& probe, ProbeHits& hits) {
    const __m128i block_shift = _mm_cvtsi32_si128(int(37 - probe.bits));
    const int* table = reinterpret_cast<const int*>(probe.filter);
    const int* halves = reinterpret_cast<const int*>(probe.halves);
    uint32_t n = hits.count;
    for (; stop - y >= 16 && n < ProbeHits::CAPACITY; y += 16) {
        const uint8_t* at = base + size_t(y) * 4;
        _mm_prefetch(reinterpret_cast<const char*>(at + PREFETCH_BYTES), _MM_HINT_T0);
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32));
        uint32_t found = probe_lanes<HALVES>(a, table, block_shift, halves) |
                         probe_lanes<HALVES>(b, table, block_shift, halves) << 8;
        hits.first[n] = y;
        hits.found[n] = found;
        n += found != 0;
    }
    hits.count = n;
    return probe_scalar<HALVES>(base, y, stop, probe, hits);
}
#endif

// The entries that word `at` (value v) may anchor, from both tables.
template <bool HALVES>
inline void probe_hit(const ImageScan& scan, const View& view, uint32_t at, uint32_t first,
                      uint32_t end, uint64_t segment_end, std::vector<uint64_t>& keys) {
    const MatchPlan& plan = *scan.plan;
    const uint8_t* base = view.base - view.start;
    uint32_t v = load32(base + size_t(at) * 4);
    uint32_t b = hash_word(v, plan.hash_bits) >> plan.bucket_shift;
    // A hit of the half keys alone leaves the table's buckets, which rarely sit in the cache,
    // unread.
    uint32_t want = filter_bits(v);
    bool hashed = !HALVES || (plan.filter[filter_block(v, plan.hash_bits)] & want) == want;
    for (uint32_t s = hashed ? plan.bucket_start[b] : 0,
                  stop = hashed ? plan.bucket_start[b + 1] : 0;
         s < stop; s++) {
        const Slot& slot = plan.slots[s];
        if (slot.value != v)
            continue;
        // The word before `at` is in the view unless `at` is the chunk's first word, where no
        // entry that anchors past its first word can start.
        uint32_t where = slot.link & 3;
        if (where == 2 && at == first)
            continue;
        size_t other = where == 1 ? size_t(at) + 1 : size_t(at) - (where == 2);
        if ((load32(base + other * 4) & slot.other_mask) != slot.other_value)
            continue;
        consider(scan, plan.entries[slot.link >> 2], view, at, first, end, segment_end, keys);
    }
    if (!HALVES)
        return;
    for (uint32_t key : {v & 0xFFFF, HALF_KEYS / 2 | v >> 16}) {
        if (!half_bit(plan.half_filter.data(), key))
            continue;
        size_t s = std::lower_bound(plan.half_keys.begin(), plan.half_keys.end(), key) -
                   plan.half_keys.begin();
        for (; s < plan.half_keys.size() && plan.half_keys[s] == key; s++) {
            const Entry& e = plan.entries[plan.half_entries[s]];
            if ((v & e.anchor_mask) == e.anchor_value)
                consider(scan, e, view, at, first, end, segment_end, keys);
        }
    }
}

template <bool HALVES>
void scan_probed(const ImageScan& scan, const View& view, uint32_t first, uint32_t end,
                 uint64_t segment_end, std::vector<uint64_t>& keys) {
    const MatchPlan& plan = *scan.plan;
    const Probe probe{plan.filter.data(), plan.hash_bits, plan.half_filter.data()};
    const uint8_t* base = view.base - view.start;
    uint32_t stop = end + plan.max_anchor;
    ProbeHits hits;
    for (uint32_t y = first; y < stop;) {
        hits.count = 0;
#ifdef QUARNEL_MATCH_X86
        y = scan.vectors ? probe_avx2<HALVES>(base, y, stop, probe, hits)
                         : probe_scalar<HALVES>(base, y, stop, probe, hits);
#else
        y = probe_scalar<HALVES>(base, y, stop, probe, hits);
#endif
        for (uint32_t j = 0; j < hits.count; j++)
            for (uint32_t found = hits.found[j]; found; found &= found - 1)
                probe_hit<HALVES>(scan, view, hits.first[j] + uint32_t(__builtin_ctz(found)), first,
                                  end, segment_end, keys);
    }
}

// Compares the words [from, to) against up to four entries' anchors, the portable way.
void scan_direct_portable(const ImageScan& scan, const View& view, const uint32_t* group,
                          uint32_t n, uint32_t from, uint32_t to, uint32_t first, uint32_t end,
                          uint64_t segment_end, std::vector<uint64_t>& keys) {
    const uint8_t* base = view.base - view.start;
    for (uint32_t y = from; y < to; y++) {
        uint32_t v = load32(base + size_t(y) * 4);
        for (uint32_t j = 0; j < n; j++) {
            const Entry& e = scan.plan->entries[group[j]];
            if ((v & e.anchor_mask) == e.anchor_value)
                consider(scan, e, view, y, first, end, segment_end, keys);
        }
    }
}

#ifdef QUARNEL_MATCH_X86
// Lanes of eight words in which some of the N anchors agree, as bits.
template <uint32_t N>
__attribute__((target("avx2"))) inline uint32_t anchor_lanes(__m256i x, const __m256i* value,
                                                             const __m256i* mask) {
    __m256i t = _mm256_cmpeq_epi32(_mm256_and_si256(x, mask[0]), value[0]);
    for (uint32_t j = 1; j < N; j++)
        t = _mm256_or_si256(t, _mm256_cmpeq_epi32(_mm256_and_si256(x, mask[j]), value[j]));
    return uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(t)));
}

template <uint32_t N>
__attribute__((target("avx2"))) void
scan_direct_avx2(const ImageScan& scan, const View& view, const uint32_t* group, uint32_t from,
                 uint32_t to, uint32_t first, uint32_t end, uint64_t segment_end,
                 std::vector<uint64_t>& keys) {
    const uint8_t* base = view.base - view.start;
    __m256i value[N], mask[N];
    for (uint32_t j = 0; j < N; j++) {
        const Entry& e = scan.plan->entries[group[j]];
        value[j] = _mm256_set1_epi32(int(e.anchor_value));
        mask[j] = _mm256_set1_epi32(int(e.anchor_mask));
    }
    uint32_t y = from;
    for (; to - y >= 16; y += 16) {
        const uint8_t* at = base + size_t(y) * 4;
        _mm_prefetch(reinterpret_cast<const char*>(at + PREFETCH_BYTES), _MM_HINT_T0);
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32));
        uint32_t found = anchor_lanes<N>(a, value, mask) | anchor_lanes<N>(b, value, mask) << 8;
        while (found) {
            uint32_t bit = uint32_t(__builtin_ctz(found));
            found &= found - 1;
            scan_direct_portable(scan, view, group, N, y + bit, y + bit + 1, first, end,
                                 segment_end, keys);
        }
    }
    scan_direct_portable(scan, view, group, N, y, to, first, end, segment_end, keys);
}

void scan_direct_vector(const ImageScan& scan, const View& view, const uint32_t* group, uint32_t n,
                        uint32_t from, uint32_t to, uint32_t first, uint32_t end,
                        uint64_t segment_end, std::vector<uint64_t>& keys) {
    switch (n) {
    case 1:
        return scan_direct_avx2<1>(scan, view, group, from, to, first, end, segment_end, keys);
    case 2:
        return scan_direct_avx2<2>(scan, view, group, from, to, first, end, segment_end, keys);
    case 3:
        return scan_direct_avx2<3>(scan, view, group, from, to, first, end, segment_end, keys);
    default:
        return scan_direct_avx2<4>(scan, view, group, from, to, first, end, segment_end, keys);
    }
}
#endif

void scan_direct(const ImageScan& scan, const View& view, uint32_t first, uint32_t end,
                 uint64_t segment_end, std::vector<uint64_t>& keys) {
    const MatchPlan& plan = *scan.plan;
    for (size_t at = 0; at < plan.direct.size(); at += 4) {
        uint32_t n = uint32_t(std::min<size_t>(4, plan.direct.size() - at));
        const uint32_t* group = plan.direct.data() + at;
        uint32_t low = UINT32_MAX, high = 0;
        for (uint32_t j = 0; j < n; j++) {
            low = std::min(low, plan.entries[group[j]].anchor);
            high = std::max(high, plan.entries[group[j]].anchor);
        }
#ifdef QUARNEL_MATCH_X86
        if (scan.vectors) {
            scan_direct_vector(scan, view, group, n, first + low, end + high, first, end,
                               segment_end, keys);
            continue;
        }
#endif
        scan_direct_portable(scan, view, group, n, first + low, end + high, first, end, segment_end,
                             keys);
    }
}

// Scans one chunk and makes the list of its matches, in the engine's order.
bool scan_chunk(Worker& worker, Chunk& chunk) {
    const ImageScan& scan = *worker.scan;
    const MatchPlan& plan = *scan.plan;
    const WordRange& range = scan.ranges[chunk.range];
    View view = chunk.at_end ? View{scan.tail.data(), 4 * scan.safe_words} : View{scan.data, 0};
    uint32_t k = range.segment;
    uint64_t segment_end = uint64_t(scan.set->file_offset[k]) + scan.set->file_size[k];
    std::vector<uint64_t>& keys = worker.keys;
    keys.clear();
    if (!plan.half_entries.empty())
        scan_probed<true>(scan, view, chunk.first, chunk.end, segment_end, keys);
    else if (plan.hash_bits)
        scan_probed<false>(scan, view, chunk.first, chunk.end, segment_end, keys);
    if (!plan.direct.empty())
        scan_direct(scan, view, chunk.first, chunk.end, segment_end, keys);
    std::sort(keys.begin(), keys.end());
    uint32_t delta = scan.set->address_delta[k];
    MatchList list{nullptr, nullptr};
    list.tail = &list.head;
    bool ok = true;
    for (uint64_t key : keys) {
        uint32_t w = chunk.first + uint32_t(key >> 34);
        uint32_t i = uint32_t(key >> 2);
        uint32_t p = 4 * w + uint32_t(key & 3);
        if (!append_match(&list, plan.values[i], plan.masks[i], p + delta, p)) {
            ok = false;
            break;
        }
    }
    chunk.head = list.head;
    chunk.tail = list.head ? list.tail : nullptr;
    return ok;
}

// Takes chunks until none is left or a thread has run out of memory.
void worker_run(Worker& worker) {
    try {
        while (!worker.failed->load(std::memory_order_relaxed)) {
            size_t i = worker.next->fetch_add(1, std::memory_order_relaxed);
            if (i >= worker.chunks->size())
                return;
            if (!scan_chunk(worker, (*worker.chunks)[i]))
                worker.failed->store(true);
        }
    } catch (const std::bad_alloc&) {
        worker.failed->store(true);
    }
}

// Cuts the word ranges into chunks, and apart where reading in place would pass the file.
void scan_chunks(const ImageScan& scan, std::vector<Chunk>& chunks) {
    for (uint32_t r = 0; r < scan.ranges.size(); r++) {
        uint32_t w = scan.ranges[r].first;
        uint32_t stop = scan.ranges[r].end;
        while (w < stop) {
            uint32_t end = stop - w > scan.chunk_words ? w + scan.chunk_words : stop;
            bool at_end = false;
            if (end > scan.safe_words) {
                if (w < scan.safe_words)
                    end = scan.safe_words;
                else
                    at_end = true;
            }
            chunks.push_back({r, w, end, at_end, nullptr, nullptr});
            w = end;
        }
    }
}

uint32_t pick_threads(const ImageScan& scan, const MatchFastTuning* tuning) {
    if (tuning && tuning->threads)
        return std::min<uint32_t>(tuning->threads, 64);
    if (scan.total_words * 4 < THREADED_SCAN_BYTES)
        return 1;
    uint32_t cores = std::thread::hardware_concurrency();
    return std::max<uint32_t>(1, std::min(cores, MAX_THREADS));
}

template <typename T> size_t held(const std::vector<T>& v) {
    return v.capacity() * sizeof(T);
}

} // namespace

MatchPlan* match_plan_build_limited(bool swap, uint32_t step, uint32_t count,
                                    PatternRecord** values, PatternRecord** masks,
                                    const MatchPlanLimits* limits) {
    if (step != 1 && step != 2 && step != 4)
        return nullptr;
    MatchPlan* plan = new (std::nothrow) MatchPlan{};
    if (!plan)
        return nullptr;
    try {
        plan->swap = swap;
        plan->step = step;
        plan->count = count;
        plan->values = values;
        plan->masks = masks;
        std::vector<std::pair<uint32_t, uint32_t>> halves;
        plan_anchors(*plan, limits ? *limits : MatchPlanLimits{}, halves);
        plan_hash(*plan, !halves.empty());
        plan_halves(*plan, halves);
        plan_reach(*plan);
        plan->slots.shrink_to_fit();
        plan->direct.shrink_to_fit();
    } catch (const std::bad_alloc&) {
        delete plan;
        return nullptr;
    }
    return plan;
}

MatchPlan* match_plan_build(bool swap, uint32_t step, uint32_t count, PatternRecord** values,
                            PatternRecord** masks) {
    return match_plan_build_limited(swap, step, count, values, masks, nullptr);
}

int match_plan_find(const MatchPlan* plan, const ElfImage* image, bool executable, MatchList* list,
                    const MatchFastTuning* tuning) {
    const RangeSet* set = &image->ranges[executable ? 0 : 1];
    if (set->count == 0 || plan->entries.empty())
        return MATCH_FAST_DONE;
    std::vector<Chunk> chunks;
    try {
        ImageScan scan{};
        scan.plan = plan;
        scan.data = image->data;
        scan.size = image->size;
        scan.set = set;
        scan_ranges(scan);
        if (scan.ranges.empty())
            return MATCH_FAST_DONE;
        scan_tail(scan);
        // A chunk's word index must fit the 30 bits that a sort key leaves for it.
        scan.chunk_words = tuning && tuning->chunk_words
                               ? std::min<uint32_t>(tuning->chunk_words, 1u << 24)
                               : DEFAULT_CHUNK_WORDS;
        scan.vectors = !(tuning && tuning->portable) && cpu_has_vectors();
        scan_chunks(scan, chunks);

        uint32_t threads = std::min<uint32_t>(pick_threads(scan, tuning), uint32_t(chunks.size()));
        std::atomic<size_t> next{0};
        std::atomic<bool> failed{false};
        std::vector<Worker> workers(threads);
        for (Worker& w : workers)
            w = Worker{&scan, &chunks, &next, &failed, {}};
        std::vector<std::thread> helpers;
        for (uint32_t t = 1; t < threads; t++) {
            try {
                helpers.emplace_back(worker_run, std::ref(workers[t]));
            } catch (...) {
                // No thread to be had: the others take its chunks.
                break;
            }
        }
        worker_run(workers[0]);
        for (std::thread& h : helpers)
            h.join();
        if (failed.load()) {
            for (Chunk& c : chunks)
                free_matches(c.head);
            return MATCH_FAST_NO_MEMORY;
        }
    } catch (const std::bad_alloc&) {
        for (Chunk& c : chunks)
            free_matches(c.head);
        return MATCH_FAST_NO_MEMORY;
    }
    for (Chunk& c : chunks) {
        if (!c.head)
            continue;
        *list->tail = c.head;
        list->tail = c.tail;
    }
    return MATCH_FAST_DONE;
}

MatchPlanStats match_plan_stats(const MatchPlan* plan) {
    MatchPlanStats stats{};
    stats.entries = plan->entries.size();
    stats.table_slots = plan->slots.size();
    stats.half_words = plan->half_entries.size();
    stats.direct = plan->direct.size();
    stats.bytes = sizeof(MatchPlan) + held(plan->entries) + held(plan->qwords) +
                  held(plan->direct) + held(plan->filter) + held(plan->bucket_start) +
                  held(plan->slots) + held(plan->half_filter) + held(plan->half_keys) +
                  held(plan->half_entries);
    return stats;
}

void match_plan_free(MatchPlan* plan) {
    delete plan;
}

int match_fast_find(const ElfImage* image, bool executable, bool swap, uint32_t step,
                    uint32_t count, PatternRecord** values, PatternRecord** masks, MatchList* list,
                    const MatchFastTuning* tuning) {
    if (step != 1 && step != 2 && step != 4)
        return MATCH_FAST_UNSUPPORTED;
    const RangeSet* set = &image->ranges[executable ? 0 : 1];
    if (set->count == 0 || count == 0)
        return MATCH_FAST_DONE;
    MatchPlan* plan = match_plan_build(swap, step, count, values, masks);
    if (!plan)
        return MATCH_FAST_NO_MEMORY;
    int result = match_plan_find(plan, image, executable, list, tuning);
    match_plan_free(plan);
    return result;
}
