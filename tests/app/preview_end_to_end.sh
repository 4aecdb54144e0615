#!/usr/bin/env bash
# The preview panel of the real tarvello window under Xvfb, where the player draws into the picture area's
# own X window, with SDL's disk audio driver as the sound device. A file that is red for 4 s, then blue for
# 8 s, with a 1 kHz tone: Play shows red, then blue, in the picture area of a screenshot; the sound written is the
# tone; the picture area's keys (after a click on it) pause; a part uncovered after the volume menu closed
# shows the picture again; "Half Volume" halves the sound and M silences it; a snapshot is a 24-bit BMP of
# the file's size and colour, the second one named "-1"; the end of the file brings back the default
# picture. Screenshots go to WORK_FOLDER/screenshots.
#
# Usage: preview_end_to_end.sh PROGRAM WORK_FOLDER
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program=$(realpath "$1")
work=$(realpath -m "$2")
failures=0
fail() { echo "FAIL (${SECONDS} s): $*"; failures=$((failures + 1)); }
pass() { echo "ok (${SECONDS} s): $*"; }

# shellcheck source=work_folder.sh
source "$here/work_folder.sh" Xvfb xdotool xprop import convert identify ffmpeg sox
shots=$work/screenshots
sound=$work/sound.raw
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$sound

# A white square moves along the top, so that a paused picture can be told from a playing one.
ffmpeg -nostdin -v error -y -f lavfi -i color=c=red:size=320x240:rate=25:duration=4 \
  -f lavfi -i color=c=blue:size=320x240:rate=25:duration=8 -f lavfi -i color=c=white:size=20x20:rate=25 \
  -f lavfi -i sine=frequency=1000:duration=12 \
  -filter_complex "[0][1]concat=n=2:v=1[bg];[bg][2]overlay=x='mod(t*60,300)':y=4:shortest=1[v]" \
  -map '[v]' -map 3 -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -ac 2 -ar 44100 \
  "$work/media/clip.mp4" || fail "making clip.mp4"

cat >"$home/config/Tarvello/Tarvello Video Converter.conf" <<EOF
[General]
Skin=No Skin
Output%20Folder="$work/out"
ComboOutputFormat=2
FormTop=30
FormLeft=40
EOF

# shellcheck source=x_session.sh
source "$here/x_session.sh"

start_program "$work/media/clip.mp4"
if [[ -z $window ]]; then
  fail "the window did not appear: $(cat "$work/program.log")"
  exit 1
fi
settled_screenshot "$window" "$shots/window.png"
eval "$(xdotool getwindowgeometry --shell "$window")"
menu_bar=$((HEIGHT - 582))
# Places inside the window's client area: the picture area is 255 x 137 at (283, 350).
area_x=$((X + 283))
area_y=$((Y + menu_bar + 350))
panel_button() { xdotool mousemove $((X + 279 + $1 + 17)) $((Y + menu_bar + 346 + 169 + 13)) click 1; }
play() { panel_button 22; }
pause() { panel_button 67; }
volume() { panel_button 162; }
snapshot() { panel_button 209; }
select_row() { xdotool mousemove --window "$window" 100 $((menu_bar + 88)) click 1; }
# Waits up to 30 s for a file to appear with something in it.
wait_for_file() {
  for _ in $(seq 300); do
    [[ -s $1 ]] && return 0
    sleep 0.1
  done
  return 1
}

