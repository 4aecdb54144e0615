#!/usr/bin/env bash
# Probe benchmark: 100 media files read in one process by tarvello-convert --probe against 100 runs of the
# ffprobe tool, one per file. Prints the median wall time of each and the ratio ours/ffprobe.
# Usage: bench/probe.sh [--rounds N] [PATH/TO/tarvello-convert]
# Without a program path it builds build-app/ the way ./tarvello.sh does and measures that build.
# The files are made once and kept in $BENCH_DIR (default: build-bench/ in the repository).
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh"

bench_parse_arguments 5 "$@"
bench_require_tools
bench_resolve_program
bench_dir=${BENCH_DIR:-$repo/build-bench}
probe_dir=$bench_dir/probe_files
mkdir -p "$probe_dir"

# 100 short files of the kinds the file list takes: 5 containers, 20 of each.
containers=(mp4 avi mkv mpg mp3)
if [[ $(find "$probe_dir" -type f | wc -l) -ne 100 ]]; then
  echo "Making 100 files in $probe_dir (once) ..."
  rm -f "$probe_dir"/*
  for container in "${containers[@]}"; do
    case $container in
      mp3) ffmpeg -v error -y -f lavfi -i sine=duration=2 "$probe_dir/source.$container" ;;
      mpg) ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25:duration=2 -f lavfi -i sine=duration=2 \
             -c:v mpeg2video -c:a mp2 -shortest "$probe_dir/source.$container" ;;
      *) ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25:duration=2 -f lavfi -i sine=duration=2 \
           -c:v mpeg4 -c:a mp3 -shortest "$probe_dir/source.$container" ;;
    esac
    for ((copy = 1; copy <= 20; copy++)); do cp "$probe_dir/source.$container" "$probe_dir/file$copy.$container"; done
    rm "$probe_dir/source.$container"
  done
fi
mapfile -t files < <(find "$probe_dir" -type f | sort)

probe_with_ffprobe() {
  local file
  for file in "${files[@]}"; do
    ffprobe -v error -show_format -show_streams "$file" >/dev/null || return 1
  done
}

probe_with_ours() {
  run ours "$program" --probe "${files[@]}"
  cp "$measures/stdout" "$measures/ours_stdout"
}

echo "Program: $program"
echo "Files:   ${#files[@]} in $probe_dir, $rounds rounds"
for ((round = 1; round <= rounds; round++)); do
  if ((round % 2 == 1)); then
    run ffprobe bash -c "$(declare -p files); $(declare -f probe_with_ffprobe); probe_with_ffprobe"
    probe_with_ours
  else
    probe_with_ours
    run ffprobe bash -c "$(declare -p files); $(declare -f probe_with_ffprobe); probe_with_ffprobe"
  fi
  read -r ffprobe_round_seconds _ < <(tail -n 1 "$measures/ffprobe")
  read -r ours_round_seconds _ < <(tail -n 1 "$measures/ours")
  printf 'round %d: 100 x ffprobe %s s, ours %s s\n' "$round" "$ffprobe_round_seconds" "$ours_round_seconds"
done

# Our read-out must name every file with its container.
described=$(grep -c -E '^/.*: (mov,mp4|avi|matroska|mpeg|mp3)' "$measures/ours_stdout" || true)
if [[ $described != 100 ]]; then
  echo "Output check FAILED: $described of 100 files described" >&2
  exit 1
fi

ffprobe_seconds=$(median 1 "$measures/ffprobe")
ours_seconds=$(median 1 "$measures/ours")
echo
printf '%-12s %10s\n' "" "wall (s)"
printf '%-12s %10s\n' "100 ffprobe" "$ffprobe_seconds"
printf '%-12s %10s\n' ours "$ours_seconds"
printf '%-12s %10s\n' ratio "$(ratio "$ours_seconds" "$ffprobe_seconds")"
echo "Output check: 100 files described"
