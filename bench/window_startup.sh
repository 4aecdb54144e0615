#!/usr/bin/env bash
# From process start to the first paint of the main window, under Xvfb: one warm-up start, then N measured
# starts (default 5); prints each start and the medians.
# Usage: bench/window_startup.sh [--rounds N] [PATH/TO/tarvello]
# Without a path it builds build-app/ as ./tarvello.sh does (RelWithDebInfo) and measures build-app/app/tarvello.
# Needs Xvfb, xdotool and ImageMagick's import (scripts/install-packages.sh test).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

rounds=5
program=""
usage="usage: $0 [--rounds N] [tarvello]"
while [[ $# -gt 0 ]]; do
  case $1 in
    --rounds)
      [[ $# -ge 2 && $2 =~ ^[1-9][0-9]*$ ]] || { echo "$usage" >&2; exit 2; }
      rounds=$2; shift 2 ;;
    -h|--help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "$usage" >&2; exit 2 ;;
    *) [[ -z $program ]] || { echo "$usage" >&2; exit 2; }
       program=$1; shift ;;
  esac
done
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is missing (scripts/install-packages.sh test)" >&2; exit 1; }
done
if [[ -z $program ]]; then
  echo "Building build-app/ ..."
  "$repo/scripts/install-packages.sh" build
  cmake -S "$repo" -B "$repo/build-app" -G Ninja -DTARVELLO_BUILD_TESTS=OFF >/dev/null
  cmake --build "$repo/build-app" -j "$(nproc)" >/dev/null
  program=$repo/build-app/app/tarvello
fi
[[ -x $program ]] || { echo "$0: '$program' is no executable" >&2; exit 1; }
program=$(realpath "$program")

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || { echo "$0: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
DISPLAY=:$(head -1 "$work/display")
export DISPLAY

# The user's settings as a second start finds them (no first-run fallback), in a home of the benchmark's own.
mkdir -p "$work/home/config/Tarvello" "$work/home/state" "$work/home/runtime"
chmod 700 "$work/home/runtime"
cat >"$work/home/config/Tarvello/Tarvello Video Converter.conf" <<EOF
[General]
Skin=No Skin
Output%20Folder="$work"
ComboOutputFormat=2
Overwrite=0
LetterBox=1
VideoQuality=2
AudioQuality=2
Tabsheet=1
FormTop=30
FormLeft=40
EOF

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# One start: prints "mapped painted" in milliseconds after the start. "mapped": the first of the 5 ms polls
# that finds the window viewable. "painted": the end of the first capture of the window that shows it drawn
# (its pixels are not one flat colour); a capture takes about 0.1 s, so this is an upper bound.
measure_start() {
  local start mapped painted window="" spread
  start=$(now_ms)
  HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_STATE_HOME="$work/home/state" \
    XDG_RUNTIME_DIR="$work/home/runtime" "$program" >>"$work/program.log" 2>&1 &
  app_pid=$!
  while [[ -z $window ]]; do
    window=$(xdotool search --onlyvisible --name '^Tarvello Video Converter$' 2>/dev/null | head -1 || true)
    if [[ -z $window ]]; then
      kill -0 "$app_pid" 2>/dev/null || { echo "$0: the program ended:" >&2; cat "$work/program.log" >&2; exit 1; }
      (( $(now_ms) - start < 20000 )) || { echo "$0: no window after 20 s" >&2; exit 1; }
      sleep 0.005
    fi
  done
  mapped=$(( $(now_ms) - start ))
  while :; do
    spread=$(import -window "$window" -colorspace gray -format '%[fx:standard_deviation]' info: 2>/dev/null || echo 0)
    if awk -v s="$spread" 'BEGIN { exit !(s > 0.05) }'; then break; fi
    (( $(now_ms) - start < 20000 )) || { echo "$0: the window was never drawn" >&2; exit 1; }
  done
  painted=$(( $(now_ms) - start ))
  kill "$app_pid"
  wait "$app_pid" 2>/dev/null || true
  app_pid=""
  echo "$mapped $painted"
}

median() {
  sort -g -k "$1,$1" "$2" | awk -v column="$1" '{ v[NR] = $column }
    END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "Program: $program"
echo "Load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
measure_start >/dev/null  # warm-up: the program, Qt and the media libraries in the page cache
for round in $(seq "$rounds"); do
  measure_start >>"$work/measures"
  read -r mapped painted < <(tail -1 "$work/measures")
  printf 'start %d: mapped after %4d ms, drawn by %4d ms\n' "$round" "$mapped" "$painted"
done
echo "Load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
mapped=$(median 1 "$work/measures")
painted=$(median 2 "$work/measures")
echo "median: mapped after $mapped ms, drawn by $painted ms (goal: first paint within 500 ms)"
awk -v p="$painted" 'BEGIN { exit !(p <= 500) }' && echo "goal met" || { echo "goal missed"; exit 1; }
