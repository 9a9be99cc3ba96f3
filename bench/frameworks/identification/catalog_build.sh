#!/usr/bin/env bash
# Catalog building against Chromaprint's own tool: `trovario-catalog add` over
# a folder of generated MP3 files of 3 to 4 minutes (all cores), then
# `fpcalc -raw -length 0` over the same files one after another, as a script
# over a music folder would run it. Prints the throughput of both, their
# ratio (the bar: at least 1.5 times fpcalc's) and the catalog's size per track.
# The files are made once and kept in BUILD_DIR/catalog-bench-music.
# Usage: bench/frameworks/identification/catalog_build.sh BUILD_DIR [FILES]
set -euo pipefail
build=${1:?usage: catalog_build.sh BUILD_DIR [FILES]}
count=${2:-40}
tool="$build/tools/trovario-catalog/trovario-catalog"
[ -x "$tool" ] || { echo "no $tool: build the target trovario-catalog first" >&2; exit 2; }
command -v fpcalc >/dev/null || { echo "no fpcalc: install libchromaprint-tools" >&2; exit 2; }

music="$build/catalog-bench-music"
mkdir -p "$music"
make_file() {  # index: pink noise and a beeping tone of its own, 180 to 240 s, MP3 128 kb/s
  local i=$1 seconds=$((180 + $1 * 37 % 61)) out="$music/track$(printf %02d "$1").mp3"
  [ -s "$out" ] && return
  ffmpeg -v error -y -f lavfi -i "anoisesrc=color=pink:seed=$i:amplitude=0.15:duration=$seconds" \
    -f lavfi -i "sine=frequency=$((180 + i * 23)):beep_factor=$((i % 5 + 2)):duration=$seconds" \
    -filter_complex "amix=inputs=2,aformat=channel_layouts=stereo" -ar 44100 -c:a libmp3lame -b:a 128k "$out.tmp.mp3"
  mv "$out.tmp.mp3" "$out"
}
export -f make_file
export music
seq 1 "$count" | xargs -P 2 -I{} bash -c 'make_file {}'
files=("$music"/track*.mp3)
files=("${files[@]:0:$count}")
cat "${files[@]}" >/dev/null  # both runs read from the page cache
audio=$(for f in "${files[@]}"; do ffprobe -v error -show_entries format=duration -of csv=p=0 "$f"; done |
        awk '{ s += $1 } END { printf "%.0f", s }')

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
cpu() { awk '{ print $14 + $15 + $16 + $17 }' /proc/$$/stat; }  # this shell's and its waited-for children's ticks
ticks=$(getconf CLK_TCK)
start=$(now) startCpu=$(cpu)
"$tool" --catalog "$work/catalog.sqlite" add "${files[@]}" >"$work/add.out"
ours=$(echo "$(now) - $start" | bc) oursCpu=$(echo "($(cpu) - $startCpu) / $ticks" | bc -l)

start=$(now) startCpu=$(cpu)
failed=0
for f in "${files[@]}"; do
  # fpcalc exits 3 at the end of some files after printing a good fingerprint.
  printed=$(fpcalc -raw -length 0 "$f" 2>/dev/null || true)
  [[ $printed == *FINGERPRINT=[0-9]* ]] || failed=$((failed + 1))
done
theirs=$(echo "$(now) - $start" | bc) theirsCpu=$(echo "($(cpu) - $startCpu) / $ticks" | bc -l)

tail -1 "$work/add.out"
"$tool" --catalog "$work/catalog.sqlite" stats
awk -v n="${#files[@]}" -v audio="$audio" -v ours="$ours" -v theirs="$theirs" -v failed="$failed" \
    -v oursCpu="$oursCpu" -v theirsCpu="$theirsCpu" -v load="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN {
  printf "%d files, %d s of audio (%.1f min a file); load average before: %s\n", n, audio, audio / n / 60, load
  printf "trovario-catalog add: %6.2f s, %5.2f files/s, %4.0fx real time, %5.2f s of CPU\n",
         ours, n / ours, audio / ours, oursCpu
  printf "fpcalc one by one:    %6.2f s, %5.2f files/s, %4.0fx real time, %5.2f s of CPU (%d without a fingerprint)\n",
         theirs, n / theirs, audio / theirs, theirsCpu, failed
  printf "ratio: %.2fx fpcalc (bar: at least 1.5x); CPU per file %.2fx fpcalc\n", theirs / ours, oursCpu / theirsCpu }'
