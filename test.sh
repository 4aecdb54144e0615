#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a normal build, once more under
# AddressSanitizer + UndefinedBehaviorSanitizer, then every fuzzer for a minute. With --tsan: the suite under
# ThreadSanitizer instead. With --fuzz SECONDS: only the fuzzers, each for SECONDS.
set -euo pipefail
cd "$(dirname "$0")"

usage() {
  echo "usage: $0 [--tsan | --fuzz SECONDS]" >&2
  exit 2
}
mode=default
fuzz_seconds=60
case "${1:-}" in
  "") ;;
  --tsan) mode=tsan ;;
  --fuzz)
    mode=fuzz
    [[ ${2:-} =~ ^[0-9]+$ ]] || usage
    fuzz_seconds=$2
    ;;
  *) usage ;;
esac

scripts/install-packages.sh test

jobs=$(nproc)
# The fuzzers (fuzz/) in a clang build of their own, each run for the seconds given, two at a time.
run_fuzzers() {  # seconds
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang-14 \
    -DCMAKE_CXX_COMPILER=clang++-14 -DTARVELLO_FUZZ=ON -DTARVELLO_WERROR=ON >/dev/null
  cmake --build build-fuzz -j "$jobs"
  scripts/run-fuzzers.sh build-fuzz "$1"
}

if [[ $mode == fuzz ]]; then
  run_fuzzers "$fuzz_seconds"
  exit 0
fi

scripts/check-format.sh

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

run_fuzzers "$fuzz_seconds"
