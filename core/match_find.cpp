// The scan behind the Search button: the fast scan, with the literal engine for anything the
// fast scan does not cover.
#include "match.h"
#include "match_fast.h"

MatchList* find_matches(const ElfImage* image, bool executable, bool swap, uint32_t step,
                        uint32_t count, PatternRecord** values, PatternRecord** masks) {
    MatchList* list = match_list_reset();
    int result =
        match_fast_find(image, executable, swap, step, count, values, masks, list, nullptr);
    if (result == MATCH_FAST_UNSUPPORTED)
        return find_matches_reference(image, executable, swap, step, count, values, masks);
    return result == MATCH_FAST_DONE ? list : nullptr;
}
