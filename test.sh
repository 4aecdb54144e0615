#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a normal build, once more under
# AddressSanitizer + UndefinedBehaviorSanitizer. With --tsan: the suite under ThreadSanitizer instead.
set -euo pipefail
cd "$(dirname "$0")"

mode=default
case "${1:-}" in
  "") ;;
  --tsan) mode=tsan ;;
  *) echo "usage: $0 [--tsan]" >&2; exit 2 ;;
esac

scripts/install-packages.sh test
scripts/check-format.sh

jobs=$(nproc)
run_suite() {  # build-folder, cmake options...
  local folder=$1; shift
  cmake -S . -B "$folder" -G Ninja -DTARVELLO_WERROR=ON -DTARVELLO_BUILD_TESTS=ON "$@" >/dev/null
  cmake --build "$folder" -j "$jobs"
  (cd "$folder" && ctest -j "$jobs" --output-on-failure --no-tests=error --timeout 300)
}

if [[ $mode == tsan ]]; then
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
  run_suite build-tsan -DCMAKE_BUILD_TYPE=Debug -DTARVELLO_SANITIZE=thread
  exit 0
fi

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DTARVELLO_SANITIZE=address,undefined
