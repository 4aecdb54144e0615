#!/usr/bin/env bash
# Several files at once: tarvello-convert --jobs 2 converting 8 files to mp3 192k (audio only) against 8 runs of
# the ffmpeg tool one after another, the way a batch is converted with it. Prints each side's median wall time.
# Usage: bench/parallel_jobs.sh [--rounds N] [PATH/TO/tarvello-convert]
# Without a program path it builds build-app/ the way ./tarvello.sh does and measures that build.
# The clip is made once and kept in $BENCH_DIR (default: build-bench/ in the repository).
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh"

bench_parse_arguments 5 "$@"
bench_require_tools
bench_resolve_program
bench_make_clip

file_count=8
jobs=2
# The profile's own choices for its other settings: the tool is given the same sampling rate and channels.
profile="MP3 - Mpeg Layer3 Audio (*.mp3)"
bitrate="192 Kbps"

inputs=$bench_dir/parallel_inputs
ours_dir=$bench_dir/parallel_ours
ffmpeg_dir=$bench_dir/parallel_ffmpeg
mkdir -p "$inputs" "$ours_dir" "$ffmpeg_dir"
files=()
for ((number = 1; number <= file_count; number++)); do
  ln -sf "$clip" "$inputs/clip$number.mp4"
  files+=("$inputs/clip$number.mp4")
done

# The sampling rate and channels the profile hands the engine, for the tool's command line.
shown=$("$program" --show-options --profile "$profile" --audio-bitrate "$bitrate" -o "$ours_dir" "${files[0]}")
rate=$(sed -n 's/^output\.AudioSampleRate=//p' <<<"$shown")
channels=$(sed -n 's/^output\.AudioChannels=//p' <<<"$shown")
codec=$(sed -n 's/^output\.AudioCodec=//p' <<<"$shown")
[[ $codec == libmp3lame && -n $rate && -n $channels ]] ||
  { echo "$0: the profile's records are not what this benchmark expects:" >&2; echo "$shown" >&2; exit 1; }
ffmpeg_options=(-vn -c:a libmp3lame -b:a 192k -ar "$rate" -ac "$channels")

convert_with_ours() {
  rm -f "$ours_dir"/*.mp3
  run ours "$program" --jobs "$jobs" --profile "$profile" --audio-bitrate "$bitrate" --overwrite -o "$ours_dir" \
    "${files[@]}"
  [[ $(grep -c '^Done ' "$measures/stdout") -eq $file_count ]] ||
    { echo "$0: tarvello-convert did not convert every file:" >&2; cat "$measures/stdout" >&2; exit 1; }
}
convert_with_ffmpeg() {
  rm -f "$ffmpeg_dir"/*.mp3
  local script='out=$1; shift; for file; do
    ffmpeg -nostdin -v error -y -i "$file" '"${ffmpeg_options[*]}"' "$out/$(basename "${file%.*}").mp3" || exit 1
  done'
  run ffmpeg bash -c "$script" batch "$ffmpeg_dir" "${files[@]}"
}

failures=0
# check_output FILE: one mp3 stream at 192 kbit/s lasting about 30 s.
check_output() {
  local file=$1 facts duration
  facts=$(ffprobe -v error -show_entries stream=codec_type,codec_name,bit_rate,sample_rate,channels \
    -of csv=p=0 "$file" | tr '\n' ' ')
  duration=$(ffprobe -v error -show_entries format=duration -of default=noprint_wrappers=1:nokey=1 "$file")
  if [[ $facts != "mp3,audio,$rate,$channels,192000 " ]]; then
    echo "  FAIL: $file holds '$facts', expected mp3 audio $rate Hz, $channels channels, 192000 bit/s"
    failures=$((failures + 1))
  elif ! awk -v d="$duration" 'BEGIN { exit !(d >= 29.8 && d <= 30.2) }'; then
    echo "  FAIL: $file lasts ${duration:-an unknown time} s, expected 30 s"
    failures=$((failures + 1))
  elif ! ffmpeg -nostdin -v error -xerror -i "$file" -f null - 2>"$measures/decode"; then
    echo "  FAIL: $file does not decode cleanly: $(head -c 300 "$measures/decode")"
    failures=$((failures + 1))
  fi
}

echo "Program: $program"
echo "Clip:    $clip ($(du -h "$clip" | cut -f1)) as $file_count files, $rounds rounds"
echo "  ours:   --jobs $jobs --profile '$profile' --audio-bitrate '$bitrate' ($rate Hz, $channels channels)"
echo "  ffmpeg: ${ffmpeg_options[*]}, the $file_count files one after another"
echo "Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"
for ((round = 1; round <= rounds; round++)); do
  # Alternating order, so that neither side always gets the warmer cache.
  if ((round % 2 == 1)); then convert_with_ffmpeg; convert_with_ours; else convert_with_ours; convert_with_ffmpeg; fi
  read -r ffmpeg_round_seconds ffmpeg_round_kb < <(tail -n 1 "$measures/ffmpeg")
  read -r ours_round_seconds ours_round_kb < <(tail -n 1 "$measures/ours")
  printf '  round %d: ffmpeg %s s, ours %s s %s kB\n' "$round" "$ffmpeg_round_seconds" "$ours_round_seconds" \
    "$ours_round_kb"
done
for file in "$ours_dir"/*.mp3 "$ffmpeg_dir"/*.mp3; do
  check_output "$file"
done
echo "  output check: $(find "$ours_dir" "$ffmpeg_dir" -name '*.mp3' | wc -l) files looked at"

ffmpeg_seconds=$(median 1 "$measures/ffmpeg")
ours_seconds=$(median 1 "$measures/ours")
echo
printf '%-52s %9s %9s %6s\n' "" "ffmpeg s" "ours s" ratio
printf '%-52s %9s %9s %6s\n' "$file_count files, mp3 192k audio only, --jobs $jobs" "$ffmpeg_seconds" \
  "$ours_seconds" "$(ratio "$ours_seconds" "$ffmpeg_seconds")"
echo "(medians of $rounds rounds; ratio = ours / ffmpeg; ours peak RSS median $(median 2 "$measures/ours") kB;" \
  "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg))"

if ((failures)); then
  echo "FAIL: $failures output check(s) failed" >&2
  exit 1
fi
