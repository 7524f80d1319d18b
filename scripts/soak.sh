#!/usr/bin/env bash
# The fault and load suites at their full counts (VELMORA_SOAK=1): every test labelled soak, in
# each preset given (default, asan with LeakSanitizer, tsan for those labelled concurrency too).
# Prints the figures each test reports (frames checked, cycles, faults injected, runs killed) and
# their totals per preset; the whole logs are kept in build/<preset>/soak.log. Fails if any test fails.
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
    # Each figure's total over the tests that reported it, in the order first seen.
    awk -v preset="$preset" -v wall=$((end - start)) '
        /^[0-9]+: \[  figure  \]/ {
            line = $0
            sub(/^[0-9]+: \[  figure  \] [^:]*: /, "", line)
            split(line, pair, " = ")
            if (!(pair[1] in total)) order[++n] = pair[1]
            total[pair[1]] += pair[2]
        }
        END {
            printf "  %s total:", preset
            for (i = 1; i <= n; ++i) printf " %s %s%s", total[order[i]], order[i], i < n ? "," : ";"
            printf " %d s wall\n", wall
        }' "$log"
    grep -E 'tests passed|tests failed' "$log" | sed 's/^/  /'
    if [ $result -ne 0 ]; then
        grep -E '\(Failed\)|\(Timeout\)|\*\*\*' "$log" | sed 's/^/  FAILED /'
        status=1
    fi
done
exit $status
