#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, ASan + UBSan) and runs every fuzz target for a bounded
# time, starting from its seed corpus and its regression inputs (fuzz/corpus/<target>/,
# fuzz/regressions/<target>/). Prints, per target, how many inputs it tried; fails if any target
# crashed, leaked, hit undefined behaviour, failed a check, ran out of memory or timed out.
#
#   scripts/fuzz.sh [SECONDS]     seconds per target (default 60)
#
# Environment: FUZZ_JOBS targets at once (default: the number of CPUs), FUZZ_TARGETS to run only
# some (space-separated names), FUZZ_RSS_MB memory limit per target (default 2048).
# New inputs that add coverage go to build/fuzz/work/<target>/ (kept between runs, never into
# the repository); a failing input is written to build/fuzz/artifacts/<target>/ and its log is
# printed. To keep one as a regression case, copy it into fuzz/regressions/<target>/.
set -euo pipefail

cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=${FUZZ_JOBS:-$(nproc)}
rss=${FUZZ_RSS_MB:-2048}
all_targets=(effect_stream compound_file registry propbag png frei0r)
read -r -a targets <<<"${FUZZ_TARGETS:-${all_targets[*]}}"

# Largest input per target; PNG and compound files need room for a few sectors or chunks.
max_len() {
    case $1 in
    compound_file) echo 16384 ;;
    png) echo 8192 ;;
    registry) echo 4096 ;;
    *) echo 1024 ;;
    esac
}

# clang's sanitizer runtimes have no symbolizer of their own: without llvm-symbolizer their
# reports are bare addresses and fuzz/lsan.supp, which names functions, matches nothing.
symbolizer=$(command -v llvm-symbolizer || command -v llvm-symbolizer-14 || true)
if [ -z "$symbolizer" ]; then
    echo "fuzz.sh: llvm-symbolizer not found; scripts/install-deps.sh installs it (package llvm)" >&2
    exit 2
fi
export ASAN_SYMBOLIZER_PATH=$symbolizer

start=$(date +%s)
echo "== fuzz build =="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
built=$(date +%s)

out=build/fuzz
mkdir -p "$out/logs"
# The filter takes its module from the build, not from a path the caller's environment names.
unset VELMORA_MODULE
# A huge allocation is a finding (libFuzzer reports it against -rss_limit_mb), not a null.
export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp:print_suppressions=0"

run_one() {
    local t=$1
    local work=$out/work/$t artifacts=$out/artifacts/$t
    mkdir -p "$work" "$artifacts"
    local dirs=("$work" "fuzz/corpus/$t")
    [ -d "fuzz/regressions/$t" ] && dirs+=("fuzz/regressions/$t")
    # The first folder receives new inputs; the seeds and regressions are only read.
    "$out/bin/fuzz_$t" "${dirs[@]}" \
        -max_total_time="$seconds" -rss_limit_mb="$rss" -timeout=20 -max_len="$(max_len "$t")" \
        -print_final_stats=1 -artifact_prefix="$artifacts/" >"$out/logs/$t.log" 2>&1
}

echo "== fuzzing ${#targets[@]} targets, ${seconds} s each, $jobs at a time =="
declare -A pids
failed=()
running=0
for t in "${targets[@]}"; do
    [ -x "$out/bin/fuzz_$t" ] || { echo "fuzz.sh: no target $t" >&2; exit 2; }
    run_one "$t" &
    pids[$t]=$!
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n || true
        running=$((running - 1))
    fi
done

printf '%-15s %12s %10s %8s  %s\n' target inputs exec/s corpus result
for t in "${targets[@]}"; do
    status=0
    wait "${pids[$t]}" || status=$?
    log=$out/logs/$t.log
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    [ -n "$runs" ] || runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    corpus=$(find "$out/work/$t" -type f | wc -l)
    if [ "$status" -eq 0 ] && grep -q '^Done [0-9]* runs' "$log"; then
        result=ok
    else
        result="FAILED (exit $status)"
        failed+=("$t")
    fi
    printf '%-15s %12s %10s %8s  %s\n' "$t" "${runs:-?}" "${speed:-?}" "$corpus" "$result"
done

# Scratch folders of targets that died before their own clean-up (compound_file, registry).
for d in /dev/shm/velmora-fuzz-* "${TMPDIR:-/tmp}"/velmora-fuzz-*; do
    [ -d "$d" ] || continue
    kill -0 "${d##*-}" 2>/dev/null || rm -rf "$d"
done

for t in "${failed[@]}"; do
    echo
    echo "== $t: $out/logs/$t.log =="
    grep -v '^#[0-9]' "$out/logs/$t.log" | tail -40
    echo "failing input(s): $(ls "$out/artifacts/$t" 2>/dev/null | sed "s|^|$out/artifacts/$t/|" | tr '\n' ' ')"
done
end=$(date +%s)
echo "fuzz: build $((built - start)) s, fuzzing $((end - built)) s"
[ ${#failed[@]} -eq 0 ] || { echo "fuzz: ${#failed[@]} target(s) failed: ${failed[*]}"; exit 1; }
echo "fuzz: all ${#targets[@]} targets ran clean"
