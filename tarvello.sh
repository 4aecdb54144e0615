#!/usr/bin/env bash
# Installs what is missing, builds, and starts the converter's window with the given files in its list.
# The headless twin is built beside it: build-app/cli/tarvello-convert.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/scripts/install-packages.sh" build
cmake -S "$here" -B "$here/build-app" -G Ninja -DTARVELLO_BUILD_TESTS=OFF >/dev/null
cmake --build "$here/build-app" -j "$(nproc)" >/dev/null
exec "$here/build-app/app/tarvello" "$@"