# The colour at a point of the picture area in a fresh screenshot: red, blue or the pixel's own text.
colour_at() {
  local name=$1 x=$2 y=$3 pixel
  import -window root "$shots/$name.png"
  pixel=$(convert "$shots/$name.png" -format "%[fx:int(255*p{$((area_x + x)),$((area_y + y))}.r)],%[fx:int(255*p{$((area_x + x)),$((area_y + y))}.g)],%[fx:int(255*p{$((area_x + x)),$((area_y + y))}.b)]" info:)
  classify "$pixel"
}
classify() {
  local r g b
  IFS=, read -r r g b <<<"$1"
  if ((r > 200 && g < 60 && b < 60)); then echo red
  elif ((b > 200 && r < 60 && g < 60)); then echo blue
  else echo "$1"; fi
}
# Takes screenshots named $1 until the centre of the picture area shows $2, up to $3 seconds; echoes what it
# showed last.
wait_colour() {
  local name=$1 wanted=$2 seconds=$3 shown="" deadline=$((SECONDS + $3))
  while :; do
    shown=$(colour_at "$name" 127 68)
    [[ $shown == "$wanted" || $SECONDS -ge $deadline ]] && break
    sleep 0.2
  done
  echo "$shown"
}
same_area() {
  cmp -s <(convert "$shots/$1.png" -crop "255x137+$area_x+$area_y" rgb:-) \
    <(convert "$shots/$2.png" -crop "255x137+$area_x+$area_y" rgb:-)
}
# The sound written from byte $1 on, $2 bytes of it: "RMS max frequency" of its left channel as sox
# measures them (stereo, 16 bits, 44.1 kHz).
sound_at() {
  tail -c +$(($1 + 1)) "$sound" | head -c "$2" >"$work/part.raw"
  sox -t raw -r 44100 -e signed -b 16 -c 2 "$work/part.raw" -n remix 1 stat 2>&1 |
    awk '/RMS +amplitude/ {rms=$3} /Maximum amplitude/ {max=$3} /Rough +frequency/ {f=$3} END {print rms, max, f}'
}
sound_bytes() { stat -c %s "$sound" 2>/dev/null || echo 0; }
second_of_sound=$((44100 * 4))
# 0.5 s of sound in bytes: what the device may still have held when a change was made.
half_second=$((second_of_sound / 2))
# Waits up to 30 s until the sound file holds $1 bytes; the player writes it at the pace of the file.
wait_sound_bytes() {
  for _ in $(seq 300); do
    (($(sound_bytes) >= $1)) && return 0
    sleep 0.1
  done
  return 1
}

before=$(colour_at idle 127 68)
select_row
play
shown=$(wait_colour playing-red red 30)
[[ $shown == red ]] && pass "Play shows the file's red" || fail "playing, the picture shows $shown, not red"
moved=no
for _ in $(seq 50); do
  colour_at playing-red-later 127 68 >/dev/null
  same_area playing-red playing-red-later || { moved=yes; break; }
  sleep 0.2
done
[[ $moved == yes ]] || fail "playing, the picture does not move"
shown=$(wait_colour playing-blue blue 30)
[[ $shown == blue ]] && pass "then its blue" || fail "playing after the red: $shown"
[[ -s $work/out/clip.bmp ]] && fail "a snapshot exists before one was taken"

# The first half second may still hold the device's start; at the blue, 4 s of the file have played.
read -r rms max frequency <<<"$(sound_at "$half_second" $((3 * second_of_sound)))"
if awk -v f="$frequency" -v m="$max" 'BEGIN {exit !(f > 950 && f < 1050 && m > 0.05)}'; then
  pass "the sound is the file's tone: $frequency Hz, peak $max"
else
  fail "the sound: $frequency Hz, peak $max, rms $rms"
fi

# Half Volume: the volume menu with the keyboard. The sound measured is the second that follows the half
# second after the menu closed.
volume
wait_shown_windows 2 || fail "the volume menu did not open"
xdotool key Down Down Return
wait_shown_windows 1 || fail "the volume menu did not close"
mark=$(($(sound_bytes) + half_second))
wait_sound_bytes $((mark + second_of_sound)) || fail "no sound was written after Half Volume"
read -r half_rms _ _ <<<"$(sound_at "$mark" "$second_of_sound")"
if awk -v h="$half_rms" -v f="$rms" 'BEGIN {r = h / f; exit !(r > 0.4 && r < 0.6)}'; then
  pass "Half Volume: RMS $half_rms against $rms"
else
  fail "Half Volume: RMS $half_rms against $rms"
fi

# The picture area takes the keyboard with a click: M mutes, Space pauses. The key takes effect when the
# program gets to it: each quarter of a second of sound written after it is measured until one is silent.
xdotool mousemove $((area_x + 127)) $((area_y + 68)) click 1 key m
quarter=$((second_of_sound / 4))
mark=$(sound_bytes)
muted_max=none
for _ in $(seq 40); do
  wait_sound_bytes $((mark + quarter)) || break
  read -r _ muted_max _ <<<"$(sound_at "$mark" "$quarter")"
  awk -v m="$muted_max" 'BEGIN {exit !(m < 0.001)}' && break
  mark=$((mark + quarter))
