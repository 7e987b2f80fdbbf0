// Thousands of random files, segment layouts, pattern lists and options: the fast scan must
// give the literal engine's list, record for record and in the same order, however it divides
// the work.
#include <algorithm>
#include <cstdio>

#include "engine_fixture.h"

namespace {

std::vector<uint8_t> random_file(TestRandom& rng, uint32_t size) {
    std::vector<uint8_t> bytes(size);
    static const uint8_t alphabet[] = {0x00, 0x00, 0xFF, 0x3C, 0x01, 0x10};
    uint32_t kind = rng.below(4);
    uint32_t period = 1 + rng.below(9);
    for (uint32_t i = 0; i < size; i++) {
        if (kind == 0) // few distinct bytes: many chance matches
            bytes[i] = alphabet[rng.below(sizeof alphabet)];
        else if (kind == 1) // repeating: overlapping matches everywhere
            bytes[i] = i >= period ? bytes[i - period] : uint8_t(rng.below(3));
        else
            bytes[i] = uint8_t(rng.next());
    }
    return bytes;
}

std::vector<Segment> random_segments(TestRandom& rng, uint32_t size) {
    std::vector<Segment> segments(rng.below(5));
    uint32_t next = rng.below(size / 2 + 1);
    for (Segment& s : segments) {
        // Mostly ascending, sometimes overlapping, out of order, empty or at the very end.
        if (rng.chance(70))
            s.offset = std::min(size, next + rng.below(16));
        else
            s.offset =
                rng.chance(20) ? size - rng.below(std::min(size, 6u) + 1) : rng.below(size + 1);
        uint32_t room = size - s.offset;
        s.size = rng.chance(15) ? room : rng.below(room + 1);
        s.delta = uint32_t(rng.next());
        next = s.offset + s.size - std::min(s.size, rng.below(12));
    }
    return segments;
}

// A pattern taken from the file (so that it matches somewhere), or made up.
void random_pattern(TestRandom& rng, const std::vector<uint8_t>& file, TestPatterns& patterns) {
    uint32_t length = 4 + rng.below(rng.chance(85) ? 17 : 40);
    std::vector<uint8_t> value(length), mask(length, 0xFF);
    uint32_t from = file.size() > length ? rng.below(uint32_t(file.size() - length)) : 0;
    for (uint32_t n = 0; n < length; n++)
        value[n] = n + from < file.size() && rng.chance(90) ? file[from + n] : uint8_t(rng.next());
    if (rng.chance(30)) // reversed in groups of four: a match in the other byte order
        for (uint32_t n = 0; n + 4 <= length; n += 4)
            std::reverse(value.begin() + n, value.begin() + n + 4);
    uint32_t kind = rng.below(10);
    if (kind == 0) { // bit masks as `*` writes them: value bits may stand outside the mask
        for (uint8_t& m : mask)
            m = uint8_t(rng.next());
    } else if (kind == 1) { // nothing fixed at all
        std::fill(mask.begin(), mask.end(), 0);
    } else if (kind <= 4) { // wildcard nibbles, some or many
        for (uint32_t n = 0; n < length; n++) {
            uint32_t p = rng.below(3) == 0 ? 60 : 15;
            for (uint8_t keep : {0x0F, 0xF0})
                if (rng.chance(p)) {
                    mask[n] &= keep;
                    value[n] &= keep;
                }
        }
    }
    patterns.add(value, mask);
}

// Where two lists part, for a readable failure.
std::string first_difference(const std::vector<FoundMatch>& want,
                             const std::vector<FoundMatch>& got) {
    size_t i = 0;
    while (i < want.size() && i < got.size() && want[i] == got[i])
        i++;
    char text[200];
    auto show = [i](const std::vector<FoundMatch>& l, char* out) {
        if (i >= l.size())
            std::snprintf(out, 60, "end");
        else
            std::snprintf(out, 60, "p%u @%X a%X", l[i].pattern, l[i].offset, l[i].address);
        return out;
    };
    char w[60], g[60];
    std::snprintf(text, sizeof text, "record %zu of %zu: want %s, got %s", i, want.size(),
                  show(want, w), show(got, g));
    return text;
}

TEST(EngineDifferential, RandomFilesLayoutsPatternsAndOptions) {
    TestRandom rng{20240611};
    uint64_t total_matches = 0;
    for (int round = 0; round < 2000; round++) {
        uint32_t size = 1 + rng.below(rng.chance(80) ? 700 : 5000);
        std::vector<uint8_t> file = random_file(rng, size);
        TestImage image(file, random_segments(rng, size), random_segments(rng, size));
        TestPatterns patterns;
        uint32_t count = 1 + rng.below(rng.chance(70) ? 4 : 40);
        for (uint32_t i = 0; i < count; i++)
            random_pattern(rng, file, patterns);
        ScanOptions options{rng.chance(50), rng.chance(50), 1u << rng.below(3)};
        MatchFastTuning tuning{1 + rng.below(3), 1 + rng.below(40), rng.chance(50)};

        std::vector<FoundMatch> want = scan(Engine::reference, image, options, patterns);
        std::vector<FoundMatch> got = scan(Engine::fast_tuned, image, options, patterns, tuning);
        total_matches += want.size();
        ASSERT_TRUE(want == got) << "round " << round << ", size " << size << ", step "
                                 << options.step << (options.swap ? " Little" : " Big")
                                 << ", threads " << tuning.threads << ", chunk "
                                 << tuning.chunk_words << ": " << first_difference(want, got);
        if (round % 8 == 0) {
            got = scan(Engine::fast_default, image, options, patterns);
            ASSERT_TRUE(want == got) << "round " << round << ": " << first_difference(want, got);
        }
    }
    // The cases must actually produce matches, or they prove nothing.
    EXPECT_GT(total_matches, 100000u);
}

} // namespace
