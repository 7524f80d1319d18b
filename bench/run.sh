#!/usr/bin/env bash
# Builds the benchmarks in a Release tree of their own, runs them, measures the ffmpeg
# comparison, prints one table and draws it into bench/results/benchmarks.png.
#
#   bash bench/run.sh            # everything (a few minutes)
#   REPS=3 MIN_TIME=0.1 bash bench/run.sh   # quicker, noisier
#
# BUILD_DIR (default build/bench), REPS (repetitions, default 9), MIN_TIME (seconds per
# repetition, default 0.3), FFMPEG_FRAMES (distinct frames, default 30) and FFMPEG_LOOPS (how often
# each is read, default 16: a run of a second or so, long enough that a filter's time stands
# out of the noise of starting ffmpeg),
# FREI0R_PLUGIN (path of our frei0r filter; otherwise it is looked for in the build tree).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/bench}
results=$root/bench/results
reps=${REPS:-9}
min_time=${MIN_TIME:-0.3}
frames=${FFMPEG_FRAMES:-30}
loops=${FFMPEG_LOOPS:-16}
mkdir -p "$results"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
targets=(velmora_kernel_bench velmora_execute_bench velmora_bench_frames)
# Our frei0r filter, where the tree has it.
mapfile -t frei0r_targets < <(cmake --build "$build" --target help | sed -n 's/^\([^:/]*frei0r[^:/]*\):.*/\1/p')
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" \
    ${frei0r_targets[@]+"${frei0r_targets[@]}"} >&2

# Repetitions of all benchmarks are interleaved at random, so that other load on the machine
# spreads over every row instead of spoiling a few.
run_bench() { # program, json out
    "$build/bin/$1" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
        --benchmark_enable_random_interleaving=true \
        --benchmark_min_time="$min_time" --benchmark_out="$results/$2" \
        --benchmark_out_format=json >&2
}
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
echo "== kernel benchmarks (one core)" >&2
run_bench velmora_kernel_bench kernel.json
echo "== Execute benchmarks" >&2
run_bench velmora_execute_bench execute.json

# ffmpeg: each filter on the frames in its own layout, against a run that reads and discards
# the same frames; the median of five runs of each.
ffmpeg_out=$results/ffmpeg.txt
: >"$ffmpeg_out"
if command -v ffmpeg >/dev/null; then
    echo "== ffmpeg comparison" >&2
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    "$build/bin/velmora_bench_frames" 1080p keyed gbrap "$frames" "$scratch/keyed.gbrap"
    "$build/bin/velmora_bench_frames" 1080p keyed bgra "$frames" "$scratch/keyed.bgra"
    rtime() { # pixel format, file, threads (single|default), extra arguments...
        local format=$1 file=$2 threads=$3
        shift 3
        local opts=()
        [ "$threads" = single ] && opts=(-threads 1 -filter_threads 1)
        for _ in 1 2 3 4 5; do
            ffmpeg -hide_banner -nostdin -benchmark ${opts[@]+"${opts[@]}"} -f rawvideo \
                -pix_fmt "$format" -s 1920x1080 -framerate 25 -stream_loop $((loops - 1)) \
                -i "$file" "$@" -f null - 2>&1 | sed -n 's/.*rtime=\([0-9.]*\)s.*/\1/p'
        done | sort -n | sed -n 3p
    }
    plugin=${FREI0R_PLUGIN:-$(find "$build" -path '*frei0r*' -name '*.so' 2>/dev/null | head -1)}
    {
        echo "version=$(ffmpeg -hide_banner -version | sed -n '1s/ffmpeg version \([^ ]*\).*/\1/p')"
        echo "frames=$((frames * loops))"
        for threads in single default; do
            echo "unpremultiply_${threads}_base=$(rtime gbrap "$scratch/keyed.gbrap" $threads)"
            echo "unpremultiply_${threads}_filter=$(rtime gbrap "$scratch/keyed.gbrap" $threads \
                -vf unpremultiply=inplace=1)"
        done
        if [ -n "$plugin" ] && [ -f "$plugin" ]; then
            name=$(basename "$plugin" .so)
            for threads in single default; do
                echo "frei0r_${threads}_base=$(rtime bgra "$scratch/keyed.bgra" $threads)"
                echo "frei0r_${threads}_filter=$(FREI0R_PATH=$(dirname "$plugin") rtime bgra \
                    "$scratch/keyed.bgra" $threads -vf "frei0r=filter_name=$name")"
            done
            # What a run pays once (the module loaded, the effect made): one frame, less its time.
            echo "frei0r_once_base=$(rtime bgra "$scratch/keyed.bgra" default -frames:v 1)"
            echo "frei0r_once_filter=$(FREI0R_PATH=$(dirname "$plugin") rtime bgra \
                "$scratch/keyed.bgra" default -frames:v 1 -vf "frei0r=filter_name=$name")"
        else
            echo "frei0r_note=our frei0r filter is not built yet"
        fi
    } >"$ffmpeg_out"
else
    echo "frei0r_note=ffmpeg is not installed" >"$ffmpeg_out"
fi

BENCH_LOAD="load average ${load_before} before, $(cut -d' ' -f1-3 /proc/loadavg) after" \
    BENCH_BUILD="Release (-O3) in $build" python3 "$root/bench/report.py" "$results"
if command -v gnuplot >/dev/null; then
    (cd "$results" && gnuplot "$root/bench/chart.gp")
    echo "chart: $results/benchmarks.png"
fi
