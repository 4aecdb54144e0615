# What the window's end-to-end tests share: an Xvfb display of their own, the program started on it with a
# home folder inside the work folder, and its windows found by name. Sourced; the caller sets program and
# work, and fail/pass.

xvfb_pid=""
app_pid=""
cleanup() {
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$runtime_folder"
}
trap cleanup EXIT
# Xvfb picks a free display number itself and writes it to the descriptor given.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do
  [[ -s $work/display ]] && break
  sleep 0.1
done
[[ -s $work/display ]] || { echo "FAIL: Xvfb did not start: $(cat "$work/xvfb.log")"; exit 1; }
DISPLAY=:$(head -1 "$work/display")
export DISPLAY
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
echo "display $DISPLAY"

# A screenshot never holds the test up: import waits on the X server, and once the program under test ended
# abnormally with its list popup open, import was seen waiting for good.
import() {
  timeout 30 /usr/bin/env import "$@" || echo "screenshot ${*: -1} not taken (status $?)" >&2
}

# The first visible window whose name matches, waiting up to $2 seconds; empty when there is none.
find_window() {
  local pattern=$1 seconds=$2 id=""
  for _ in $(seq $((seconds * 20))); do
    id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -1)
    [[ -n $id ]] && break
    sleep 0.05
  done
  echo "$id"
}

# How many top-level windows of the program are on screen: its window, a menu or a list's popup, a message
# box. Not the native child windows of its picture area, nor its tooltips, which come and go with the mouse.
shown_windows() {
  local id count=0
  for id in $(xdotool search --maxdepth 1 --onlyvisible --pid "$app_pid" 2>/dev/null); do
    xprop -id "$id" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q _NET_WM_WINDOW_TYPE_TOOLTIP || count=$((count + 1))
  done
  echo "$count"
}

# Waits up to 30 s until the program shows $1 windows: a menu or a popup has opened or closed.
wait_shown_windows() {
  for _ in $(seq 600); do
    [[ $(shown_windows) -eq $1 ]] && return 0
    sleep 0.05
  done
  return 1
}

# Takes screenshots of window $1 into $2 until two in a row are the same and hold more than a few colours:
# the window has finished drawing. Up to 30 s; the last one stays in $2 either way.
settled_screenshot() {
  local id=$1 file=$2 previous=$work/previous-screenshot.png
  import -window "$id" "$previous"
  for _ in $(seq 100); do
    sleep 0.3
    import -window "$id" "$file"
    if [[ $(convert "$file" -format %k info: 2>/dev/null || echo 0) -gt 16 ]] &&
      cmp -s <(convert "$file" rgb:-) <(convert "$previous" rgb:-); then
      return 0
    fi
    cp "$file" "$previous"
  done
  return 1
}

# File > Exit with the mouse and the keyboard, as a user ends the program without saving. The keys go once
# the menu is on screen.
choose_exit() {
  local shown
  shown=$(shown_windows)
  xdotool mousemove --window "$window" 16 8 click 1
  if wait_shown_windows $((shown + 1)); then
    xdotool key Down Return
  else
    fail "the File menu did not open"
    kill "$app_pid"
  fi
}

# Starts tarvello with the media on its command line; sets app_pid and window.
start_program() {
  (cd "$work" && exec env "${home_environment[@]}" "$program" "$@") >>"$work/program.log" 2>&1 &
  app_pid=$!
  window=$(find_window '^Tarvello Video Converter$' 20)
}

# Waits up to 10 s for the program to end and sets status to its exit status (124: it did not end).
wait_program() {
  status=124
  for _ in $(seq 200); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.05
  done
  if kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid"
    wait "$app_pid"
  else
    wait "$app_pid"
    status=$?
  fi
  app_pid=""
}

