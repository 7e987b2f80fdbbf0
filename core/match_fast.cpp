// The fast scan. The comparison rule reads the file byte (p + (n ^ 3)) ^ e for pattern byte n,
// where p = 4w + s. Seen from the start of word w, every (pattern, shift) pair therefore
// compares one fixed masked byte string against the file bytes from 4w on: "Big" moves the
// pattern's stored words s bytes forward, "Little" also flips every four-byte group. Such a pair
// is an "entry" below. Each entry picks one of its aligned 32-bit words as an anchor; the file
// is probed once per word, and only words whose probe hits an anchor are verified, with masked
// compares over whole 64-bit words. Candidate words never overlap between chunks, and the
// matches of a chunk are sorted into the engine's order (word, pattern, shift) before they are
// appended, so the list equals the literal engine's.

#include "match_fast.h"

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
// An anchor with more wildcard bits than this goes through the per-word compare instead of the
// hash table: 2^8 table slots for one anchor is the most that still pays.
constexpr uint32_t MAX_EXPANSION_BITS = 8;
// Past this many table slots, only anchors without wildcard bits join the table, so that a
// list of many patterns full of wildcards cannot make the table grow without bound.
constexpr size_t MAX_SLOTS = size_t(1) << 16;
// Up to this many entries in all, every entry is compared directly at every word: a handful of
// vector compares costs less than a hash probe.
constexpr size_t DIRECT_ONLY_ENTRIES = 4;
constexpr uint32_t DEFAULT_CHUNK_WORDS = 32768;
constexpr uint64_t THREADED_SCAN_BYTES = 8u << 20;
constexpr uint32_t MAX_THREADS = 4;
constexpr uint32_t SAMPLE_BITS = 16;
constexpr size_t PREFETCH_BYTES = 2048;

// One (pattern, shift) pair, seen from the start of its candidate word.
struct Entry {
    uint32_t pattern;
    uint32_t shift;
    uint32_t length;   // the pattern's length L
    uint32_t need_end; // the pattern's bytes lie below 4w + need_end: all must be in the file
    uint32_t anchor;   // anchor word index g: the probe at word w + g finds this entry
    uint32_t anchor_value;
    uint32_t anchor_mask;
    uint32_t first_qword; // (value, mask) pairs in FastPlan::qwords
    uint32_t qword_count;
};

// One hashed anchor value of an entry, with a second word of the entry (the one after the
// anchor, or before it when the anchor is last) that turns most chance hits away before the
// entry itself is read: single instruction words such as stack loads are common, pairs are not.
struct Slot {
    uint32_t value;
    uint32_t entry;
    uint32_t anchor; // the entry's anchor word index, so that the range test needs no entry
    int32_t other;   // +1 or -1: where the second word lies from the anchor; 0: none
    uint32_t other_value;
    uint32_t other_mask;
};

// Consecutive candidate words of one segment: [first, end).
struct WordRange {
    uint32_t segment;
    uint32_t first;
    uint32_t end;
};

struct FastPlan {
    const uint8_t* data;
    uint32_t size;
    const RangeSet* set;
    PatternRecord** values;
    PatternRecord** masks;
    std::vector<WordRange> ranges;
    uint64_t total_words;
    std::vector<Entry> entries;
    std::vector<uint64_t> qwords;
    std::vector<uint32_t> direct; // entries compared at every word
    uint32_t hash_bits;           // 0: no hashed entry; else log2 of the filter's bits
    uint32_t bucket_shift;        // a probe's bucket: its hash shifted right by this
    std::vector<uint32_t> filter; // 2^(hash_bits - 5) blocks of 32 bits
    std::vector<uint32_t> bucket_start;
    std::vector<Slot> slots;
    uint32_t max_anchor;
    uint32_t reach;            // bytes past a chunk's end word that scanning the chunk may read
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
    const FastPlan* plan;
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
    return (value * HASH_MULTIPLIER) >> (32 - bits);
}

// The filter is a Bloom filter of 32-bit blocks: a value sets two bits of one block, so one
// load per probe tests both, and a chance hit needs both bits set by other values.
inline uint32_t filter_block(uint32_t value, uint32_t bits) {
    return hash_word(value, bits - 5);
}

