// The fast scan behind find_matches: the same matches as the literal engine, in the same order,
// without testing every pattern at every position.
#pragma once

#include <cstdint>

#include "elf_image.h"
#include "match.h"
#include "pattern.h"

enum MatchFastResult : int {
    MATCH_FAST_DONE = 1,         // the list holds every match
    MATCH_FAST_NO_MEMORY = 0,    // memory ran out; every record made has been released
    MATCH_FAST_UNSUPPORTED = -1, // options the fast scan does not cover; the list is untouched
};

// How the scan divides its work. Zero fields take the defaults; the matches never depend on
// these, which lets tests force many small chunks, several threads and the portable code.
struct MatchFastTuning {
    uint32_t threads;     // 0: one below 8 MiB of candidate words, else every core (at most 4)
    uint32_t chunk_words; // 0: 32768 words per chunk whose matches are sorted together
    bool portable;        // true: no vector instructions even where the processor has them
};

// Scans like find_matches and appends the matches to `list`, which must be empty.
//   image, executable, swap, step, count, values, masks: as for find_matches.
//   tuning: null for the defaults.
// Returns a MatchFastResult.
int match_fast_find(const ElfImage* image, bool executable, bool swap, uint32_t step,
                    uint32_t count, PatternRecord** values, PatternRecord** masks, MatchList* list,
                    const MatchFastTuning* tuning);
