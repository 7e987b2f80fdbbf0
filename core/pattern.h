// Pattern records: a search or replace pattern as a value record and a mask record, and the
// list of the patterns of one text. Byte n of a pattern (in written order) is stored at byte
// index n ^ 3 of `words`, so word w read little-endian equals hex digits 8w..8w+7 of the line.
#pragma once

#include <cstdint>

struct PatternRecord {
    uint32_t length;  // number of pattern bytes, at least 4 in any list
    uint32_t words[]; // room for at least `length` rounded up to whole words
};

struct PatternList {
    uint32_t count;
    PatternRecord** values;
    PatternRecord** masks;
};

// Byte n (written order) of a record.
inline uint8_t pattern_byte(const PatternRecord* record, uint32_t n) {
    return reinterpret_cast<const uint8_t*>(record->words)[n ^ 3];
}

// Word g of a record as a little-endian 32-bit number (first written byte most significant).
inline uint32_t pattern_word(const PatternRecord* record, uint32_t g) {
    return record->words[g];
}

// Releases entries count-1 down to 0 of `array`, then the array. Used for `values` and for
// `masks` alike, each time with the count of the list they belong to. Null is ignored.
void free_patterns(PatternRecord** array, uint32_t count);

// Releases both arrays of a list and zeroes it.
void pattern_list_free(PatternList* list);

// Turns pattern text (one pattern per line) into a list of value records.
//   text:  zero-terminated 8-bit text; only read.
//   count: receives the number of patterns.
//   masks: receives the mask array.
// Returns the value array, or null (out parameters untouched) when no line was accepted or
// memory ran out; the latter is reported ("Error allocating memory", checks 794 and 824).
PatternRecord** parse_pattern(const char* text, uint32_t* count, PatternRecord*** masks);

// Convenience over parse_pattern: fills `list`; returns 1 when it holds at least one pattern,
// 0 when it is empty (list zeroed).
int pattern_list_parse(const char* text, PatternList* list);
