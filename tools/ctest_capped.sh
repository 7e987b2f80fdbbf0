#!/usr/bin/env bash
# ctest with --output-on-failure, but each test shows at most QUARNEL_TEST_LINES (default 200)
# lines of its output, each cut to 2000 characters: a test that fails in a loop cannot bury the
# log. ctest keeps every byte in Testing/Temporary/LastTest.log. Exit status: ctest's.
#   ctest_capped.sh [ctest arguments...]
set -o pipefail
ctest --output-on-failure "$@" 2>&1 | awk -v max="${QUARNEL_TEST_LINES:-200}" '
    function flush() {
        if (cut > 0)
            printf "[... %d more lines of this test cut; all of them: Testing/Temporary/LastTest.log]\n", cut
        cut = 0
        lines = 0
    }
    # A test starting or ending, and the summary, open a new block.
    /^ *Start +[0-9]+: / || /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / || /^[0-9]+% tests passed/ {
        flush()
        print
        fflush()
        next
    }
    {
        if (++lines <= max) {
            print (length($0) > 2000 ? substr($0, 1, 2000) " [...]" : $0)
            fflush()
        } else {
            cut++
        }
    }
    END { flush() }'
