#!/usr/bin/env bash
# Re-encoding benchmark: tarvello-convert --engine against the ffmpeg tool, encoding the 30 s 720p25 clip with
# the same encoders and settings (four jobs). Prints per job the median wall time and peak memory of each side.
# Usage: bench/reencode.sh [--rounds N] [PATH/TO/tarvello-convert]
# Without a program path it builds build-app/ the way ./tarvello.sh does and measures that build.
# The clip is made once and kept in $BENCH_DIR (default: build-bench/ in the repository).
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh"

bench_parse_arguments 3 "$@"
bench_require_tools
bench_resolve_program
bench_make_clip

# One job per index: a title, the output's extension, our options, the ffmpeg tool's options, and the streams
# the output must hold (TYPE:CODEC, or TYPE:CODEC:TAG where the tag matters). Thread counts stay at their
# defaults on both sides (one thread per core).
job_titles=(
  "mpeg4 1200k + aac 128k, MP4"
  "libx264 1200k + aac 128k, MP4"
  "mpeg4 DIVX 1200k + mp3 128k, AVI"
  "mp3 192k, audio only"
)
job_extensions=(mp4 mp4 avi mp3)
job_ours_options=(
  "vcodec=mpeg4 b=1200000 acodec=aac ab=128000"
  "vcodec=libx264 b=1200000 acodec=aac ab=128000"
  "vcodec=mpeg4 vtag=DIVX b=1200000 acodec=libmp3lame ab=128000"
  "acodec=libmp3lame ab=192000"
)
job_ffmpeg_options=(
  "-c:v mpeg4 -b:v 1200k -c:a aac -b:a 128k"
  "-c:v libx264 -b:v 1200k -c:a aac -b:a 128k"
  "-c:v mpeg4 -vtag DIVX -b:v 1200k -c:a libmp3lame -b:a 128k"
  "-vn -c:a libmp3lame -b:a 192k"
)
job_streams=(
  "video:mpeg4 audio:aac"
  "video:h264 audio:aac"
  "video:mpeg4:DIVX audio:mp3"
  "audio:mp3"
)

failures=0
# In line with the job's report; the summary at the end goes to stderr as well.
fail() {
  echo "  FAIL: $*"
  failures=$((failures + 1))
}

