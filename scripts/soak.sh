#!/usr/bin/env bash
# The fault and load suites at their full counts (VELMORA_SOAK=1): every test labelled soak, in
# each preset given (default, asan with LeakSanitizer, tsan for those labelled concurrency too).
# Prints the figures each test reports (frames checked, cycles, faults injected, seconds) and a
# total per preset; the whole logs are kept in build/<preset>/soak.log. Fails if any test fails.
set -uo pipefail

cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default asan tsan)
jobs=${JOBS:-$(nproc)}
status=0

for preset in "${presets[@]}"; do
    echo "== $preset: build =="
    cmake --preset "$preset" >/dev/null || exit 1
    cmake --build --preset "$preset" -j "$jobs" >/dev/null || exit 1
    log=build/$preset/soak.log
    echo "== $preset: soak (log: $log) =="
    start=$(date +%s)
    # One test at a time, so that the seconds each reports are its own.
    VELMORA_SOAK=1 ctest --preset "$preset" -L soak --timeout 3600 -j "${SOAK_JOBS:-1}" -V >"$log" 2>&1
    result=$?
    end=$(date +%s)
    # ctest -V prefixes each line of a test's output with its number.
    grep -E '^[0-9]+: \[  figure  \]' "$log" | sed -E 's/^[0-9]+: \[  figure  \] /  /' | sort
    awk -v preset="$preset" -v wall=$((end - start)) '
        /\[  figure  \]/ {
            split($0, kv, ": ")
            n = split(kv[length(kv)], pair, " = ")
            name = pair[1]; value = pair[2] + 0
            if (name ~ /frames checked/) frames += value
            else if (name ~ /faults injected|writers killed|runs killed/) faults += value
            else if (name ~ /cycles/) cycles += value
            else if (name ~ /keys written/) keys += value
            else if (name ~ /torn frames/) torn += value
        }
        END {
            printf "  %s total: %d frames checked (%d torn), %d create/release cycles, %d registry keys by 8 processes, %d faults injected, %d s wall\n", \
                preset, frames, torn, cycles, keys, faults, wall
        }' "$log"
    grep -E 'tests passed|tests failed' "$log" | sed 's/^/  /'
    if [ $result -ne 0 ]; then
        grep -E '\(Failed\)|\(Timeout\)|\*\*\*' "$log" | sed 's/^/  FAILED /'
        status=1
    fi
done
exit $status
