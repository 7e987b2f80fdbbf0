// Times one pattern list's plan and its single-thread scan of one file in thread CPU time,
// best of N, so that figures stay comparable on a loaded machine.
//
//   plan_time ELF PATTERNS [REPEATS]
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "core/elf_image.h"
#include "core/file_io.h"
#include "core/match.h"
#include "core/match_plan.h"
#include "core/pattern.h"

namespace {

double cpu_now() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    int repeats = argc > 3 ? std::atoi(argv[3]) : 7;
    ElfImage* image = read_elf(argv[1]);
    char* text = load_file(argv[2]);
    PatternList patterns{};
    if (!image || !text || !pattern_list_parse(text, &patterns))
        return 1;
    double plan_best = 1e30, scan_best = 1e30;
    unsigned long long found = 0;
    MatchFastTuning one{1, 0, false};
    for (int r = 0; r < repeats; r++) {
        double t0 = cpu_now();
        MatchPlan* plan =
            match_plan_build(true, 1, patterns.count, patterns.values, patterns.masks);
        double t1 = cpu_now();
        MatchList list{nullptr, nullptr};
        list.tail = &list.head;
        match_plan_find(plan, image, true, &list, &one);
        double t2 = cpu_now();
        found = 0;
        for (const Match* m = list.head; m; m = m->next)
            found++;
        free_matches(list.head);
        match_list_reset();
        match_plan_free(plan);
        plan_best = t1 - t0 < plan_best ? t1 - t0 : plan_best;
        scan_best = t2 - t1 < scan_best ? t2 - t1 : scan_best;
    }
    std::printf("plan %.1f ms  scan %.1f ms (one thread, CPU)  matches %llu\n", plan_best * 1e3,
                scan_best * 1e3, found);
    return 0;
}
