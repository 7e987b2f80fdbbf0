// Pattern text into parse_pattern. Besides the sanitizers, every result is checked against a
// small independent model of the syntax, so a parser that silently keeps or drops the wrong
// bytes fails here as surely as one that writes past a record.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/pattern.h"
#include "core/report.h"
#include "fuzz_support.h"

namespace {

struct ModelPattern {
    std::vector<uint8_t> value;
    std::vector<uint8_t> mask;
};

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The syntax as users are told it: one pattern per line, hex digits, x wildcards, *MV tokens,
// anything else ends the line's pattern; lines under 4 bytes or fully masked out are dropped.
std::vector<ModelPattern> model_parse(const char* text) {
    std::vector<ModelPattern> result;
    size_t pos = 0;
    for (;;) {
        while (is_blank(text[pos]))
            pos++;
        if (text[pos] == 0)
            break;
        if (text[pos] == '\n') {
            pos++;
            continue;
        }
        ModelPattern pattern;
        int high_value = -1, high_mask = 0;
        for (;;) {
            int value, mask;
            char c = text[pos];
            if (hex_value(c) >= 0) {
                value = hex_value(c);
                mask = 15;
                pos++;
            } else if (c == 'x' || c == 'X') {
                value = 0;
                mask = 0;
                pos++;
            } else if (c == '*') {
                size_t at = pos + 1;
                while (is_blank(text[at]))
                    at++;
                mask = hex_value(text[at]);
                if (mask < 0)
                    break;
                at++;
                while (is_blank(text[at]))
                    at++;
                value = hex_value(text[at]);
                if (value < 0)
                    break;
                pos = at + 1;
            } else {
                break;
            }
            if (high_value < 0) {
                high_value = value;
                high_mask = mask;
            } else {
                pattern.value.push_back(uint8_t(high_value << 4 | value));
                pattern.mask.push_back(uint8_t(high_mask << 4 | mask));
                high_value = -1;
            }
            while (is_blank(text[pos]))
                pos++;
        }
        while (text[pos] != 0 && text[pos] != '\n')
            pos++;
        if (text[pos] == '\n')
            pos++;
        bool any_mask = false;
        for (uint8_t m : pattern.mask)
            any_mask = any_mask || m != 0;
        if (pattern.value.size() >= 4 && any_mask)
            result.push_back(pattern);
    }
    return result;
}

void check_against_model(const char* text, PatternRecord** values, PatternRecord** masks,
                         uint32_t count) {
    std::vector<ModelPattern> expected = model_parse(text);
    uint32_t expected_count = uint32_t(expected.size());
    if (values == nullptr) {
        fuzz_require(expected_count == 0, "parse_pattern gave null for a text with patterns");
        return;
    }
    fuzz_require(masks != nullptr, "parse_pattern gave values without masks");
    fuzz_require(count == expected_count, "parse_pattern gave the wrong number of patterns");
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
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_discard_reports();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // parse_pattern reads up to the first zero byte; an exact-size copy lets ASan see a read
    // that runs past it.
    char* text = static_cast<char*>(malloc(size + 1));
    if (text == nullptr)
        return 0;
    memcpy(text, data, size);
    text[size] = 0;

    uint32_t count = 0xDEADBEEF;
    PatternRecord** masks = nullptr;
    PatternRecord** values = parse_pattern(text, &count, &masks);
    if (values == nullptr)
        fuzz_require(count == 0xDEADBEEF && masks == nullptr,
                     "a null result must leave the out parameters untouched");
    check_against_model(text, values, masks, count);
    if (values != nullptr) {
        free_patterns(values, count);
        free_patterns(masks, count);
    }
    free(text);
    return 0;
}