inline uint32_t filter_bits(uint32_t value) {
    uint32_t m = value * SECOND_MULTIPLIER;
    return (1u << (m >> 27)) | (1u << ((m >> 22) & 31));
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
void plan_ranges(FastPlan& plan) {
    const RangeSet* set = plan.set;
    uint32_t file_words = plan.size / 4 + (plan.size % 4 != 0);
    uint32_t w = set->file_offset[0] / 4;
    plan.total_words = 0;
    for (uint32_t k = 0; k < set->count; k++) {
        uint32_t last = set->file_offset[k] / 4 + set->file_size[k] / 4;
        if (w < last) {
            uint32_t end = std::min(last, file_words);
            if (w < end) {
                plan.ranges.push_back({k, w, end});
                plan.total_words += end - w;
            }
            w = last;
        }
        if (k + 1 < set->count && w < set->file_offset[k + 1] / 4)
            w = set->file_offset[k + 1] / 4;
    }
}

// Counts hashed word values over a sample of the candidate words, to tell rare anchors from
// common ones (no-operations, stack adjustments) in this very file.
void plan_sample(const FastPlan& plan, std::vector<uint16_t>& counts) {
    constexpr uint64_t block = 1024;
    constexpr uint64_t blocks = 64;
    uint64_t stride = plan.total_words <= block * blocks ? block : plan.total_words / blocks;
    for (uint64_t at = 0; at < plan.total_words; at += stride) {
        // Map the global index to a word of its range.
        uint64_t skip = at;
        for (const WordRange& r : plan.ranges) {
            uint64_t n = r.end - r.first;
            if (skip >= n) {
                skip -= n;
                continue;
            }
            uint64_t take = std::min<uint64_t>(block, n - skip);
            for (uint64_t j = 0; j < take; j++) {
                uint32_t w = r.first + uint32_t(skip + j);
                if (uint64_t(w) * 4 + 4 > plan.size)
                    break;
                uint16_t& c = counts[hash_word(load32(plan.data + 4 * w), SAMPLE_BITS)];
                if (c != 0xFFFF)
                    c++;
            }
            break;
        }
    }
}

// Builds the entry of pattern i at `shift` into entry, its (value, mask) pairs into qwords,
// and leaves its byte string in `value` and `mask` (sized and zeroed by the caller).
void entry_build(FastPlan& plan, uint32_t i, uint32_t shift, uint32_t flip, Entry& entry,
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

// Fills in the second word of the slots just made for entry `index`: the neighbour of the
// anchor with the most fixed bits.
void slots_link(FastPlan& plan, uint32_t index, const Entry& e, const std::vector<uint8_t>& value,
                const std::vector<uint8_t>& mask, uint32_t words) {
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
    uint32_t ov = other ? load32(value.data() + 4 * (int64_t(e.anchor) + other)) : 0;
    uint32_t om = other ? load32(mask.data() + 4 * (int64_t(e.anchor) + other)) : 0;
    for (size_t i = plan.slots.size(); i-- > 0 && plan.slots[i].entry == index;) {
        plan.slots[i].anchor = e.anchor;
        plan.slots[i].other = other;
        plan.slots[i].other_value = ov;
        plan.slots[i].other_mask = om;
    }
}

// Picks each entry's anchor: the aligned word whose probe value is rarest in the file sample,
// counting each wildcard combination and the entries that already share the value. Entries
// whose every word has too many wildcard bits are compared at every word.
void plan_anchors(FastPlan& plan, bool swap, uint32_t step, uint32_t count) {
    std::vector<uint16_t> counts(size_t(1) << SAMPLE_BITS, 0);
    std::vector<uint16_t> used(size_t(1) << SAMPLE_BITS, 0);
    plan_sample(plan, counts);
    uint32_t flip = swap ? 3 : 0;
    size_t pairs = size_t(count) * (4 / step);
    bool direct_only = pairs <= DIRECT_ONLY_ENTRIES;
    uint32_t longest = 0;
    for (uint32_t i = 0; i < count; i++)
        longest = std::max(longest, plan.values[i]->length);
    size_t span = 4 * (size_t(longest) / 4 + 5);
    std::vector<uint8_t> value(span), mask(span);
    plan.entries.reserve(pairs);
    for (uint32_t i = 0; i < count; i++) {
        for (uint32_t shift = 0; shift < 4; shift += step) {
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
                if (bits == 0 || 32 - bits > MAX_EXPANSION_BITS || expansions >= best_cost ||
                    (expansions > 1 && plan.slots.size() + expansions > MAX_SLOTS))
                    continue;
                uint64_t cost = 0;
                expand_anchor(av, am, [&](uint32_t x) {
                    uint32_t h = hash_word(x, SAMPLE_BITS);
                    cost += uint64_t(counts[h]) * 16 * (1 + used[h]) + 1;
                });
                if (cost < best_cost) {
                    best_cost = cost;
                    best = g;
                }
            }
            bool hashed = best_cost != UINT64_MAX;
            e.anchor = hashed ? best : widest;
            e.anchor_mask = load32(mask.data() + 4 * e.anchor);
            e.anchor_value = load32(value.data() + 4 * e.anchor);
            uint32_t index = uint32_t(plan.entries.size());
            if (hashed && !direct_only) {
                expand_anchor(e.anchor_value, e.anchor_mask, [&](uint32_t x) {
                    uint16_t& u = used[hash_word(x, SAMPLE_BITS)];
                    if (u != 0xFFFF)
                        u++;
                    plan.slots.push_back({x, index, 0, 0, 0, 0});
                });
            } else {
                plan.direct.push_back(index);
            }
            plan.max_anchor = std::max(plan.max_anchor, e.anchor);
            plan.entries.push_back(e);
            if (hashed && !direct_only)
                slots_link(plan, index, e, value, mask, words);
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
void plan_hash(FastPlan& plan) {
    if (plan.slots.empty()) {
        plan.hash_bits = 0;
        return;
    }
    uint32_t order = 0;
    while (order < 31 && (uint64_t(1) << order) < plan.slots.size())
        order++;
    // 64 to 128 bits per slot keep chance hits rare, but a filter that leaves the first two
    // cache levels costs more than the hits it saves.
    uint32_t bits = std::clamp<uint32_t>(order + 6, 12, 20);
    uint32_t bucket_bits = std::clamp<uint32_t>(order + 1, 4, bits);
    plan.hash_bits = bits;
    plan.bucket_shift = bits - bucket_bits;
    plan.filter.assign(size_t(1) << (bits - 5), 0);
    size_t buckets = size_t(1) << bucket_bits;
    plan.bucket_start.assign(buckets + 1, 0);
    for (const Slot& s : plan.slots) {
        plan.filter[filter_block(s.value, bits)] |= filter_bits(s.value);
        plan.bucket_start[(hash_word(s.value, bits) >> plan.bucket_shift) + 1]++;
    }
    for (size_t b = 0; b < buckets; b++)
        plan.bucket_start[b + 1] += plan.bucket_start[b];
    std::vector<Slot> sorted(plan.slots.size());
    std::vector<uint32_t> fill(plan.bucket_start.begin(), plan.bucket_start.end() - 1);
    for (const Slot& s : plan.slots)
        sorted[fill[hash_word(s.value, bits) >> plan.bucket_shift]++] = s;
    plan.slots.swap(sorted);
}

// How far past a chunk scanning may read, and the zero-padded copy of the file's end that
// serves the chunks that would read past the file in place.
void plan_reach(FastPlan& plan) {
    uint32_t widest = 0;
    for (const Entry& e : plan.entries)
        widest = std::max(widest, e.qword_count);
    // Probes reach the word after the last anchor (the second word of a slot).
    uint64_t reach = std::max<uint64_t>(4 * (uint64_t(plan.max_anchor) + 2), 8 * uint64_t(widest));
    plan.reach = uint32_t(reach);
    plan.safe_words = plan.size >= reach ? uint32_t((plan.size - reach) / 4) : 0;
    uint32_t start = 4 * plan.safe_words;
    plan.tail.assign(size_t(plan.size - start) + size_t(reach) + 64, 0);
    if (plan.size > start)
        std::memcpy(plan.tail.data(), plan.data + start, plan.size - start);
}

bool cpu_has_vectors() {
#ifdef QUARNEL_MATCH_X86
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

// The literal rule for entry e at word w, given that its anchor already agrees.
inline bool entry_matches(const FastPlan& plan, const Entry& e, const View& view, uint32_t w,
                          uint64_t segment_end) {
    uint64_t p = uint64_t(w) * 4 + e.shift;
    if (p + e.length > segment_end || uint64_t(w) * 4 + e.need_end > plan.size)
        return false;
    const uint8_t* at = view.base + (size_t(w) * 4 - view.start);
    const uint64_t* q = plan.qwords.data() + 2 * size_t(e.first_qword);
    for (uint32_t j = 0; j < e.qword_count; j++)
        if ((load64(at + 8 * j) & q[2 * j + 1]) != q[2 * j])
            return false;
    return true;
}

inline uint64_t match_key(uint32_t w, uint32_t first, const Entry& e) {
    return uint64_t(w - first) << 34 | uint64_t(e.pattern) << 2 | e.shift;
}

// Candidate check shared by both passes: probe word y hit entry e's anchor.
inline void consider(const FastPlan& plan, const Entry& e, const View& view, uint32_t y,
                     uint32_t first, uint32_t end, uint64_t segment_end,
                     std::vector<uint64_t>& keys) {
    if (y - first < e.anchor || y - e.anchor >= end)
        return;
    uint32_t w = y - e.anchor;
    if (entry_matches(plan, e, view, w, segment_end))
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

inline uint32_t probe_one(const uint32_t* filter, uint32_t value, uint32_t bits) {
    uint32_t want = filter_bits(value);
    return (filter[filter_block(value, bits)] & want) == want;
}

// Probes words from y on, until stop or until `hits` is full. Returns the next word to probe.
__attribute__((noinline)) uint32_t probe_scalar(const uint8_t* base, uint32_t y, uint32_t stop,
                                                const uint32_t* filter, uint32_t bits,
                                                ProbeHits& hits) {
    uint32_t n = hits.count;
    for (; stop - y >= 4 && n < ProbeHits::CAPACITY; y += 4) {
        const uint8_t* at = base + size_t(y) * 4;
        // The hardware's own prefetch keeps too few lines in flight for this loop.
        __builtin_prefetch(at + PREFETCH_BYTES);
        uint32_t found = probe_one(filter, load32(at), bits) |
                         probe_one(filter, load32(at + 4), bits) << 1 |
                         probe_one(filter, load32(at + 8), bits) << 2 |
                         probe_one(filter, load32(at + 12), bits) << 3;
        hits.first[n] = y;
        hits.found[n] = found;
        n += found != 0;
    }
    for (; y < stop && n < ProbeHits::CAPACITY; y++) {
        uint32_t found = probe_one(filter, load32(base + size_t(y) * 4), bits);
        hits.first[n] = y;
        hits.found[n] = found;
        n += found != 0;
    }
    hits.count = n;
    return y;
}

#ifdef QUARNEL_MATCH_X86
// Lanes of eight words whose probe passes the filter, as bits.
__attribute__((target("avx2"))) inline uint32_t probe_lanes(__m256i x, const int* table,
                                                            __m128i block_shift) {
    const __m256i first = _mm256_set1_epi32(int(HASH_MULTIPLIER));
    const __m256i second = _mm256_set1_epi32(int(SECOND_MULTIPLIER));
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i low = _mm256_set1_epi32(31);
    __m256i block = _mm256_srl_epi32(_mm256_mullo_epi32(x, first), block_shift);
    __m256i m = _mm256_mullo_epi32(x, second);
    __m256i want =
        _mm256_or_si256(_mm256_sllv_epi32(one, _mm256_srli_epi32(m, 27)),
                        _mm256_sllv_epi32(one, _mm256_and_si256(_mm256_srli_epi32(m, 22), low)));
    __m256i have = _mm256_i32gather_epi32(table, block, 4);
    __m256i hit = _mm256_cmpeq_epi32(_mm256_and_si256(have, want), want);
    return uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(hit)));
}

// probe_scalar, sixteen words at a time.
__attribute__((target("avx2"), noinline)) uint32_t probe_avx2(const uint8_t* base, uint32_t y,
                                                              uint32_t stop, const uint32_t* filter,
                                                              uint32_t bits, ProbeHits& hits) {
    const __m128i block_shift = _mm_cvtsi32_si128(int(37 - bits));
    const int* table = reinterpret_cast<const int*>(filter);
    uint32_t n = hits.count;
    for (; stop - y >= 16 && n < ProbeHits::CAPACITY; y += 16) {
        const uint8_t* at = base + size_t(y) * 4;
        _mm_prefetch(reinterpret_cast<const char*>(at + PREFETCH_BYTES), _MM_HINT_T0);
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32));
        uint32_t found = probe_lanes(a, table, block_shift) | probe_lanes(b, table, block_shift)
                                                                  << 8;
        hits.first[n] = y;
        hits.found[n] = found;
        n += found != 0;
    }
    hits.count = n;
    return probe_scalar(base, y, stop, filter, bits, hits);
}
#endif

void scan_hashed(const FastPlan& plan, const View& view, uint32_t first, uint32_t end,
                 uint64_t segment_end, std::vector<uint64_t>& keys) {
    const uint32_t bits = plan.hash_bits;
    const uint32_t* filter = plan.filter.data();
    const uint8_t* base = view.base - view.start;
    uint32_t stop = end + plan.max_anchor;
    ProbeHits hits;
    for (uint32_t y = first; y < stop;) {
        hits.count = 0;
#ifdef QUARNEL_MATCH_X86
        y = plan.vectors ? probe_avx2(base, y, stop, filter, bits, hits)
                         : probe_scalar(base, y, stop, filter, bits, hits);
#else
        y = probe_scalar(base, y, stop, filter, bits, hits);
#endif
        for (uint32_t j = 0; j < hits.count; j++) {
            for (uint32_t found = hits.found[j]; found; found &= found - 1) {
                uint32_t at = hits.first[j] + uint32_t(__builtin_ctz(found));
                uint32_t v = load32(base + size_t(at) * 4);
                uint32_t b = hash_word(v, bits) >> plan.bucket_shift;
                for (uint32_t s = plan.bucket_start[b]; s < plan.bucket_start[b + 1]; s++) {
                    const Slot& slot = plan.slots[s];
                    if (slot.value != v || at - first < slot.anchor || at - slot.anchor >= end)
                        continue;
                    // at - first >= anchor: the word before `at`, when needed, is in the view.
                    if ((load32(base + (size_t(at) + slot.other) * 4) & slot.other_mask) !=
                        slot.other_value)
                        continue;
                    consider(plan, plan.entries[slot.entry], view, at, first, end, segment_end,
                             keys);
                }
            }
        }
    }
}

// Compares the words [from, to) against up to four entries' anchors, the portable way.
void scan_direct_portable(const FastPlan& plan, const View& view, const uint32_t* group, uint32_t n,
                          uint32_t from, uint32_t to, uint32_t first, uint32_t end,
                          uint64_t segment_end, std::vector<uint64_t>& keys) {
    const uint8_t* base = view.base - view.start;
    for (uint32_t y = from; y < to; y++) {
        uint32_t v = load32(base + size_t(y) * 4);
        for (uint32_t j = 0; j < n; j++) {
            const Entry& e = plan.entries[group[j]];
            if ((v & e.anchor_mask) == e.anchor_value)
                consider(plan, e, view, y, first, end, segment_end, keys);
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
scan_direct_avx2(const FastPlan& plan, const View& view, const uint32_t* group, uint32_t from,
                 uint32_t to, uint32_t first, uint32_t end, uint64_t segment_end,
                 std::vector<uint64_t>& keys) {
    const uint8_t* base = view.base - view.start;
    __m256i value[N], mask[N];
    for (uint32_t j = 0; j < N; j++) {
        const Entry& e = plan.entries[group[j]];
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
            scan_direct_portable(plan, view, group, N, y + bit, y + bit + 1, first, end,
                                 segment_end, keys);
        }
    }
    scan_direct_portable(plan, view, group, N, y, to, first, end, segment_end, keys);
}

void scan_direct_vector(const FastPlan& plan, const View& view, const uint32_t* group, uint32_t n,
                        uint32_t from, uint32_t to, uint32_t first, uint32_t end,
                        uint64_t segment_end, std::vector<uint64_t>& keys) {
    switch (n) {
    case 1:
        return scan_direct_avx2<1>(plan, view, group, from, to, first, end, segment_end, keys);
    case 2:
        return scan_direct_avx2<2>(plan, view, group, from, to, first, end, segment_end, keys);
    case 3:
        return scan_direct_avx2<3>(plan, view, group, from, to, first, end, segment_end, keys);
    default:
        return scan_direct_avx2<4>(plan, view, group, from, to, first, end, segment_end, keys);
    }
}
#endif

void scan_direct(const FastPlan& plan, const View& view, uint32_t first, uint32_t end,
                 uint64_t segment_end, std::vector<uint64_t>& keys) {
    for (size_t at = 0; at < plan.direct.size(); at += 4) {
        uint32_t n = uint32_t(std::min<size_t>(4, plan.direct.size() - at));
        const uint32_t* group = plan.direct.data() + at;
        uint32_t low = UINT32_MAX, high = 0;
        for (uint32_t j = 0; j < n; j++) {
            low = std::min(low, plan.entries[group[j]].anchor);
            high = std::max(high, plan.entries[group[j]].anchor);
        }
#ifdef QUARNEL_MATCH_X86
        if (plan.vectors) {
            scan_direct_vector(plan, view, group, n, first + low, end + high, first, end,
                               segment_end, keys);
            continue;
        }
#endif
        scan_direct_portable(plan, view, group, n, first + low, end + high, first, end, segment_end,
                             keys);
    }
}

// Scans one chunk and makes the list of its matches, in the engine's order.
bool scan_chunk(Worker& worker, Chunk& chunk) {
    const FastPlan& plan = *worker.plan;
    const WordRange& range = plan.ranges[chunk.range];
    View view = chunk.at_end ? View{plan.tail.data(), 4 * plan.safe_words} : View{plan.data, 0};
    uint32_t k = range.segment;
    uint64_t segment_end = uint64_t(plan.set->file_offset[k]) + plan.set->file_size[k];
    std::vector<uint64_t>& keys = worker.keys;
    keys.clear();
    if (plan.hash_bits)
        scan_hashed(plan, view, chunk.first, chunk.end, segment_end, keys);
    if (!plan.direct.empty())
        scan_direct(plan, view, chunk.first, chunk.end, segment_end, keys);
    std::sort(keys.begin(), keys.end());
    uint32_t delta = plan.set->address_delta[k];
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
void plan_chunks(const FastPlan& plan, std::vector<Chunk>& chunks) {
    for (uint32_t r = 0; r < plan.ranges.size(); r++) {
        uint32_t w = plan.ranges[r].first;
        uint32_t stop = plan.ranges[r].end;
        while (w < stop) {
            uint32_t end = stop - w > plan.chunk_words ? w + plan.chunk_words : stop;
            bool at_end = false;
            if (end > plan.safe_words) {
                if (w < plan.safe_words)
                    end = plan.safe_words;
                else
                    at_end = true;
            }
            chunks.push_back({r, w, end, at_end, nullptr, nullptr});
            w = end;
        }
    }
}

uint32_t pick_threads(const FastPlan& plan, const MatchFastTuning* tuning) {
    if (tuning && tuning->threads)
        return std::min<uint32_t>(tuning->threads, 64);
    if (plan.total_words * 4 < THREADED_SCAN_BYTES)
        return 1;
    uint32_t cores = std::thread::hardware_concurrency();
    return std::max<uint32_t>(1, std::min(cores, MAX_THREADS));
}

} // namespace

int match_fast_find(const ElfImage* image, bool executable, bool swap, uint32_t step,
                    uint32_t count, PatternRecord** values, PatternRecord** masks, MatchList* list,
                    const MatchFastTuning* tuning) {
    if (step != 1 && step != 2 && step != 4)
        return MATCH_FAST_UNSUPPORTED;
    const RangeSet* set = &image->ranges[executable ? 0 : 1];
    if (set->count == 0 || count == 0)
        return MATCH_FAST_DONE;
    std::vector<Chunk> chunks;
    try {
        FastPlan plan{};
        plan.data = image->data;
        plan.size = image->size;
        plan.set = set;
        plan.values = values;
        plan.masks = masks;
        plan_ranges(plan);
        if (plan.ranges.empty())
            return MATCH_FAST_DONE;
        plan_anchors(plan, swap, step, count);
        plan_hash(plan);
        plan_reach(plan);
        // A chunk's word index must fit the 30 bits that a sort key leaves for it.
        plan.chunk_words = tuning && tuning->chunk_words
                               ? std::min<uint32_t>(tuning->chunk_words, 1u << 24)
                               : DEFAULT_CHUNK_WORDS;
        plan.vectors = !(tuning && tuning->portable) && cpu_has_vectors();

        plan_chunks(plan, chunks);

        uint32_t threads = std::min<uint32_t>(pick_threads(plan, tuning), uint32_t(chunks.size()));
        std::atomic<size_t> next{0};
        std::atomic<bool> failed{false};
        std::vector<Worker> workers(threads);
        for (Worker& w : workers)
            w = Worker{&plan, &chunks, &next, &failed, {}};
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
