#!/usr/bin/env bash
# Adding 200 files to the window: the longest the main thread is busy (a 5 ms watchdog timer's longest gap)
# while the intake adds them, and that all 200 rows arrive. N rounds (default 3), each with a fresh window.
# Usage: bench/intake_responsiveness.sh [--rounds N] [--xvfb] [BUILD_FOLDER]
# BUILD_FOLDER (default build/) is configured with the tests, where the intake_responsiveness program is made.
# The window paints on the offscreen platform, or with --xvfb on an X server of its own.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

rounds=3
build=""
xvfb=false
usage="usage: $0 [--rounds N] [--xvfb] [build-folder]"
while [[ $# -gt 0 ]]; do
  case $1 in
    --rounds)
      [[ $# -ge 2 && $2 =~ ^[1-9][0-9]*$ ]] || { echo "$usage" >&2; exit 2; }
      rounds=$2; shift 2 ;;
    --xvfb) xvfb=true; shift ;;
    -h|--help) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "$usage" >&2; exit 2 ;;
    *) [[ -z $build ]] || { echo "$usage" >&2; exit 2; }
       build=$1; shift ;;
  esac
done
build=${build:-$repo/build}
command -v ffmpeg >/dev/null || { echo "$0: the ffmpeg tool is missing (scripts/install-packages.sh test)" >&2; exit 1; }
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$repo" -B "$build" -G Ninja -DTARVELLO_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target intake_responsiveness >/dev/null
program=$build/tests/app/intake_responsiveness

# 200 files, made once: 40 each of five kinds (MP4, AVI, MKV, MPG, MP3), 2 s of 320x240 video and/or sound.
bench_dir=${BENCH_DIR:-$repo/build-bench}
files=$bench_dir/intake_files
if [[ $(find "$files" -type f 2>/dev/null | wc -l) -ne 200 ]]; then
  echo "Making 200 files in $files (once) ..."
  rm -rf "$files" "$bench_dir/intake_originals"
  mkdir -p "$files" "$bench_dir/intake_originals"
  originals=$bench_dir/intake_originals
  video=(-f lavfi -i testsrc=size=320x240:rate=25:duration=2 -f lavfi -i sine=frequency=440:duration=2 -shortest)
  ffmpeg -nostdin -v error -y "${video[@]}" -c:v libx264 -preset ultrafast -c:a aac "$originals/clip.mp4"
  ffmpeg -nostdin -v error -y "${video[@]}" -c:v mpeg4 -c:a libmp3lame "$originals/clip.avi"
  ffmpeg -nostdin -v error -y "${video[@]}" -c:v mpeg4 -c:a libvorbis "$originals/clip.mkv"
  ffmpeg -nostdin -v error -y "${video[@]}" -c:v mpeg2video -c:a mp2 -f mpeg "$originals/clip.mpg"
  ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:duration=2 -c:a libmp3lame "$originals/clip.mp3"
  for n in $(seq -w 1 40); do
    for kind in mp4 avi mkv mpg mp3; do cp "$originals/clip.$kind" "$files/clip-$n.$kind"; done
  done
fi

xvfb_pid=""
trap '[[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null; true' EXIT
if $xvfb; then
  command -v Xvfb >/dev/null || { echo "$0: Xvfb is missing" >&2; exit 1; }
  display_file=$(mktemp)
  exec 3>"$display_file"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 100); do [[ -s $display_file ]] && break; sleep 0.1; done
  DISPLAY=:$(head -1 "$display_file")
  export DISPLAY
  rm -f "$display_file"
  unset QT_QPA_PLATFORM
else
  export QT_QPA_PLATFORM=offscreen
fi

echo "Load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
"$program" "$files" "$rounds" || status=$?
echo "Load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
exit "$status"
