#include "engine_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

uint64_t TestRandom::next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t TestRandom::below(uint32_t n) {
    return uint32_t(next() % n);
}

bool TestRandom::chance(uint32_t percent) {
    return below(100) < percent;
}

static void fill_set(RangeSet& set, const std::vector<Segment>& segments) {
    set.count = uint32_t(segments.size());
    size_t bytes = segments.size() * 4 + 4;
    set.address_delta = static_cast<uint32_t*>(std::malloc(bytes));
    set.file_offset = static_cast<uint32_t*>(std::malloc(bytes));
    set.file_size = static_cast<uint32_t*>(std::malloc(bytes));
    for (size_t i = 0; i < segments.size(); i++) {
        set.address_delta[i] = segments[i].delta;
        set.file_offset[i] = segments[i].offset;
        set.file_size[i] = segments[i].size;
    }
}

TestImage::TestImage(const std::vector<uint8_t>& bytes, const std::vector<Segment>& executable,
                     const std::vector<Segment>& data, bool past_end) {
    std::memset(&image, 0, sizeof image);
    // Exactly `size` bytes, so that AddressSanitizer sees any read past the file.
    image.data = static_cast<uint8_t*>(std::malloc(bytes.size() ? bytes.size() : 1));
    if (!bytes.empty())
        std::memcpy(image.data, bytes.data(), bytes.size());
    image.size = uint32_t(bytes.size());
    for (const std::vector<Segment>* set : {&executable, &data})
        for (const Segment& s : *set)
            EXPECT_TRUE(past_end || uint64_t(s.offset) + s.size <= bytes.size());
    fill_set(image.ranges[0], executable);
    fill_set(image.ranges[1], data);
}

TestImage::~TestImage() {
    std::free(image.data);
    for (RangeSet& set : image.ranges) {
        std::free(set.address_delta);
        std::free(set.file_offset);
        std::free(set.file_size);
    }
}

static PatternRecord* make_record(const std::vector<uint8_t>& bytes, uint8_t filler) {
    size_t words = (bytes.size() + 3) / 4;
    auto* r = static_cast<PatternRecord*>(std::malloc(sizeof(PatternRecord) + words * 4));
    r->length = uint32_t(bytes.size());
    auto* raw = reinterpret_cast<uint8_t*>(r->words);
    // The bytes after the pattern in its last word are never to be read: fill them with
    // something that would show if they were.
    std::memset(raw, filler, words * 4);
    for (size_t n = 0; n < bytes.size(); n++)
        raw[n ^ 3] = bytes[n];
    return r;
}

void TestPatterns::add(const std::vector<uint8_t>& value, const std::vector<uint8_t>& mask) {
    values.push_back(make_record(value, 0xA5));
    masks.push_back(make_record(mask, 0x5A));
}

void TestPatterns::add_text(const std::string& hex) {
    std::vector<uint8_t> value, mask;
    std::vector<int> digits, fixed;
    for (char c : hex) {
        if (c == ' ')
            continue;
        bool wild = c == 'x' || c == 'X';
        digits.push_back(wild ? 0 : int(std::strtol(std::string(1, c).c_str(), nullptr, 16)));
        fixed.push_back(wild ? 0 : 15);
    }
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        value.push_back(uint8_t(digits[i] << 4 | digits[i + 1]));
        mask.push_back(uint8_t(fixed[i] << 4 | fixed[i + 1]));
    }
    add(value, mask);
}

TestPatterns::~TestPatterns() {
    for (PatternRecord* r : values)
        std::free(r);
    for (PatternRecord* r : masks)
        std::free(r);
}

static std::vector<FoundMatch> collect(const Match* head, const TestPatterns& patterns) {
    std::vector<FoundMatch> found;
    for (const Match* m = head; m; m = m->next) {
        uint32_t index = UINT32_MAX;
        for (uint32_t i = 0; i < patterns.count(); i++)
            if (m->value == patterns.values[i])
                index = i;
        EXPECT_NE(index, UINT32_MAX) << "a match names no pattern of the list";
        if (index != UINT32_MAX) {
            EXPECT_EQ(m->mask, patterns.masks[index]) << "mask of another pattern";
        }
        found.push_back({index, m->address, m->offset});
    }
    return found;
}

static std::vector<FoundMatch> take(MatchList* list, const TestPatterns& patterns) {
    EXPECT_NE(list, nullptr);
    if (!list)
        return {};
    std::vector<FoundMatch> found = collect(list->head, patterns);
    free_matches(list->head);
    list->head = nullptr;
    list->tail = &list->head;
    return found;
}

std::vector<FoundMatch> scan_reference(const TestImage& image, const ScanOptions& options,
                                       const TestPatterns& patterns) {
    auto& p = const_cast<TestPatterns&>(patterns);
    return take(find_matches_reference(&image.image, options.executable, options.swap, options.step,
                                       p.count(), p.values.data(), p.masks.data()),
                patterns);
}

std::vector<FoundMatch> scan_default(const TestImage& image, const ScanOptions& options,
                                     const TestPatterns& patterns) {
    auto& p = const_cast<TestPatterns&>(patterns);
    return take(find_matches(&image.image, options.executable, options.swap, options.step,
                             p.count(), p.values.data(), p.masks.data()),
                patterns);
}

std::vector<FoundMatch> scan_tuned(const TestImage& image, const ScanOptions& options,
                                   const TestPatterns& patterns, const MatchFastTuning& tuning) {
    auto& p = const_cast<TestPatterns&>(patterns);
    MatchList list{nullptr, nullptr};
    list.tail = &list.head;
    int result = match_fast_find(&image.image, options.executable, options.swap, options.step,
                                 p.count(), p.values.data(), p.masks.data(), &list, &tuning);
    EXPECT_EQ(result, MATCH_FAST_DONE);
    return take(&list, patterns);
}

std::string describe(const std::vector<FoundMatch>& matches, size_t limit) {
    std::string text = std::to_string(matches.size()) + " matches:";
    for (size_t i = 0; i < matches.size() && i < limit; i++) {
        char piece[64];
        std::snprintf(piece, sizeof piece, " [p%u @%X a%X]", matches[i].pattern, matches[i].offset,
                      matches[i].address);
        text += piece;
    }
    return text;
}
