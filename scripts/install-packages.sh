#!/usr/bin/env bash
# Installs the Debian packages a purpose needs, only those missing. Usage: install-packages.sh build|test
set -euo pipefail

build_packages=(
  cmake ninja-build g++ pkg-config
  # The media libraries (bound at run time) with their headers.
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev libavdevice-dev
  libsdl2-dev libopencore-amrnb-dev
  # The window: Qt 6 Widgets and Svg, the X connection it checks before starting, a font with Tahoma's widths.
  qt6-base-dev qt6-svg-dev libxcb1-dev libgl-dev fonts-liberation2
)
test_packages=(
  "${build_packages[@]}"
  googletest libgtest-dev libbenchmark-dev
  ffmpeg          # the ffmpeg/ffprobe tools make fixtures and check outputs in tests
  clang-format    # the format check
  clang-14 libclang-rt-14-dev  # the fuzzers: libFuzzer with the sanitizers
  locales         # locale sources: a test makes a comma-decimal locale with localedef
  xvfb xauth imagemagick xdotool x11-utils  # the window's end-to-end test, its screenshots, xprop
  desktop-file-utils appstream    # the packaging checks
  sox             # the preview's sound checks read the disk audio driver's output
)

case "${1:-}" in
  build) wanted=("${build_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  *) echo "usage: $0 build|test" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
