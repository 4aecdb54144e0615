# What the window's end-to-end tests share: an Xvfb display of their own, the program started on it with a
# home folder inside the work folder, and its windows found by name. Sourced; the caller sets program and
# work, and fail/pass.

xvfb_pid=""
app_pid=""
cleanup() {
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
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

# Starts tarvello with the media on its command line; sets app_pid and window.
start_program() {
  (cd "$work" && HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_STATE_HOME="$work/home/state" \
      XDG_RUNTIME_DIR="$work/home/runtime" exec "$program" "$@") >>"$work/program.log" 2>&1 &
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

