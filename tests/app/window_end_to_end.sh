#!/usr/bin/env bash
# The real tarvello window under Xvfb, driven as a user drives it (xdotool keys and clicks): started with two
# files on its command line, both converted with the first-run profile (3GP), then the output format changed
# to MKV in its list and both converted again. Every output must be readable by ffprobe and decode cleanly,
# and every job must leave its log with "outcome: Done" in the state folder. Screenshots of the window (after
# each run and once per skin) go to WORK_FOLDER/screenshots. Also: a broken media library beside the program
# shows the message and ends with status 1; no display at all gives one line on stderr and status 1.
#
# Usage: window_end_to_end.sh PROGRAM WORK_FOLDER
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program=$(realpath "$1")
work=$(realpath -m "$2")
failures=0
fail() { echo "FAIL (${SECONDS} s): $*"; failures=$((failures + 1)); }
pass() { echo "ok (${SECONDS} s): $*"; }

# shellcheck source=work_folder.sh
source "$here/work_folder.sh" Xvfb xdotool xprop import ffmpeg ffprobe
shots=$work/screenshots
settings="$home/config/Tarvello/Tarvello Video Converter.conf"
logs=$home/state/tarvello/logs

# --- No display at all -------------------------------------------------------------------------------------
no_display_errors=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$home" "$program" 2>&1 >/dev/null)
status=$?
if [[ $status -eq 1 && $(printf '%s\n' "$no_display_errors" | wc -l) -eq 1 && $no_display_errors == *tarvello-convert* ]]; then
  pass "without a display: status 1 and one line: $no_display_errors"
else
  fail "without a display: status $status, stderr: $no_display_errors"
fi

# --- The display ---------------------------------------------------------------------------------------------
# shellcheck source=x_session.sh
source "$here/x_session.sh"

# Writes the settings the program reads at start; the skin given by its stored name.
write_settings() {
  cat >"$settings" <<EOF
[General]
Skin=$1
Output%20Folder="$work/out"
ComboOutputFormat=2
Overwrite=0
LetterBox=1
VideoQuality=2
AudioQuality=2
Tabsheet=1
FormTop=30
FormLeft=40
EOF
}

# What a finished output must be: a container ffprobe reads, with a video stream, decoding without an error.
check_output() {
  local file=$1 container=$2
  if [[ ! -s $file ]]; then
    fail "$file was not written"
    return
  fi
  local format streams decoded
  format=$(ffprobe -v error -show_entries format=format_name -of csv=p=0 "$file" 2>&1)
  streams=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$file" 2>&1 | sort | tr '\n' ' ')
  decoded=$(ffmpeg -nostdin -v error -xerror -i "$file" -f null - 2>&1)
  if [[ $format == *"$container"* && $streams == *video* && -z $decoded ]]; then
    pass "$file: $format, streams: $streams"
  else
    fail "$file: container '$format', streams '$streams', decoding: $decoded"
  fi
}

# Waits for the "Information" box that ends a run; screenshot, then OK.
finish_run() {
  local name=$1 box
  box=$(find_window '^Information' 180)
  if [[ -z $box ]]; then
    fail "$name: no message at the end of the run"
    import -window root "$shots/$name-no-message.png"
    return 1
  fi
  settled_screenshot root "$shots/$name.png"
  xdotool windowfocus --sync "$box" key Return
  wait_shown_windows 1 || fail "$name: the message stayed"
  return 0
}

