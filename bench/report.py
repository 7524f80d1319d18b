#!/usr/bin/env python3
"""Turns the benchmark results into one table (stdout and results/table.txt), the data files the
chart is drawn from, and the list of targets met. Standard library only."""
import json
import os
import sys

results = sys.argv[1]


def medians(path):
    """Median real time in milliseconds and label per benchmark name."""
    with open(path) as f:
        data = json.load(f)
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
    out, labels, context = {}, {}, data.get("context", {})
    for b in data["benchmarks"]:
        if b.get("aggregate_name", "median") != "median" or b.get("error_occurred"):
            continue
        name = b.get("run_name", b["name"]).removesuffix("/real_time")
        out[name] = b["real_time"] * scale[b["time_unit"]]
        labels[name] = b.get("label", "")
    return out, labels, context


kernel, kernel_labels, context = medians(os.path.join(results, "kernel.json"))
execute, _, _ = medians(os.path.join(results, "execute.json"))
ffmpeg = {}
ffmpeg_path = os.path.join(results, "ffmpeg.txt")
if os.path.exists(ffmpeg_path):
    with open(ffmpeg_path) as f:
        for line in f:
            key, _, value = line.strip().partition("=")
            if key:
                ffmpeg[key] = value

sizes, mixes = ["1080p", "2160p"], ["opaque", "keyed", "partial"]
lines = []
say = lines.append


def ms(v):
    return "-" if v is None else f"{v:8.3f}"


def ratio(a, b):
    return None if a is None or b is None or b == 0 else a / b


def x(v):
    return "-" if v is None else f"{v:6.2f}x"


say(f"Velmora benchmarks  {context.get('date', '')}  host {context.get('host_name', '')}, "
    f"{context.get('num_cpus', '?')} CPUs at {context.get('mhz_per_cpu', '?')} MHz")
say(f"build: {os.environ.get('BENCH_BUILD', '?')}; SIMD targets compiled and supported: "
    f"{context.get('simd_targets', '?')}; dispatch picks {context.get('simd_dispatch', '?')}")
say("medians of repeated runs, milliseconds per frame (real time); "
    + os.environ.get("BENCH_LOAD", ""))
say("")
say("Kernel, one core          rule  three-pass    vector    memcpy   rule/vector  vector/memcpy")
chart_kernel, chart_execute = [], []
for s in sizes:
    for m in mixes:
        k = f"/{s}/{m}"
        rule, three, vec, cp = (kernel.get(n + k) for n in ("rule", "three_pass", "vector", "memcpy"))
        say(f"  {s} {m:8}    {ms(rule)}    {ms(three)}  {ms(vec)}  {ms(cp)}      "
            f"{x(ratio(rule, vec))}        {x(ratio(vec, cp))}")
        chart_kernel.append((f"{s} {m}", rule, three, vec, cp))
say("")
say("Vectorised kernel per instruction set, 1080p all-partial, one core")
chart_targets = []
for name in sorted((n for n in kernel if n.startswith("vector_")), key=lambda n: kernel[n]):
    target = name.split("/")[0].removeprefix("vector_")
    chart_targets.append((target, kernel.get("rule/1080p/partial"), kernel[name]))
    say(f"  {target:8} {ms(kernel[name])}   {x(ratio(kernel.get('rule/1080p/partial'), kernel[name]))}"
        " the rule")
say("")
say("Whole Execute through the COM effect   1 thread   2 threads   speed-up   1 thread/bare kernel")
for s in sizes:
    for m in mixes:
        one = execute.get(f"execute/{s}/{m}/threads:1")
        two = execute.get(f"execute/{s}/{m}/threads:2")
        bare = kernel.get(f"vector/{s}/{m}")
        say(f"  {s} {m:8}                       {ms(one)}    {ms(two)}    {x(ratio(one, two))}"
            f"      {x(ratio(one, bare))}")
        chart_execute.append((f"{s} {m}", bare, one, two))
