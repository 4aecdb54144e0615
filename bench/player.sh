#!/usr/bin/env bash
# The preview player under Xvfb against the ffplay tool: (1) from the Open call to the first picture on screen,
# N rounds (default 10); (2) the CPU time of playing 10 s of a 720p25 H.264 + AAC clip with sound, M rounds
# (default 5), against ffplay playing the same 10 s in a window of the same size. Both at 255x137 and 640x360.
# The first-picture runs (--part 1) prepare the display 1 s before the first Open, as the window does once its
# preview is shown, and also measure a first Open without that ("not prepared").
# Usage: bench/player.sh [--rounds N] [--cpu-rounds M] [--part 1|2] [BUILD_FOLDER]
# BUILD_FOLDER (default build/) is configured with the tests, where the preview_player program is made.
# shellcheck disable=SC2317 # the functions run through retry and the EXIT trap
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh"

rounds=10
cpu_rounds=5
parts="1 2"
build=""
usage="usage: $0 [--rounds N] [--cpu-rounds M] [--part 1|2] [build-folder]"
while [[ $# -gt 0 ]]; do
  case $1 in
    --rounds|--cpu-rounds)
      [[ $# -ge 2 && $2 =~ ^[1-9][0-9]*$ ]] || { echo "$usage" >&2; exit 2; }
      if [[ $1 == --rounds ]]; then rounds=$2; else cpu_rounds=$2; fi
      shift 2 ;;
    --part)
      [[ $# -ge 2 && $2 =~ ^[12]$ ]] || { echo "$usage" >&2; exit 2; }
      parts=$2; shift 2 ;;
    -h|--help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "$usage" >&2; exit 2 ;;
    *) [[ -z $build ]] || { echo "$usage" >&2; exit 2; }
       build=$1; shift ;;
  esac
done
for tool in ffmpeg ffplay Xvfb; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is missing (scripts/install-packages.sh test)" >&2; exit 1; }
done
[[ -x $gnu_time ]] || { echo "$0: $gnu_time is missing (Debian package 'time')" >&2; exit 1; }
build=${build:-$repo/build}
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$repo" -B "$build" -G Ninja -DTARVELLO_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target preview_player >/dev/null
program=$build/bench/preview_player

# The CPU clip: common.sh's 30 s 1280x720 25 fps H.264 (testsrc2, about 2.5 Mbit/s) + mono AAC 48 kHz.
bench_make_clip
# The first-picture clip: the same format and rate, one solid colour (RGB 20 80 E0) with light moving noise, so
# that the picture is easy to recognise on screen while its frames cost what a real 2.5 Mbit/s frame costs.
colour=2080E0
colour_clip=$bench_dir/colour_720p25_30s.mp4
if [[ ! -s $colour_clip ]]; then
  echo "Making $colour_clip (once) ..."
  ffmpeg -nostdin -v error -y -f lavfi -i "color=c=0x$colour:s=1280x720:r=25:d=30,noise=alls=12:allf=t+u" \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=30 \
    -c:v libx264 -preset fast -b:v 2500k -maxrate 3000k -bufsize 5000k -pix_fmt yuv420p \
    -c:a aac -b:a 128k -shortest "$colour_clip.part.mp4"
  mv "$colour_clip.part.mp4" "$colour_clip"
fi

xvfb_pid=""
cleanup() {
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$measures"
}
trap cleanup EXIT
# start_xvfb: an X server on a display number of its own, well away from the low numbers that other X servers
# of the machine (tests, other benchmarks) take; a number in use makes Xvfb exit at once, and the next is tried.
start_xvfb() {
  local number
  xvfb_pid=""
  for number in $(seq 90 150); do
    [[ -e /tmp/.X11-unix/X$number || -e /tmp/.X$number-lock ]] && continue
    Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$measures/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
      [[ -e /tmp/.X11-unix/X$number ]] && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$xvfb_pid" 2>/dev/null && [[ -e /tmp/.X11-unix/X$number ]]; then
      export DISPLAY=:$number
      return 0
    fi
    xvfb_pid=""
  done
  echo "$0: Xvfb did not start" >&2
  cat "$measures/xvfb.log" >&2
  exit 1
}
start_xvfb
# retry COMMAND...: runs the command; when it fails because the X server has gone away (something else on the
# machine ended it), starts a new one and runs the command once more.
retry() {
  "$@" && return 0
  kill -0 "$xvfb_pid" 2>/dev/null && return 1
  echo "(the X server $DISPLAY went away during a run: a new one is started and the run repeated)" >&2
  start_xvfb
  "$@"
}
# Sound really produced on both sides, into a file; no sound server involved.
export SDL_AUDIODRIVER=disk
disk_audio=$measures/disk_audio.raw
export SDL_DISKAUDIOFILE=$disk_audio

sizes=("255 137" "640 360")
# The first-picture runs write their figures to $measures/line. ours_first WIDTH HEIGHT [prepared]
ours_first() {
  "$program" first-picture "$colour_clip" "$1" "$2" "$colour" ${3:+"$3"} >"$measures/line" \
    2>"$measures/stderr"
}
ffplay_first() {
  "$program" tool-first-picture "$1" "$2" "$colour" ffplay -x "$1" -y "$2" -loglevel quiet "$colour_clip" \
    >"$measures/line" 2>"$measures/stderr"
}
fail() {
  echo "$0: $1:" >&2
  grep -v -e 'disk i/o audio driver' -e 'Writing to file' "$measures/stderr" >&2 || true
  exit 1
}
# Round r runs ours first when r is odd, ffplay first when it is even. "cold": ours without the display
# prepared ahead (a first Play before the window asked for it).
sides_in_order() { if (($1 % 2)); then echo "ours cold ffplay"; else echo "ffplay cold ours"; fi; }

echo "Program: $program, on the X server $DISPLAY"
echo "Load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
goal_first=150
goal_cpu=1.2
status=0
if [[ $parts == *1* ]]; then
  echo "== 1. From Open to the first picture on screen ($rounds rounds; ffplay: from its start) =="
  # Warm-up: the program, the tool, the libraries and the clip in the page cache.
  retry ours_first 640 360 prepared || fail "the player run failed"
  retry ffplay_first 640 360 || fail "the ffplay run failed"
  for round in $(seq "$rounds"); do
    for size in "${sizes[@]}"; do
      read -r width height <<<"$size"
      name=${width}x$height
      for side in $(sides_in_order "$round"); do
        if [[ $side == ours ]]; then
          retry ours_first "$width" "$height" prepared || fail "the player run failed ($name)"
          cat "$measures/line" >>"$measures/first_ours_$name"
        elif [[ $side == cold ]]; then
          retry ours_first "$width" "$height" || fail "the player run failed ($name, not prepared)"
          cat "$measures/line" >>"$measures/first_cold_$name"
        else
          retry ffplay_first "$width" "$height" || fail "the ffplay run failed ($name)"
          cat "$measures/line" >>"$measures/first_ffplay_$name"
        fi
      done
      read -r load open first open2 first2 < <(tail -1 "$measures/first_ours_$name")
      printf 'round %2d %-7s ours: libraries %5.1f ms | first file: Open %5.1f ms, picture %5.1f ms |' \
        "$round" "$name" "$load" "$open" "$first"
      printf ' second file: Open %5.1f ms, picture %5.1f ms | not prepared: first picture %5.1f ms |' \
        "$open2" "$first2" "$(tail -1 "$measures/first_cold_$name" | cut -d' ' -f3)"
      printf ' ffplay: start to picture %5.1f ms\n' "$(tail -1 "$measures/first_ffplay_$name")"
    done
  done
  echo "Load average: $(cut -d' ' -f1-3 /proc/loadavg)"
  for size in "${sizes[@]}"; do
    read -r width height <<<"$size"
    name=${width}x$height
    ours=$measures/first_ours_$name
    first=$(median 3 "$ours")
    first2=$(median 5 "$ours")
    printf 'median %-7s ours: first file: Open %s ms, Open to picture %s ms | second file: Open %s ms,' \
      "$name" "$(median 2 "$ours")" "$first" "$(median 4 "$ours")"
    printf ' Open to picture %s ms | not prepared: first file %s ms | ffplay: start to picture %s ms\n' \
      "$first2" "$(median 3 "$measures/first_cold_$name")" "$(median 1 "$measures/first_ffplay_$name")"
    for value in "$first" "$first2"; do
      awk -v v="$value" -v g="$goal_first" 'BEGIN { exit !(v <= g) }' || status=1
    done
  done
  if ((status == 0)); then
    echo "goal met: Open to the first picture at most $goal_first ms (medians)"
  else
    echo "goal missed: Open to the first picture at most $goal_first ms (medians)"
  fi
  echo
fi

if [[ $parts == *2* ]]; then
  echo "== 2. CPU time of playing 10 s with sound ($cpu_rounds rounds) =="
  # run_cpu NAME COMMAND...: appends "wall user system sound_kB" to $measures/NAME; false when the run fails.
  # While the program runs, the CPU time of each of its threads is sampled every 0.5 s; the sample with
  # the most CPU time ("name ticks" a line) stays in $measures/NAME.threads.
  run_cpu() {
    local name=$1; shift
    rm -f "$disk_audio"
    "$gnu_time" -f '%e %U %S' -o "$measures/time" "$@" >"$measures/stdout" 2>"$measures/stderr" &
    local time_pid=$! pid="" sample total best=0
    while kill -0 "$time_pid" 2>/dev/null; do
      [[ -z $pid ]] && pid=$(pgrep -P "$time_pid" | head -1 || true)
      if [[ -n $pid ]]; then
        sample=$(for stat in /proc/"$pid"/task/*/stat; do
                   awk '{ left = index($0, "("); right = index($0, ") "); name = substr($0, left + 1, right - left - 1)
                          gsub(/ /, "_", name); split(substr($0, right + 2), f, " "); print name, f[12] + f[13] }' \
                     "$stat"
                 done 2>/dev/null) || true
        # The sample with the most CPU time: the last ones may miss threads that have already ended.
        total=$(awk '{ t += $2 } END { print t + 0 }' <<<"$sample")
        if [[ -n $sample ]] && ((total >= best)); then
          best=$total
          echo "$sample" >"$measures/$name.threads"
        fi
      fi
      sleep 0.5
    done
    wait "$time_pid" || return 1
    local sound=0
    [[ -f $disk_audio ]] && sound=$(($(stat -c %s "$disk_audio") / 1024))
    echo "$(tail -1 "$measures/time") $sound" >>"$measures/$name"
  }
  seconds=10
  for round in $(seq "$cpu_rounds"); do
    for size in "${sizes[@]}"; do
      read -r width height <<<"$size"
      name=${width}x$height
      for side in $(sides_in_order "$round"); do
        if [[ $side == ours ]]; then
          retry run_cpu "cpu_ours_$name" "$program" play "$clip" "$width" "$height" "$seconds" ||
            fail "the player run failed ($name)"
        else
          retry run_cpu "cpu_ffplay_$name" ffplay -autoexit -t "$seconds" -x "$width" -y "$height" -loglevel quiet \
            "$clip" || fail "the ffplay run failed ($name)"
        fi
      done
      for side in ours ffplay; do
        read -r wall user system sound < <(tail -1 "$measures/cpu_${side}_$name")
        printf 'round %d %-7s %-6s wall %5.2f s, CPU user %5.2f s + system %5.2f s = %5.2f s, sound %5d kB\n' \
          "$round" "$name" "$side" "$wall" "$user" "$system" \
          "$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')" "$sound"
      done
    done
  done
  echo "Load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
  # 10 s of mono 16-bit sound at 48 kHz is 937 kB; less than 9 s of it means that a side did not really play.
  min_sound=843
  for size in "${sizes[@]}"; do
    read -r width height <<<"$size"
    name=${width}x$height
    for side in ours ffplay; do
      file=$measures/cpu_${side}_$name
      awk '{ print $2 + $3 }' "$file" >"$file.cpu"
      if ! awk -v m="$min_sound" -v s="$seconds" '$4 < m || $1 < s { bad = 1 } END { exit bad }' "$file"; then
        echo "FAIL: a $side run at $name played less than $seconds s or wrote less than $min_sound kB of sound"
        status=1
      fi
    done
    ours_cpu=$(median 1 "$measures/cpu_ours_$name.cpu")
    ffplay_cpu=$(median 1 "$measures/cpu_ffplay_$name.cpu")
    cpu_ratio=$(ratio "$ours_cpu" "$ffplay_cpu")
    printf 'median %-7s CPU ours %s s (wall %s s), ffplay %s s (wall %s s), ratio %s\n' "$name" "$ours_cpu" \
      "$(median 1 "$measures/cpu_ours_$name")" "$ffplay_cpu" "$(median 1 "$measures/cpu_ffplay_$name")" "$cpu_ratio"
    awk -v r="$cpu_ratio" -v g="$goal_cpu" 'BEGIN { exit !(r <= g) }' || status=1
  done
  echo "CPU time per thread in the last round at ${sizes[-1]// /x}, ms (the fullest of the samples, 0.5 s apart):"
  tick_ms=$((1000 / $(getconf CLK_TCK)))
  for side in ours ffplay; do
    file=$measures/cpu_${side}_${sizes[-1]// /x}.threads
    [[ -f $file ]] || continue
    echo "  $side: $(sort -k2,2nr "$file" | awk -v t="$tick_ms" '{ printf "%s %d, ", $1, $2 * t }' | sed 's/, $//')"
  done
fi
if ((status == 0)); then
  echo "result: every goal measured was met"
else
  echo "result: a goal was missed or a check failed"
fi
exit "$status"
