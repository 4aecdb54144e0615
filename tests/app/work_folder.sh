# The start of every end-to-end run of the window: the tools it needs are there, the X11 keyboard library's
# AddressSanitizer report is suppressed (not ours), and a fresh work folder with a home of its own. Sourced
# with the tools as arguments; the caller sets here and work. Sets home and home_environment (the variables
# that put the program in that home: `env "${home_environment[@]}" PROGRAM`).
for tool in "$@"; do
  if ! command -v "$tool" >/dev/null; then
    echo "FAIL: the tool $tool is missing (Debian packages xvfb, xdotool, x11-utils, imagemagick, ffmpeg, sox)"
    exit 1
  fi
done
if [[ -n ${ASAN_OPTIONS:-} ]]; then
  export ASAN_OPTIONS="$ASAN_OPTIONS:suppressions=$here/asan_x11.supp"
fi
rm -rf "$work"

# The program runs in the same conditions on every machine: a fresh home with empty caches (fonts, shaders),
# whose path is always 240 characters long, however deep the checkout lies. The libraries beneath Qt build
# paths under the home in buffers that behave differently past a length: fontconfig's leak (tests/lsan.supp)
# showed only where the checkout's path was long. The runtime folder holds sockets, whose paths may not
# exceed 107 characters: it lives in /tmp.
home=$work/home
home_padding=$((240 - ${#home} - 1))
((home_padding > 0)) && home=$home/$(printf "%${home_padding}s" "" | tr ' ' 'h')
runtime_folder=$(mktemp -d /tmp/tarvello-test-runtime.XXXXXX)
trap 'rm -rf "$runtime_folder"' EXIT
home_environment=(HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_STATE_HOME="$home/state"
                  XDG_CACHE_HOME="$home/cache" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$runtime_folder")
mkdir -p "$work/media" "$work/out" "$work/screenshots" "$home/config/Tarvello" "$home/state" "$home/cache" \
  "$home/data"