done_logs() {
  grep -l '^outcome: Done$' "$logs"/*.log 2>/dev/null | wc -l
}

# --- The media -----------------------------------------------------------------------------------------------
ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=320x240:rate=25:duration=2 \
  -f lavfi -i sine=frequency=440:duration=2 -c:v libx264 -preset ultrafast -c:a aac -shortest \
  "$work/media/clip-a.mp4" || fail "making clip-a.mp4"
# The second one's name is not UTF-8 (Latin-1 "é"): the window must keep its bytes, in and out.
latin1_e=$'\xe9'
clip_b="$work/media/clip-b$latin1_e.avi"
ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=176x144:rate=25:duration=2 \
  -f lavfi -i sine=frequency=660:duration=2 -c:v mpeg4 -c:a libmp3lame -ac 1 -shortest \
  "$clip_b" || fail "making $clip_b"

# --- Two runs with two profiles ------------------------------------------------------------------------------
write_settings "No Skin"
start_program "$work/media/clip-a.mp4" "$clip_b"
if [[ -z $window ]]; then
  fail "the window did not appear: $(cat "$work/program.log")"
  exit 1
fi
pass "the window is up (X window $window)"
settled_screenshot "$window" "$shots/main-window.png"

xdotool windowfocus --sync "$window" key ctrl+Return
if finish_run "run-1-3gp-completed"; then
  check_output "$work/out/clip-a.3gp" 3gp
  check_output "$work/out/clip-b$latin1_e.3gp" 3gp
  [[ $(done_logs) -eq 2 ]] && pass "two logs say Done" || fail "logs saying Done: $(done_logs) of 2 (in $logs)"
  import -window "$window" "$shots/main-window-after-run-1.png"

  # The output-format list sits in the output row, 307 pixels below the menu bar: open it with a click and
  # go down from row 2 (3GP) to row 12 (MKV).
  eval "$(xdotool getwindowgeometry --shell "$window")"
  menu_bar=$((HEIGHT - 582))
  xdotool mousemove --window "$window" 280 $((menu_bar + 323)) click 1
  wait_shown_windows 2 || fail "the output format list did not open"
  for _ in $(seq 10); do xdotool key Down; done
  xdotool key Return
  wait_shown_windows 1 || fail "the output format list did not close"
  settled_screenshot "$window" "$shots/main-window-mkv-chosen.png"
  xdotool windowfocus --sync "$window" key ctrl+Return
  if finish_run "run-2-mkv-completed"; then
    check_output "$work/out/clip-a.mkv" matroska
    check_output "$work/out/clip-b$latin1_e.mkv" matroska
    [[ $(done_logs) -eq 4 ]] && pass "four logs say Done" || fail "logs saying Done: $(done_logs) of 4"
  fi
fi
ls -l "$work/out" | sed 's/^/  /'
before=$(cat "$settings")
choose_exit
wait_program
[[ $status -eq 0 ]] && pass "File > Exit: status 0" || fail "File > Exit: status $status"
[[ "$(cat "$settings")" == "$before" ]] && pass "File > Exit left the settings as they were" ||
  fail "File > Exit changed the settings"

# --- One screenshot per skin, each its own ------------------------------------------------------------------
# Every skin must look different from No Skin and from every other skin: compared at a grid of 32 x 24 points
# of the window, a pair of skins differs by more than 24 levels in some channel at 5 points or more (the
# closest pair seen differs at 25).
skin_signature() {  # screenshot -> one "r,g,b" line per point of the grid
  convert "$1" -sample '32x24!' -depth 8 txt:- | tail -n +2 | awk '{print $2}' | tr -d '()'
}
points_apart() {  # signature signature -> how many points differ
  paste -d ' ' "$1" "$2" | awk '{
    split($1, a, ","); split($2, b, ","); most = 0
    for (i = 1; i <= 3; i++) { d = a[i] - b[i]; if (d < 0) d = -d; if (d > most) most = d }
    if (most > 24) apart++
  } END { print apart + 0 }'
}
skins=("No Skin" "Elegance (internal)" "Opus (internal)" "Sporting (internal)" "Acryl (internal)"
  "DarkGlass (internal)" "MacOS2 (internal)" "Office2007 Blue (internal)")
signatures=()
for skin in "${skins[@]}"; do
  write_settings "$skin"
  start_program "$work/media/clip-a.mp4" "$clip_b"
  if [[ -z $window ]]; then
    fail "skin $skin: the window did not appear"
    signatures+=("")
    continue
  fi
  picture="$shots/skin-$(echo "$skin" | tr -cd 'A-Za-z0-9 ' | tr ' ' '-').png"
  settled_screenshot "$window" "$picture" || fail "skin $skin: the window kept changing"
  signatures+=("${picture%.png}.signature")
  skin_signature "$picture" >"${signatures[-1]}"
  choose_exit
  wait_program
  [[ $status -eq 0 ]] || fail "skin $skin: status $status after File > Exit"
done
for ((i = 0; i < ${#skins[@]}; i++)); do
  [[ -n ${signatures[i]} ]] || continue
  alike=()
  for ((j = 0; j < ${#skins[@]}; j++)); do
    [[ $i -ne $j && -n ${signatures[j]} ]] || continue
    apart=$(points_apart "${signatures[i]}" "${signatures[j]}")
    ((apart >= 5)) || alike+=("${skins[j]} ($apart points apart)")
  done
  if [[ ${#alike[@]} -eq 0 ]]; then
    pass "skin ${skins[i]} looks like no other"
  else
    fail "skin ${skins[i]} looks like ${alike[*]}"
  fi
done

# --- A broken library beside the program -----------------------------------------------------------------
mkdir -p "$work/broken"
cp "$program" "$work/broken/"
echo "this is not a shared library" >"$work/broken/libavcodec.so.59"
program_copy=$work/broken/$(basename "$program")
(exec env "${home_environment[@]}" XDG_CONFIG_HOME="$home/broken-config" "$program_copy") >>"$work/program.log" 2>&1 &
app_pid=$!
box=$(find_window '^Information' 20)
if [[ -n $box ]]; then
  import -window root "$shots/broken-library-message.png"
  [[ -z $(xdotool search --onlyvisible --name '^Tarvello Video Converter$' 2>/dev/null) ]] ||
    fail "broken library: the main window was shown"
  xdotool windowfocus --sync "$box" key Return
  wait_program
  [[ $status -eq 1 ]] && pass "broken library: message, then status 1" || fail "broken library: status $status"
  [[ ! -e $home/broken-config ]] || fail "broken library: settings were written"
else
  fail "broken library: no message"
fi

echo "screenshots in $shots"
echo "$failures failure(s)"
[[ $failures -eq 0 ]]
