// A search planned once and run over many files: the pattern list's tables are built a single
// time, and any number of threads may scan different images with the same plan at once.
#pragma once
#include "elf_image.h"
#include "match.h"
#include "match_fast.h"
#include "pattern.h"
#include <cstddef>
#include <cstdint>

struct MatchPlan;

// How a plan sizes its tables. Zero fields take the defaults; the matches never depend on
// these, which lets tests and the fuzz target reach with a few patterns the paths that only
// very large lists take otherwise.
struct MatchPlanLimits {
    uint32_t expansion_slots; // 0: the default allowance of wildcard expansions in the table
    bool exact_anchors_only;  // true: anchors with wildcard bits never join the hashed table
    bool no_half_words;       // true: entries without a table anchor are compared at every word
};

// Plans a search for a pattern list.
//   swap, step, count, values, masks: as for find_matches (step 1, 2 or 4; count >= 1). The
//   records must outlive the plan.
// Returns the plan (release with match_plan_free), or null for a step other than 1, 2 or 4
// or when memory ran out.
MatchPlan* match_plan_build(bool swap, uint32_t step, uint32_t count, PatternRecord** values,
                            PatternRecord** masks);

// match_plan_build with table sizes of the caller's choosing.
//   limits: null for the defaults.
MatchPlan* match_plan_build_limited(bool swap, uint32_t step, uint32_t count,
                                    PatternRecord** values, PatternRecord** masks,
                                    const MatchPlanLimits* limits);

// Scans one range set of `image` with `plan` and appends the matches, in the literal engine's
// order, to `list`, which must be empty and belong to the caller. Safe to call from several
// threads at once with the same plan and different lists.
//   executable: true selects ranges[0], false ranges[1].
//   tuning:     null for the defaults (threads 1 keeps the scan on the calling thread).
// Returns MATCH_FAST_DONE, or MATCH_FAST_NO_MEMORY with every record made released.
int match_plan_find(const MatchPlan* plan, const ElfImage* image, bool executable, MatchList* list,
                    const MatchFastTuning* tuning);

// What a plan holds, for reports and tests.
struct MatchPlanStats {
    size_t entries;     // (pattern, shift) pairs
    size_t table_slots; // hashed anchor values, wildcard expansions included
    size_t half_words;  // entries found through a 16-bit half of their anchor word
    size_t direct;      // entries compared at every word
    size_t bytes;       // memory held by the plan's tables
};

// Describes `plan` (not null).
MatchPlanStats match_plan_stats(const MatchPlan* plan);

// Releases a plan. Null is ignored.
void match_plan_free(MatchPlan* plan);
