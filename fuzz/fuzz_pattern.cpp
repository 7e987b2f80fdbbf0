// Pattern text into parse_pattern, each result checked against a small model of the syntax: a
// parser that keeps or drops the wrong bytes fails here as surely as one that writes past a record.
#include <utility>
#include <vector>

#include "core/pattern.h"
#include "fuzz_support.h"

namespace {

struct ModelPattern {
    std::vector<uint8_t> value, mask;
};

const char* skip_blanks(const char* p) {
    while (*p == ' ' || *p == '\t' || *p == '\r')
        p++;
    return p;
}

int hex_value(char c) {
    return c >= '0' && c <= '9' ? c - '0' : (c | 32) >= 'a' && (c | 32) <= 'f' ? (c | 32) - 87 : -1;
}

// The syntax as users are told it: one pattern per line, hex digits, x wildcards, *MV tokens,
// anything else ends the line's pattern; lines under 4 bytes or fully masked out are dropped.
std::vector<ModelPattern> model_parse(const char* p) {
    std::vector<ModelPattern> result;
    while (*p) {
        std::vector<std::pair<int, int>> nibbles; // value, mask
        for (;;) {
            p = skip_blanks(p);
            int value = hex_value(*p), mask = 15;
            if (value < 0 && (*p == 'x' || *p == 'X')) {
                value = mask = 0;
            } else if (value < 0 && *p == '*') {
                const char* at = skip_blanks(p + 1);
                if ((mask = hex_value(*at)) < 0)
                    break;
                at = skip_blanks(at + 1);
                if ((value = hex_value(*at)) < 0)
                    break;
                p = at;
            } else if (value < 0) {
                break;
            }
            p++;
            nibbles.push_back({value, mask});
        }
        p += strcspn(p, "\n");
        p += *p == '\n';
        ModelPattern pattern;
        bool any_mask = false;
        for (size_t i = 0; i + 1 < nibbles.size(); i += 2) {
            pattern.value.push_back(uint8_t(nibbles[i].first << 4 | nibbles[i + 1].first));
            pattern.mask.push_back(uint8_t(nibbles[i].second << 4 | nibbles[i + 1].second));
            any_mask = any_mask || pattern.mask.back() != 0;
        }
        if (pattern.value.size() >= 4 && any_mask)
            result.push_back(pattern);
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char* text = fuzz_copy_text(data, size);
    uint32_t count = 0xDEADBEEF;
    PatternRecord** masks = nullptr;
    PatternRecord** values = parse_pattern(text, &count, &masks);
    std::vector<ModelPattern> expected = model_parse(text);
    if (values == nullptr) {
        fuzz_require(count == 0xDEADBEEF && masks == nullptr,
                     "a null result must leave the out parameters untouched");
        fuzz_require(expected.empty(), "parse_pattern gave null for a text with patterns");
    } else {
        fuzz_require(masks != nullptr, "parse_pattern gave values without masks");
        fuzz_require(count == expected.size(), "parse_pattern gave the wrong number of patterns");
        for (uint32_t i = 0; i < count; i++) {
            const ModelPattern& want = expected[i];
            fuzz_require(values[i]->length == want.value.size() &&
                             masks[i]->length == want.value.size(),
                         "pattern length differs from the text");
            for (uint32_t n = 0; n < values[i]->length; n++) {
                fuzz_require(pattern_byte(values[i], n) == want.value[n], "value byte differs");
                fuzz_require(pattern_byte(masks[i], n) == want.mask[n], "mask byte differs");
            }
        }
        free_patterns(values, count);
        free_patterns(masks, count);
    }
    free(text);
    return 0;
}
