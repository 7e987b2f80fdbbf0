// Pattern records and the parser that turns pattern text into them.
#include "pattern.h"

#include <cstdlib>
#include <cstring>

#include "report.h"

void free_patterns(PatternRecord** array, uint32_t count) {
    if (!array) {
        return;
    }
    for (uint32_t i = count; i-- > 0;) {
        free(array[i]);
    }
    free(array);
}

void pattern_list_free(PatternList* list) {
    free_patterns(list->values, list->count);
    free_patterns(list->masks, list->count);
    list->count = 0;
    list->values = nullptr;
    list->masks = nullptr;
}

static bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// The value of a hexadecimal digit, or -1.
static int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

static const char* skip_blanks(const char* p) {
    while (is_blank(*p)) {
        ++p;
    }
    return p;
}

// Reads one token at `p` (blanks before it already skipped). On success stores the nibble's
// value and mask and returns the position after the token; returns null when `p` holds no
// token, which ends the line's pattern.
static const char* read_token(const char* p, int* value, int* mask) {
    int digit = hex_digit(*p);
    if (digit >= 0) {
        *value = digit;
        *mask = 0xF;
        return p + 1;
    }
    if (*p == 'x' || *p == 'X') {
        *value = 0;
        *mask = 0;
        return p + 1;
    }
    if (*p == '*') {
        p = skip_blanks(p + 1);
        int m = hex_digit(*p);
        if (m < 0) {
            return nullptr;
        }
        p = skip_blanks(p + 1);
        int v = hex_digit(*p);
        if (v < 0) {
            return nullptr;
        }
        *value = v;
        *mask = m;
        return p + 1;
    }
    return nullptr;
}

static PatternRecord* record_allocate(size_t line_characters) {
    size_t bytes = (line_characters / 2 + 3) / 4 * 4;
    PatternRecord* record = static_cast<PatternRecord*>(malloc(sizeof(PatternRecord) + bytes));
    if (record) {
        // The bytes past `length` are never read as pattern bytes; zeroing them keeps the
        // printing of a last partial word deterministic.
        memset(record, 0, sizeof(PatternRecord) + bytes);
    }
    return record;
}

// Reads the tokens of one line into the two records.
static void line_parse(const char* p, PatternRecord* value, PatternRecord* mask) {
    uint8_t* value_bytes = reinterpret_cast<uint8_t*>(value->words);
    uint8_t* mask_bytes = reinterpret_cast<uint8_t*>(mask->words);
    int high_value = 0;
    int high_mask = 0;
    bool have_high = false;
    for (;;) {
        int v = 0;
        int m = 0;
        p = read_token(p, &v, &m);
        if (!p) {
            return;
        }
        if (!have_high) {
            high_value = v;
            high_mask = m;
            have_high = true;
        } else {
            uint32_t index = value->length ^ 3;
            value_bytes[index] = static_cast<uint8_t>(high_value << 4 | v);
            mask_bytes[index] = static_cast<uint8_t>(high_mask << 4 | m);
            value->length += 1;
            mask->length += 1;
            have_high = false;
        }
        p = skip_blanks(p);
    }
}

static bool pattern_accepted(const PatternRecord* mask) {
    if (mask->length < 4) {
        return false;
    }
    for (uint32_t n = 0; n < mask->length; ++n) {
        if (pattern_byte(mask, n) != 0) {
            return true;
        }
    }
    return false;
}

PatternRecord** parse_pattern(const char* text, uint32_t* count, PatternRecord*** masks) {
    if (!text) {
        return nullptr;
    }
    size_t line_feeds = 0;
    for (const char* p = text; *p; ++p) {
        line_feeds += *p == '\n';
    }
    size_t slots = line_feeds + 1;

    PatternRecord** value_array = nullptr;
    PatternRecord** mask_array = nullptr;
    trace_begin("parse_pattern");
    value_array = static_cast<PatternRecord**>(malloc(slots * sizeof(PatternRecord*)));
    if (value_array) {
        mask_array = static_cast<PatternRecord**>(malloc(slots * sizeof(PatternRecord*)));
    }
    if (!trace_end_condition(value_array && mask_array, 794, "core", "Error allocating memory")) {
        free(value_array);
        return nullptr;
    }

    uint32_t accepted = 0;
    const char* p = text;
    for (;;) {
        p = skip_blanks(p);
        if (*p == '\0') {
            break;
        }
        if (*p == '\n') {
            ++p;
            continue;
        }
        const char* line_end = strchr(p, '\n');
        if (!line_end) {
            line_end = p + strlen(p);
        }
        size_t characters = static_cast<size_t>(line_end - p);

        trace_begin("parse_pattern");
        PatternRecord* value = record_allocate(characters);
        PatternRecord* mask = value ? record_allocate(characters) : nullptr;
        if (!trace_end_condition(value && mask, 824, "core", "Error allocating memory")) {
            free(value);
            free_patterns(value_array, accepted);
            free_patterns(mask_array, accepted);
            return nullptr;
        }
        line_parse(p, value, mask);
        if (pattern_accepted(mask)) {
            value_array[accepted] = value;
            mask_array[accepted] = mask;
            ++accepted;
        } else {
            free(value);
            free(mask);
        }
        p = *line_end ? line_end + 1 : line_end;
    }

    if (accepted == 0) {
        free(value_array);
        free(mask_array);
        return nullptr;
    }
    *count = accepted;
    *masks = mask_array;
    return value_array;
}

int pattern_list_parse(const char* text, PatternList* list) {
    uint32_t count = 0;
    PatternRecord** masks = nullptr;
    PatternRecord** values = parse_pattern(text, &count, &masks);
    if (!values) {
        list->count = 0;
        list->values = nullptr;
        list->masks = nullptr;
        return 0;
    }
    list->count = count;
    list->values = values;
    list->masks = masks;
    return 1;
}
