#include "match_plan.h"

#include <new>

struct MatchPlan {
    bool swap;
    uint32_t step;
    uint32_t count;
    PatternRecord** values;
    PatternRecord** masks;
};

MatchPlan* match_plan_build(bool swap, uint32_t step, uint32_t count, PatternRecord** values,
                            PatternRecord** masks) {
    if (step != 1 && step != 2 && step != 4)
        return nullptr;
    return new (std::nothrow) MatchPlan{swap, step, count, values, masks};
}

int match_plan_find(const MatchPlan* plan, const ElfImage* image, bool executable,
                    MatchList* list, const MatchFastTuning* tuning) {
    return match_fast_find(image, executable, plan->swap, plan->step, plan->count, plan->values,
                           plan->masks, list, tuning);
}

void match_plan_free(MatchPlan* plan) {
    delete plan;
}
