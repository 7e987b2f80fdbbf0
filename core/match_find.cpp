// The scan behind the Search button. For now the literal engine does the work.
#include "match.h"

MatchList* find_matches(const ElfImage* image, bool executable, bool swap, uint32_t step,
                        uint32_t count, PatternRecord** values, PatternRecord** masks) {
    return find_matches_reference(image, executable, swap, step, count, values, masks);
}
