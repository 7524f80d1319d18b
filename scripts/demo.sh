#!/usr/bin/env bash
# make demo: builds the program, the module and the frei0r filter (default preset), registers the
# module in a registry file under the build tree, makes the built-in sample, takes its matte out
# through `velmora apply` and through ffmpeg's frei0r filter, checks that both give the same
# bytes, and draws a before/after contact sheet.
set -euo pipefail
cd "$(dirname "$0")/.."

preset=default
build=$PWD/build/$preset
out=$build/demo
bin=$build/bin
frames=${FRAMES:-48}
jobs=${JOBS:-$(nproc)}
python=/usr/bin/python3 # Debian's, which has the packages install-deps.sh added

echo "== building the program, the module and the frei0r filter ($preset preset)"
cmake --preset $preset >/dev/null
cmake --build --preset $preset -j "$jobs" --target velmora velmora_host velmora_frei0r

rm -rf "$out"
mkdir -p "$out"
export VELMORA_REGISTRY=$out/registry.reg
echo "== registering the module"
"$bin/velmora" register

echo "== making the sample: $frames frames of 1920x1080, soft shapes matted against green"
"$bin/velmora" sample --frames "$frames" "$out/matted"

echo "== velmora apply --matte green"
"$bin/velmora" apply --verbose --matte green "$out/matted" "$out/unmatted" 2> >(tee "$out/apply.log" >&2)
sleep 0.2 # let tee finish writing
apply_rate=$(tr '\r' '\n' <"$out/apply.log" | grep -o 'in [0-9.]* s: [0-9.]* frames/s, [0-9.]* Mpixel/s' | tail -1)
effect_rate=$(tr '\r' '\n' <"$out/apply.log" | grep -o 'the effect alone .*' | tail -1)

echo "== ffmpeg -vf frei0r=filter_name=velmora:filter_params=0x00FF00"
start=$(date +%s.%N)
FREI0R_PATH=$build/frei0r-1 ffmpeg -nostdin -v error -y -framerate 24 \
    -i "$out/matted/frame_%04d.png" \
    -vf frei0r=filter_name=velmora:filter_params=0x00FF00 \
    -c:v ffv1 -pix_fmt bgra "$out/unmatted.mkv"
end=$(date +%s.%N)
ffmpeg_rate=$(awk -v n="$frames" -v s="$start" -v e="$end" \
    'BEGIN { printf "in %.2f s: %.1f frames/s", e - s, n / (e - s) }')

# Both roads must give the same bytes: decode both to raw BGRA and compare.
a=$(ffmpeg -nostdin -v error -i "$out/unmatted.mkv" -f rawvideo -pix_fmt bgra - | md5sum | cut -c1-32)
b=$(ffmpeg -nostdin -v error -i "$out/unmatted/frame_%04d.png" -f rawvideo -pix_fmt bgra - | md5sum | cut -c1-32)
[ "$a" = "$b" ] && same="yes, every byte" || same="NO: they differ"

echo "== contact sheet"
$python scripts/contact_sheet.py "$out/matted" "$out/unmatted" "$out/contact-sheet.png"

cat <<EOF

Velmora demo: done.
  registry        $VELMORA_REGISTRY (velmora register wrote it)
  sample          $out/matted/ ($frames PNG frames, 1920x1080, matted against green)
  velmora apply   $out/unmatted/ ($apply_rate, PNG in and out included;
                  $effect_rate)
  ffmpeg frei0r   $out/unmatted.mkv (FFV1 with alpha, $ffmpeg_rate, decode and encode included)
  same result     $same
  contact sheet   $out/contact-sheet.png (before above, after below)
EOF
[ "$a" = "$b" ]
