// A search planned once and run over many files: the pattern list's tables are built a single
// time, and any number of threads may scan different images with the same plan at once.
#pragma once
#include <cstdint>
#include "elf_image.h"
#include "match.h"
#include "match_fast.h"
#include "pattern.h"

struct MatchPlan;

// Plans a search for a pattern list.
//   swap, step, count, values, masks: as for find_matches (step 1, 2 or 4; count >= 1). The
//   records must outlive the plan.
// Returns the plan (release with match_plan_free), or null for a step other than 1, 2 or 4
// or when memory ran out.
MatchPlan* match_plan_build(bool swap, uint32_t step, uint32_t count, PatternRecord** values,
                            PatternRecord** masks);

// Scans one range set of `image` with `plan` and appends the matches, in the literal engine's
// order, to `list`, which must be empty and belong to the caller. Safe to call from several
// threads at once with the same plan and different lists.
//   executable: true selects ranges[0], false ranges[1].
//   tuning:     null for the defaults (threads 1 keeps the scan on the calling thread).
// Returns MATCH_FAST_DONE, or MATCH_FAST_NO_MEMORY with every record made released.
int match_plan_find(const MatchPlan* plan, const ElfImage* image, bool executable,
                    MatchList* list, const MatchFastTuning* tuning);

// Releases a plan. Null is ignored.
void match_plan_free(MatchPlan* plan);
