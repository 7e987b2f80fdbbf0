// The match engine: every place in a range set where a search pattern matches under its mask.
#pragma once

#include <cstdint>

#include "elf_image.h"
#include "pattern.h"

struct Match {
    const PatternRecord* value; // the very pointer values[i] of the search list
    const PatternRecord* mask;
    uint32_t address; // offset + the segment's address_delta, modulo 2^32
    uint32_t offset;  // file offset of the candidate position
    Match* next;
};

// A singly linked list in discovery order, with a reference to the last `next` slot so that
// appending costs the same for every record.
struct MatchList {
    Match* head;
    Match** tail;
};

// Scans one range set of `image` for every pattern.
//   executable: true selects ranges[0], false ranges[1].
//   swap:       true for "Little", false for "Big".
//   step:       1 (Byte), 2 (Half Word) or 4 (Word).
//   count, values, masks: the search list, count >= 1.
// Returns the engine's static list (head null when nothing matched), or null when memory ran
// out, in which case every record made has been released. Two scans must not run at once.
MatchList* find_matches(const ElfImage* image, bool executable, bool swap, uint32_t step,
                        uint32_t count, PatternRecord** values, PatternRecord** masks);

// The literal engine: the comparison rule applied to every candidate. Same contract and same
// result as find_matches; kept as the reference that the fast path is tested against.
MatchList* find_matches_reference(const ElfImage* image, bool executable, bool swap, uint32_t step,
                                  uint32_t count, PatternRecord** values, PatternRecord** masks);

// Compares one window (laid out like `words`) with a pattern. 0 when every byte matches under
// its mask, non-zero at the first byte that differs.
int compare_pattern(const uint8_t* window, const PatternRecord* value, const PatternRecord* mask);

// Reverses the bytes of each whole 32-bit word of `buffer` (size / 4 words), in place.
void swap_words(uint8_t* buffer, uint32_t size);

// Appends a record at the tail of `list`. Returns 1, or 0 when it cannot be allocated.
int append_match(MatchList* list, const PatternRecord* value, const PatternRecord* mask,
                 uint32_t address, uint32_t offset);

// Releases every record from `head` to the end of its list. Null is ignored.
void free_matches(Match* head);

// The engine's single static list, emptied (not released): the start of every scan.
MatchList* match_list_reset();
