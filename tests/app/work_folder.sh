# The start of every end-to-end run of the window: the tools it needs are there, the X11 keyboard library's
# AddressSanitizer report is suppressed (not ours), and a fresh work folder with a home of its own. Sourced
# with the tools as arguments; the caller sets here and work.
for tool in "$@"; do
  if ! command -v "$tool" >/dev/null; then
    echo "FAIL: the tool $tool is missing (Debian packages xvfb, xdotool, imagemagick, ffmpeg, sox)"
    exit 1
  fi
done
if [[ -n ${ASAN_OPTIONS:-} ]]; then
  export ASAN_OPTIONS="$ASAN_OPTIONS:suppressions=$here/asan_x11.supp"
fi
rm -rf "$work"
mkdir -p "$work/media" "$work/out" "$work/screenshots" "$work/home/config/Tarvello" "$work/home/state" \
  "$work/home/runtime"
chmod 700 "$work/home/runtime"
