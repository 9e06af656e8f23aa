#!/usr/bin/env bash
# Runs every fuzzer of a fuzz build for SECONDS each, from the seeds (made when missing) and
# the corpus kept from earlier runs in the build folder. Prints each target's executions and
# what it found; a finding (a crash, a sanitizer report, a broken promise) is kept as an
# input file beside the corpus and fails the run. Inputs that found faults before are kept
# in regressions/ (one folder per target) and run first.
# usage: run.sh BUILD_DIR SECONDS
set -uo pipefail
BUILD=$(cd "$1" && pwd)
SECONDS_EACH=$2
HERE=$(cd "$(dirname "$0")" && pwd)
SEEDS=$BUILD/fuzz-seeds
"$HERE/make_seeds.sh" "$SEEDS" "$BUILD/src/app/framix-grab" > /dev/null || exit 1
failed=0
for target in scan index_cache frame_name settings; do
    corpus=$BUILD/fuzz-corpus/$target
    findings=$BUILD/fuzz-findings/$target
    rm -rf "$findings"
    mkdir -p "$corpus" "$findings"
    log=$BUILD/fuzz-$target.log
    # Media inputs up to 64 KB; the rest are small. No leak reports: Qt and FFmpeg keep
    # process-wide state on purpose.
    max_len=4096
    [ "$target" = scan ] && max_len=65536
    export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 QT_LOGGING_RULES='*.debug=false'
    # Inputs that once found a fault, each run once first.
    regressions=$HERE/regressions/$target
    if [ -d "$regressions" ] &&
        ! "$BUILD/tests/fuzz/fuzz_$target" -rss_limit_mb=4096 "$regressions"/* > "$log" 2>&1; then
        echo "fuzz_$target: a kept regression input fails again"
        grep -E 'ERROR|SUMMARY|Running' "$log" | tail -4
        failed=1
        continue
    fi
    extra=()
    [ -d "$regressions" ] && extra=("$regressions")
    "$BUILD/tests/fuzz/fuzz_$target" -max_total_time="$SECONDS_EACH" -timeout=30 \
        -rss_limit_mb=4096 -max_len=$max_len -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" "$SEEDS/$target" "${extra[@]}" > "$log" 2>&1
    rc=$?
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
    found=$(find "$findings" -type f | wc -l)
    echo "fuzz_$target: ${execs:-?} executions in ${SECONDS_EACH} s ($(( ${execs:-0} / SECONDS_EACH ))/s), corpus $(find "$corpus" -type f | wc -l) inputs, findings $found"
    if [ $rc -ne 0 ] || [ "$found" -gt 0 ]; then
        failed=1
        grep -E 'ERROR|SUMMARY|abort|differently|frame [0-9]+ of' "$log" | head -5
    fi
done
exit $failed
