#!/usr/bin/env bash
# Stream copy benchmark: tarvello-convert --engine against the ffmpeg tool, copying a 30 s 720p25 H.264+AAC
# clip into Matroska. Prints the median wall time and peak memory of each, and the ratios ours/ffmpeg.
# Usage: bench/stream_copy.sh [--rounds N] [PATH/TO/tarvello-convert]
# Without a program path it builds build-app/ the way ./tarvello.sh does and measures that build.
# The clip is made once and kept in $BENCH_DIR (default: build-bench/ in the repository).
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh"

bench_parse_arguments 5 "$@"
bench_require_tools
bench_resolve_program
bench_make_clip

ours_out=$bench_dir/out_ours.mkv
ffmpeg_out=$bench_dir/out_ffmpeg.mkv
copy_with_ffmpeg() { rm -f "$ffmpeg_out"; run ffmpeg ffmpeg -v error -y -i "$clip" -c copy "$ffmpeg_out"; }
copy_with_ours() { rm -f "$ours_out"; run_ours ours "$program" --engine "$clip" "$ours_out" vcodec=copy acodec=copy; }

echo "Program: $program"
echo "Clip:    $clip ($(du -h "$clip" | cut -f1)), $rounds rounds"
for ((round = 1; round <= rounds; round++)); do
  # Alternating order, so that neither side always gets the warmer cache.
  if ((round % 2 == 1)); then copy_with_ffmpeg; copy_with_ours; else copy_with_ours; copy_with_ffmpeg; fi
  read -r ffmpeg_round_seconds ffmpeg_round_kb < <(tail -n 1 "$measures/ffmpeg")
  read -r ours_round_seconds ours_round_kb < <(tail -n 1 "$measures/ours")
  printf 'round %d: ffmpeg %s s %s kB, ours %s s %s kB\n' "$round" \
    "$ffmpeg_round_seconds" "$ffmpeg_round_kb" "$ours_round_seconds" "$ours_round_kb"
done

ffmpeg_seconds=$(median 1 "$measures/ffmpeg"); ffmpeg_kb=$(median 2 "$measures/ffmpeg")
ours_seconds=$(median 1 "$measures/ours"); ours_kb=$(median 2 "$measures/ours")

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
