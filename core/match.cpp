// The match engine: the comparison rule applied to every candidate position of a range set.
#include "match.h"

#include <cstdlib>
#include <cstring>

// The engine's one list. Scans never overlap (the window locks its Search button), so a single
// static record is enough.
static MatchList engine_list = {nullptr, &engine_list.head};

MatchList* match_list_reset() {
    engine_list.head = nullptr;
    engine_list.tail = &engine_list.head;
    return &engine_list;
}

int compare_pattern(const uint8_t* window, const PatternRecord* value, const PatternRecord* mask) {
    const uint8_t* v = reinterpret_cast<const uint8_t*>(value->words);
    const uint8_t* m = reinterpret_cast<const uint8_t*>(mask->words);
    for (uint32_t n = 0; n < value->length; ++n) {
        uint32_t j = n ^ 3;
        if ((window[j] ^ v[j]) & m[j]) {
            return 1;
        }
    }
    return 0;
}

void swap_words(uint8_t* buffer, uint32_t size) {
    for (uint32_t i = 0; i + 4 <= size; i += 4) {
        uint8_t b0 = buffer[i];
        uint8_t b1 = buffer[i + 1];
        buffer[i] = buffer[i + 3];
        buffer[i + 1] = buffer[i + 2];
        buffer[i + 2] = b1;
        buffer[i + 3] = b0;
    }
}

int append_match(MatchList* list, const PatternRecord* value, const PatternRecord* mask,
                 uint32_t address, uint32_t offset) {
    Match* match = static_cast<Match*>(malloc(sizeof(Match)));
    if (!match) {
        return 0;
    }
    match->value = value;
    match->mask = mask;
    match->address = address;
    match->offset = offset;
    match->next = nullptr;
    if (!list->tail) {
        list->tail = &list->head;
        while (*list->tail) {
            list->tail = &(*list->tail)->next;
        }
    }
    *list->tail = match;
    list->tail = &match->next;
    return 1;
}

void free_matches(Match* head) {
    while (head) {
        Match* next = head->next;
        free(head);
        head = next;
    }
}

// Near the end of the file, some window bytes stand for bytes the file does not have. A
// pattern byte that falls on one of them does not match, whatever its mask says.
static bool window_bytes_present(const uint8_t* present, const PatternRecord* value) {
    for (uint32_t n = 0; n < value->length; ++n) {
        if (!present[n ^ 3]) {
            return false;
        }
    }
    return true;
}

// What one scan needs to test a candidate fully and record it.
struct ScanState {
    MatchList* list;
    PatternRecord** values;
    PatternRecord** masks;
    const uint8_t* window;
    const uint8_t* present; // null while the window lies wholly inside the file
    uint64_t start;         // file offset of the window's first byte
    uint64_t end;           // end of the current segment
    uint32_t address_delta;
};

// Tests pattern i at shift s fully and records a match. Returns 0 when out of memory. Kept out
// of line: the loop that calls it for one candidate in 256 then keeps its values in registers,
// which made the whole scan about a third faster.
__attribute__((noinline)) static int candidate_test(const ScanState* state, uint32_t i,
                                                    uint32_t s) {
    const PatternRecord* value = state->values[i];
    const uint64_t p = state->start + s;
    if (p + value->length > state->end ||
        compare_pattern(state->window + s, value, state->masks[i])) {
        return 1;
    }
    if (state->present && !window_bytes_present(state->present + s, value)) {
        return 1;
    }
    uint32_t offset = static_cast<uint32_t>(p);
    return append_match(state->list, value, state->masks[i], offset + state->address_delta, offset);
}

MatchList* find_matches_reference(const ElfImage* image, bool executable, bool swap, uint32_t step,
                                  uint32_t count, PatternRecord** values, PatternRecord** masks) {
    MatchList* list = match_list_reset();
    const RangeSet& set = image->ranges[executable ? 0 : 1];
    if (set.count == 0 || count == 0) {
        return list;
    }
    if (step != 1 && step != 2) {
        step = 4;
    }
    uint32_t longest = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (values[i]->length > longest) {
            longest = values[i]->length;
        }
    }
    // One copy per word serves every pattern and every shift: the longest pattern at shift 3
    // reaches into the word after its last group.
    uint32_t window_size = ((longest + 3) / 4 + 1) * 4;
    // The working buffer also holds each pattern's first written byte and its mask, which
    // decide most candidates before the full comparison.
    uint8_t* window = static_cast<uint8_t*>(malloc(size_t{window_size} * 2 + size_t{count} * 2));
    if (!window) {
        return nullptr;
    }
    uint8_t* present = window + window_size;
    uint8_t* first_value = present + window_size;
    uint8_t* first_mask = first_value + count;
    for (uint32_t i = 0; i < count; ++i) {
        first_value[i] = pattern_byte(values[i], 0);
        first_mask[i] = pattern_byte(masks[i], 0);
    }

    ScanState state{list, values, masks, window, nullptr, 0, 0, 0};
    const uint8_t* data = image->data;
    const uint64_t file_size = image->size;
    uint64_t w = set.file_offset[0] / 4;
    for (uint32_t k = 0; k < set.count; ++k) {
        state.end = uint64_t{set.file_offset[k]} + set.file_size[k];
        state.address_delta = set.address_delta[k];
        const uint64_t last = uint64_t{set.file_offset[k] / 4} + set.file_size[k] / 4;
        for (; w < last; ++w) {
            const uint64_t start = w * 4;
            state.start = start;
            if (start + window_size <= file_size) {
                memcpy(window, data + start, window_size);
                state.present = nullptr;
            } else {
                uint64_t have = start < file_size ? file_size - start : 0;
                if (have > 0) {
                    memcpy(window, data + start, have);
                }
                memset(window + have, 0, window_size - have);
                memset(present, 1, have);
                memset(present + have, 0, window_size - have);
                if (swap) {
                    swap_words(present, window_size);
                }
                state.present = present;
            }
            if (swap) {
                swap_words(window, window_size);
            }
            for (uint32_t i = 0; i < count; ++i) {
                for (uint32_t s = 0; s < 4; s += step) {
                    if (((window[s + 3] ^ first_value[i]) & first_mask[i]) == 0 &&
                        !candidate_test(&state, i, s)) {
                        free_matches(list->head);
                        match_list_reset();
                        free(window);
                        return nullptr;
                    }
                }
            }
        }
        if (k + 1 < set.count && w < set.file_offset[k + 1] / 4) {
            w = set.file_offset[k + 1] / 4;
        }
    }
    free(window);
    return list;
}
