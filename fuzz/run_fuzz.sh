#!/usr/bin/env bash
# Usage: fuzz/run_fuzz.sh BUILD_DIR SECONDS -- every target for SECONDS each, growing its corpus in
# BUILD_DIR/corpus/<target> from the seeds in fuzz/corpus/<target>. A crash is kept in
# BUILD_DIR/crashes/ and fails the script; each run's last figures are printed.
set -uo pipefail
build=${1:?build folder}
seconds=${2:?seconds per target}
here=$(cd "$(dirname "$0")" && pwd)
status=0
for target in fuzz_pattern fuzz_search fuzz_argv fuzz_disc_image fuzz_patch_file; do
    log=$build/logs/$target.log
    mkdir -p "$build/corpus/$target" "$build/crashes" "$build/logs"
    extra=()
    # A search input's cost grows with the file (the literal engine, per-word compares of tight
    # plans, tiny chunks): 1 KiB holds headers, segments and many chunks, and keeps the rate
    # above 1,000 inputs a second.
    [ "$target" = fuzz_search ] && extra=(-max_len=1024)
    echo "== $target: ${seconds}s"
    # A stuck input or a runaway allocation is a finding too, not a reason to hang CI.
    "$build/$target" "${extra[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/crashes/$target-" \
        "$build/corpus/$target" "$here/corpus/$target" >"$log" 2>&1 || {
        echo "!! $target failed (exit $?); see $log and $build/crashes/"
        tail -n 40 "$log"
        status=1
    }
    grep -E '^#[0-9]+.*(DONE|pulse)|^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' \
        "$log" | tail -n 4
done
exit $status
