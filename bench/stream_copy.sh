#!/usr/bin/env bash
# Stream copy benchmark: tarvello-convert --engine against the ffmpeg tool, copying a 30 s 720p25 H.264+AAC
# clip into Matroska. Prints the median wall time and peak memory of each, and the ratios ours/ffmpeg.
# Usage: bench/stream_copy.sh [--rounds N] [PATH/TO/tarvello-convert]
# Without a program path it builds build-app/ the way ./tarvello.sh does and measures that build.
# The clip is made once and kept in $BENCH_DIR (default: build-bench/ in the repository).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
rounds=5
program=""
while [[ $# -gt 0 ]]; do
  case $1 in
    --rounds)
      [[ $# -ge 2 && $2 =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [--rounds N] [tarvello-convert]" >&2; exit 2; }
      rounds=$2; shift 2 ;;
    -h|--help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "usage: $0 [--rounds N] [tarvello-convert]" >&2; exit 2 ;;
    *) [[ -z $program ]] || { echo "usage: $0 [--rounds N] [tarvello-convert]" >&2; exit 2; }
       program=$1; shift ;;
  esac
done

for tool in ffmpeg ffprobe; do
  command -v "$tool" >/dev/null || { echo "$0: the $tool tool is missing (scripts/install-packages.sh test)" >&2; exit 1; }
done
gnu_time=/usr/bin/time
[[ -x $gnu_time ]] || { echo "$0: $gnu_time is missing (Debian package 'time')" >&2; exit 1; }

if [[ -z $program ]]; then
  # tarvello.sh's own build step (package check, configure, build); --version then shows what was built.
  echo "Building build-app/ through ./tarvello.sh ..."
  if ! "$repo/tarvello.sh" --version; then
    echo "$0: building or starting tarvello-convert through ./tarvello.sh failed" \
      "(cmake --build $repo/build-app shows the build's messages)" >&2
    exit 1
  fi
  program=$repo/build-app/cli/tarvello-convert
fi
[[ -x $program ]] || { echo "$0: '$program' is no executable" >&2; exit 1; }
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")

bench_dir=${BENCH_DIR:-$repo/build-bench}
mkdir -p "$bench_dir"
clip=$bench_dir/clip_720p25_30s.mp4
if [[ ! -s $clip ]]; then
  echo "Making $clip (once) ..."
  ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25:duration=30 \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=30 \
    -c:v libx264 -preset fast -b:v 2500k -maxrate 3000k -bufsize 5000k -pix_fmt yuv420p \
    -c:a aac -b:a 128k -shortest "$clip.part.mp4"
  mv "$clip.part.mp4" "$clip"
fi

ours_out=$bench_dir/out_ours.mkv
ffmpeg_out=$bench_dir/out_ffmpeg.mkv
measures=$(mktemp -d)
trap 'rm -rf "$measures"' EXIT

# run NAME COMMAND...: one timed run; appends "seconds kilobytes" to $measures/NAME.
run() {
  local name=$1; shift
  local measure=$measures/last
  if ! "$gnu_time" -f '%e %M' -o "$measure" "$@" >"$measures/stdout" 2>"$measures/stderr"; then
    echo "$0: the $name run failed:" >&2
    cat "$measures/stdout" "$measures/stderr" >&2
    exit 1
  fi
  tail -n 1 "$measure" >>"$measures/$name"
}
run_ffmpeg() { rm -f "$ffmpeg_out"; run ffmpeg ffmpeg -v error -y -i "$clip" -c copy "$ffmpeg_out"; }
run_ours() {
  rm -f "$ours_out"
  run ours "$program" --engine "$clip" "$ours_out" vcodec=copy acodec=copy
  grep -qx Done "$measures/stdout" || { echo "$0: tarvello-convert did not say Done" >&2; exit 1; }
}

echo "Program: $program"
echo "Clip:    $clip ($(du -h "$clip" | cut -f1)), $rounds rounds"
for ((round = 1; round <= rounds; round++)); do
  # Alternating order, so that neither side always gets the warmer cache.
  if ((round % 2 == 1)); then run_ffmpeg; run_ours; else run_ours; run_ffmpeg; fi
  read -r ffmpeg_round_seconds ffmpeg_round_kb < <(tail -n 1 "$measures/ffmpeg")
  read -r ours_round_seconds ours_round_kb < <(tail -n 1 "$measures/ours")
  printf 'round %d: ffmpeg %s s %s kB, ours %s s %s kB\n' "$round" \
    "$ffmpeg_round_seconds" "$ffmpeg_round_kb" "$ours_round_seconds" "$ours_round_kb"
done

# median COLUMN FILE
median() {
  sort -g -k "$1,$1" "$2" | awk -v column="$1" '{ v[NR] = $column }
    END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
ffmpeg_seconds=$(median 1 "$measures/ffmpeg"); ffmpeg_kb=$(median 2 "$measures/ffmpeg")
ours_seconds=$(median 1 "$measures/ours"); ours_kb=$(median 2 "$measures/ours")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

echo
printf '%-8s %12s %16s\n' "" "wall (s)" "peak RSS (kB)"
printf '%-8s %12s %16s\n' ffmpeg "$ffmpeg_seconds" "$ffmpeg_kb"
printf '%-8s %12s %16s\n' ours "$ours_seconds" "$ours_kb"
printf '%-8s %12s %16s\n' ratio "$(ratio "$ours_seconds" "$ffmpeg_seconds")" "$(ratio "$ours_kb" "$ffmpeg_kb")"

# Our output must hold both streams and the whole clip.
probe=$(ffprobe -v error -show_entries format=duration:format=nb_streams -of default=noprint_wrappers=1 "$ours_out")
streams=$(sed -n 's/^nb_streams=//p' <<<"$probe")
duration=$(sed -n 's/^duration=//p' <<<"$probe")
if [[ $streams != 2 ]] || ! awk -v d="$duration" 'BEGIN { exit !(d >= 29.8 && d <= 30.2) }'; then
  echo "Output check FAILED: $streams streams, duration ${duration:-unknown} s (expected 2 streams, 30 s)" >&2
  exit 1
fi
echo "Output check: $streams streams, duration $duration s"