# check_output FILE EXPECTED_STREAMS: the streams (in order) and a duration of about 30 s.
check_output() {
  local file=$1 expected=$2
  local streams duration
  streams=$(ffprobe -v error -show_entries stream=codec_type,codec_name,codec_tag_string \
    -of default=noprint_wrappers=1 "$file" |
    awk -F= '$1 == "codec_name" { name = $2 } $1 == "codec_type" { type = $2 }
      $1 == "codec_tag_string" { printf "%s%s:%s:%s", separator, type, name, $2; separator = " " }')
  duration=$(ffprobe -v error -show_entries format=duration -of default=noprint_wrappers=1:nokey=1 "$file")
  local -a actual_list expected_list
  read -ra actual_list <<<"$streams"
  read -ra expected_list <<<"$expected"
  local matches=$((${#actual_list[@]} == ${#expected_list[@]}))
  local index
  for ((index = 0; matches && index < ${#expected_list[@]}; index++)); do
    local want=${expected_list[index]} have=${actual_list[index]}
    # Without a tag in the expectation, any tag will do.
    [[ $want == *:*:* ]] || have=${have%:*}
    [[ $have == "$want" ]] || matches=0
  done
  if ((!matches)); then
    fail "$file holds streams '$streams', expected '$expected'"
  elif ! awk -v d="$duration" 'BEGIN { exit !(d >= 29.8 && d <= 30.2) }'; then
    fail "$file lasts ${duration:-an unknown time} s, expected 30 s"
  else
    echo "  output check $(basename "$file"): $streams, $duration s, $(du -k "$file" | cut -f1) kB"
  fi
}

# x264_options FILE: the option list x264 writes into the stream ("cabac=1 ref=3 ...").
x264_options() {
  LC_ALL=C grep -a -o -m 1 'x264 - core [ -~]*' "$1" | sed -n 's/.* options: //p'
}
x264_option() { tr ' ' '\n' <<<"$1" | sed -n "s/^$2=//p"; }

# compare_x264 OURS FFMPEG: both sides must have used the same preset; ref, subme and me tell the presets apart.
compare_x264() {
  local ours ffmpeg
  ours=$(x264_options "$1")
  ffmpeg=$(x264_options "$2")
  if [[ -z $ours || -z $ffmpeg ]]; then
    echo "  WARNING: no x264 settings string found in $([[ -z $ours ]] && echo "$1" || echo "$2")"
    return
  fi
  local key summary="" differ=0
  for key in ref subme me; do
    local ours_value ffmpeg_value
    ours_value=$(x264_option "$ours" "$key")
    ffmpeg_value=$(x264_option "$ffmpeg" "$key")
    summary+=" $key=$ours_value/$ffmpeg_value"
    [[ $ours_value == "$ffmpeg_value" ]] || differ=1
  done
  if ((differ)); then
    echo "  WARNING: the x264 presets differ (ours/ffmpeg):$summary"
  else
    echo "  x264 settings (ours/ffmpeg):$summary"
  fi
  local others
  others=$(diff <(tr ' ' '\n' <<<"$ours") <(tr ' ' '\n' <<<"$ffmpeg") | sed -n 's/^< //p' | tr '\n' ' ' || true)
  [[ -z $others ]] || echo "  other x264 options that differ, ours: $others"
}

# The current job's runs (number, ours_out, ffmpeg_out, ours_options and ffmpeg_options are set per job).
encode_with_ffmpeg() {
  rm -f "$ffmpeg_out"
  run "ffmpeg_$number" ffmpeg -nostdin -v error -y -i "$clip" "${ffmpeg_options[@]}" "$ffmpeg_out"
}
encode_with_ours() {
  rm -f "$ours_out"
  run_ours "ours_$number" "$program" --engine "$clip" "$ours_out" "${ours_options[@]}"
}

echo "Program: $program"
echo "Clip:    $clip ($(du -h "$clip" | cut -f1)), $rounds rounds per job"
# Other work on the machine skews both sides; the load average shows how much there was.
echo "Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"
for job in "${!job_titles[@]}"; do
  number=$((job + 1))
  ours_out=$bench_dir/reencode_${number}_ours.${job_extensions[job]}
  ffmpeg_out=$bench_dir/reencode_${number}_ffmpeg.${job_extensions[job]}
  read -ra ours_options <<<"${job_ours_options[job]}"
  read -ra ffmpeg_options <<<"${job_ffmpeg_options[job]}"
  echo
  echo "Job $number: ${job_titles[job]}"
  echo "  ours:   ${job_ours_options[job]}"
  echo "  ffmpeg: ${job_ffmpeg_options[job]}"
  for ((round = 1; round <= rounds; round++)); do
    # Alternating order, so that neither side always gets the warmer cache.
    if ((round % 2 == 1)); then encode_with_ffmpeg; encode_with_ours; else encode_with_ours; encode_with_ffmpeg; fi
    read -r ffmpeg_round_seconds ffmpeg_round_kb < <(tail -n 1 "$measures/ffmpeg_$number")
    read -r ours_round_seconds ours_round_kb < <(tail -n 1 "$measures/ours_$number")
    printf '  round %d: ffmpeg %s s %s kB, ours %s s %s kB\n' "$round" \
      "$ffmpeg_round_seconds" "$ffmpeg_round_kb" "$ours_round_seconds" "$ours_round_kb"
  done
  check_output "$ours_out" "${job_streams[job]}"
  # The tool's output too: a different result would make the comparison meaningless.
  check_output "$ffmpeg_out" "${job_streams[job]}"
  [[ ${job_ours_options[job]} != *libx264* ]] || compare_x264 "$ours_out" "$ffmpeg_out"
done

echo
printf '%-3s %-34s %9s %9s %6s %11s %11s %6s\n' \
  job "" "ffmpeg s" "ours s" ratio "ffmpeg kB" "ours kB" ratio
for job in "${!job_titles[@]}"; do
  number=$((job + 1))
  ffmpeg_seconds=$(median 1 "$measures/ffmpeg_$number"); ffmpeg_kb=$(median 2 "$measures/ffmpeg_$number")
  ours_seconds=$(median 1 "$measures/ours_$number"); ours_kb=$(median 2 "$measures/ours_$number")
  printf '%-3s %-34s %9s %9s %6s %11s %11s %6s\n' "$number" "${job_titles[job]}" \
    "$ffmpeg_seconds" "$ours_seconds" "$(ratio "$ours_seconds" "$ffmpeg_seconds")" \
    "$ffmpeg_kb" "$ours_kb" "$(ratio "$ours_kb" "$ffmpeg_kb")"
done
echo "(medians of $rounds rounds; ratio = ours / ffmpeg; load average at the end: $(cut -d' ' -f1-3 /proc/loadavg))"

if ((failures)); then
  echo "FAIL: $failures output check(s) failed" >&2
  exit 1
fi
