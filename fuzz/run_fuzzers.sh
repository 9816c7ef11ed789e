#!/usr/bin/env bash
# run_fuzzers.sh BUILD SECONDS: runs each fuzz target of BUILD (a build with NUMOTEKA_FUZZ) for
# SECONDS from a scratch copy of its corpus, then prints its executions per second and in
# total. An input that crashes, hangs or runs out of memory fails the run; it is kept in
# BUILD/crashes/<target>/ and its path printed.
# run_fuzzers.sh --merge BUILD: merges what the last run found into fuzz/corpus/<target>,
# keeping only the inputs that add coverage.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
targets=(ranking_fuzz input_fuzz session_fuzz replay_fuzz request_fuzz)
# Ranking files of a few hundred bytes; typed lines several times the console's 4096-byte
# piece; whole sessions of some thousand keys; replay codes of a few games, bare or in a request.
declare -A max_len=([ranking_fuzz]=2048 [input_fuzz]=20000 [session_fuzz]=4096 [replay_fuzz]=4096
                    [request_fuzz]=4096)

# The targets' ranking folders, in memory where the machine has /dev/shm.
scratch=$(mktemp -d /dev/shm/numoteka_fuzz.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export NUMOTEKA_FUZZ_SCRATCH=$scratch

if [ "${1:-}" = --merge ]; then
    build=$2
    for target in "${targets[@]}"; do
        merged=$(mktemp -d)
        mkdir -p "$build/crashes/$target"
        # Inputs that crash are left out (libFuzzer writes them under the artifact prefix).
        "$build/fuzz/$target" -merge=1 -dict="$root/fuzz/game.dict" \
            -max_len="${max_len[$target]}" -artifact_prefix="$build/crashes/$target/" \
            "$merged" "$root/fuzz/corpus/$target" "$build/work/$target" >/dev/null 2>&1 ||
            { echo "merge of $target failed"; exit 1; }
        rm -rf "${root:?}/fuzz/corpus/$target"
        mv "$merged" "$root/fuzz/corpus/$target"
        chmod 755 "$root/fuzz/corpus/$target"
        echo "$target: $(ls "$root/fuzz/corpus/$target" | wc -l) inputs in fuzz/corpus/$target"
    done
    exit 0
fi

build=$1
seconds=$2
summary=()
failed=0
for target in "${targets[@]}"; do
    work=$build/work/$target
    crashes=$build/crashes/$target
    log=$build/logs/$target.log
    rm -rf "$work"
    mkdir -p "$work" "$crashes" "$build/logs"
    cp "$root/fuzz/corpus/$target"/* "$work"/
    echo "== $target: $seconds s (log: $log)"
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len="${max_len[$target]}" -dict="$root/fuzz/game.dict" \
        -artifact_prefix="$crashes/" -print_final_stats=1 "$work" >"$log" 2>&1
    status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
    line=$(printf '%-13s %6s exec/s  %9s runs' "$target" "${rate:-?}" "${runs:-?}")
    [ -n "$took" ] && line+=" in $took s"
    if [ $status -ne 0 ]; then
        failed=1
        grep -a -m1 -E 'fuzz check failed|ERROR: (AddressSanitizer|libFuzzer)|runtime error' "$log"
        found=$(sed -n "s/.*Test unit written to //p" "$log")
        line+="  FAILED (status $status)${found:+: $found}"
        [ -n "$found" ] && echo "   reproduce: $build/fuzz/$target $found"
    fi
    summary+=("$line")
done
echo
echo "== fuzzing summary"
printf '%s\n' "${summary[@]}"
exit $failed