done
awk -v m="$muted_max" 'BEGIN {exit !(m < 0.001)}' && pass "M mutes: peak $muted_max" ||
  fail "after M the peak is $muted_max"
# Paused, the moving square holds: two screenshots a second apart are the same.
xdotool key space
paused=no
for _ in $(seq 20); do
  first=$(colour_at paused-1 127 68)
  sleep 1
  second=$(colour_at paused-2 127 68)
  same_area paused-1 paused-2 && { paused=yes; break; }
done
[[ $paused == yes ]] && pass "Space pauses: the picture holds ($first)" ||
  fail "paused, the picture changed: $first, $second"

# The volume menu covers a strip of the picture; once it closes, the strip shows the picture again.
volume
wait_shown_windows 2 || fail "the volume menu did not open"
import -window root "$shots/volume-menu.png"
xdotool key Escape
wait_shown_windows 1 || fail "the volume menu did not close"
strip=""
for _ in $(seq 50); do
  strip=$(colour_at menu-closed 176 131)
  [[ $strip == "$second" ]] && break
  sleep 0.2
done
[[ $strip == "$second" ]] && pass "the strip under the menu is redrawn ($strip)" ||
  fail "under the closed menu: $strip, the picture is $second"

# Snapshots while paused: the file's size and colour.
# Each one is waited for: the click's sound opens a device of its own first, slow under a sanitizer.
snapshot
wait_for_file "$work/out/clip.bmp"
snapshot
wait_for_file "$work/out/clip-1.bmp"
for name in clip.bmp clip-1.bmp; do
  file=$work/out/$name
  if [[ -s $file ]]; then
    facts=$(identify -format '%m %wx%h %[bit-depth] %[type]' "$file" 2>&1)
    pixel=$(classify "$(convert "$file" -format '%[fx:int(255*p{160,120}.r)],%[fx:int(255*p{160,120}.g)],%[fx:int(255*p{160,120}.b)]' info:)")
    depth=$(od -An -tu2 -j28 -N2 "$file" | tr -d ' ')
    [[ $facts == "BMP3 320x240"* && $depth == 24 && $pixel == "$second" ]] &&
      pass "snapshot $name: $facts, $depth bits, $pixel" || fail "snapshot $name: $facts, $depth bits, $pixel"
  else
    fail "no snapshot $name in $work/out: $(ls "$work/out")"
  fi
done

# On to the end (about 6 s of the file are left): the default picture comes back.
xdotool mousemove $((area_x + 127)) $((area_y + 68)) click 1 key space
shown=$(wait_colour ended "$before" 60)
[[ $shown == "$before" ]] && pass "the end brings back the default picture" ||
  fail "after the end the area shows $shown, idle it showed $before"

# File > Exit after playing: status 0 (under AddressSanitizer also: no leak).
choose_exit
wait_program
[[ $status -eq 0 ]] && pass "File > Exit after playing: status 0" || fail "File > Exit after playing: status $status"

# SIGTERM ends the program at once, also while a file plays: the signal's own ending, status 128 + 15
# (docs/window.md).
rm -f "$sound"
start_program "$work/media/clip.mp4"
if [[ -n $window ]]; then
  settled_screenshot "$window" "$shots/before-sigterm.png"
  select_row
  play
  shown=$(wait_colour sigterm-playing red 30)
  kill -TERM "$app_pid" 2>/dev/null
  wait_program
  if [[ $shown == red && -s $sound && $status -eq 143 ]]; then
    pass "SIGTERM while a file plays: status 143"
  else
    fail "SIGTERM while a file plays: the picture showed $shown, sound $(sound_bytes) bytes, status $status"
  fi
else
  fail "the window did not appear for the SIGTERM run: $(tail -5 "$work/program.log")"
fi

echo "screenshots in $shots"
echo "$failures failure(s)"
[[ $failures -eq 0 ]]