say("")
frames = ffmpeg.get("frames", "?")
say(f"ffmpeg {ffmpeg.get('version', '(not installed)')}, 1080p keyed, {frames} frames; filter "
    "time alone = (run with filter - run that reads and discards the same frames) / frames;")
say("  single-threaded limits ffmpeg's threads; the effect keeps its own task manager")


def filter_ms(name):
    if name + "_filter" not in ffmpeg:
        return None
    return (float(ffmpeg[name + "_filter"]) - float(ffmpeg[name + "_base"])) * 1e3 / float(frames)


chart_ffmpeg = []
for threads in ("single", "default"):
    un = filter_ms(f"unpremultiply_{threads}")
    ours = filter_ms(f"frei0r_{threads}")
    note = ffmpeg.get("frei0r_note", "")
    say(f"  {threads + '-threaded' if threads == 'single' else 'default threads':16} "
        f"unpremultiply=inplace=1 {ms(un)}   velmora frei0r {ms(ours) if ours is not None else note}"
        + (f"   {x(ratio(un, ours))} faster" if ours is not None else ""))
    chart_ffmpeg.append((threads, un, ours))
if "frei0r_once_filter" in ffmpeg:
    once = (float(ffmpeg["frei0r_once_filter"]) - float(ffmpeg["frei0r_once_base"])) * 1e3
    say(f"  once per run, not in the figures above: velmora frei0r {once:.0f} ms for loading the "
        "module and making the effect (one frame's run, less the frame)")
say("")


def verdict(ok):
    return "reached" if ok else "NOT reached"


say("Targets")
for s in sizes:
    r = ratio(kernel.get(f"rule/{s}/partial"), kernel.get(f"vector/{s}/partial"))
    if r is not None:
        say(f"  vectorised >= 8x the scalar rule, all-partial {s}, one core: {r:.2f}x  {verdict(r >= 8)}")
for s in sizes:
    r = ratio(kernel.get(f"vector/{s}/keyed"), kernel.get(f"memcpy/{s}/keyed"))
    if r is not None:
        say(f"  keyed {s} within 1.3x of memcpy: {r:.2f}x  {verdict(r <= 1.3)}")
for m in mixes:
    r = ratio(execute.get(f"execute/1080p/{m}/threads:1"), kernel.get(f"vector/1080p/{m}"))
    if r is not None:
        say(f"  Execute 1080p {m} within 1.5x of the bare kernel: {r:.2f}x  {verdict(r <= 1.5)}")
r = ratio(execute.get("execute/2160p/partial/threads:1"), execute.get("execute/2160p/partial/threads:2"))
if r is not None:
    say(f"  2 threads >= 1.7x 1 thread, all-partial 2160p: {r:.2f}x  {verdict(r >= 1.7)}")
for threads, un, ours in chart_ffmpeg:
    r = ratio(un, ours)
    say(f"  frei0r >= 3x unpremultiply ({threads}): "
        + (f"{r:.2f}x  {verdict(r >= 3)}" if r is not None else "skipped, " + ffmpeg.get("frei0r_note", "no data")))

text = "\n".join(lines) + "\n"
sys.stdout.write(text)
with open(os.path.join(results, "table.txt"), "w") as f:
    f.write(text)


def write(name, rows):
    with open(os.path.join(results, name), "w") as f:
        for row in rows:
            f.write('"' + row[0] + '" ' + " ".join("NaN" if v is None else f"{v:.4f}" for v in row[1:]) + "\n")


write("kernel.dat", chart_kernel)
write("execute.dat", chart_execute)
write("targets.dat", chart_targets)
# gnuplot cannot draw a series without points: a missing filter is drawn as 0 and says so.
missing = all(ours is None for _, _, ours in chart_ffmpeg)
write("ffmpeg.dat", [(t, un, 0.0 if ours is None else ours) for t, un, ours in chart_ffmpeg])
with open(os.path.join(results, "chart.vars"), "w") as f:
    note = " (" + ffmpeg.get("frei0r_note", "no data") + ")" if missing else ""
    f.write(f'frei0r_title = "velmora frei0r{note}"\n')
