#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. By default (as CI runs it): the program as it ships,
# built with g++ and warnings as errors; then a clang build of everything under AddressSanitizer +
# UndefinedBehaviorSanitizer that also holds the fuzzers, where the whole suite runs, and then every fuzzer
# for a minute. With --release: the suite in the g++ build instead. With --tsan: the suite under
# ThreadSanitizer instead. With --fuzz SECONDS: only the fuzzers, each for SECONDS.
set -euo pipefail
cd "$(dirname "$0")"

usage() {
  echo "usage: $0 [--release | --tsan | --fuzz SECONDS]" >&2
  exit 2
}
mode=default
fuzz_seconds=60
case "${1:-}" in
  "") ;;
  --release) mode=release ;;
  --tsan) mode=tsan ;;
  --fuzz)
    mode=fuzz
    [[ ${2:-} =~ ^[0-9]+$ ]] || usage
    fuzz_seconds=$2
    ;;
  *) usage ;;
esac

started=$SECONDS
took() {  # what
  echo "test.sh: $1 took $((SECONDS - started)) s"
  started=$SECONDS
}

scripts/install-packages.sh test
took "installing what was missing"

jobs=$(nproc)
clang=(-DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14)

if [[ $mode == fuzz ]]; then
  # The libraries and the fuzzers alone.
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug "${clang[@]}" -DTARVELLO_FUZZ=ON \
    -DTARVELLO_BUILD_TESTS=OFF -DTARVELLO_WERROR=ON >/dev/null
  cmake --build build-fuzz -j "$jobs"
  scripts/run-fuzzers.sh build-fuzz "$fuzz_seconds"
  exit 0
fi

# The closing line counts the whole run: every CTest test, and each fuzzer as one. A step without which the
# rest cannot run (the format check, a build) counts as one failure and ends the run there.
passed=0
failed=0
closing_line() {
  echo "test.sh: $passed passed, $failed failed"
  [[ $failed -eq 0 ]]
}
step() {  # what, command...
  local what=$1; shift
  "$@" && return 0
  echo "test.sh: $what failed"
  failed=$((failed + 1))
  closing_line
  exit 1
}

quietly() { "$@" >/dev/null; }

step "the format check" scripts/check-format.sh

# Builds and runs the suite, counting its tests.
run_suite() {  # build-folder, cmake options...
  local folder=$1; shift
  step "configuring $folder" quietly cmake -S . -B "$folder" -G Ninja -DTARVELLO_WERROR=ON \
    -DTARVELLO_BUILD_TESTS=ON "$@"
  step "the build in $folder" cmake --build "$folder" -j "$jobs"
  local log=$folder/ctest-summary.log counts
  (cd "$folder" && ctest -j "$jobs" --output-on-failure --no-tests=error --timeout 300) | tee "$log" || true
  # "97% tests passed, 2 tests failed out of 677"
  counts=$(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  if [[ $counts =~ ^([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+)$ ]]; then
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[1]))
  else
    echo "test.sh: ctest gave no count of its tests"
    failed=$((failed + 1))
  fi
}

if [[ $mode == tsan ]]; then
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
  run_suite build-tsan -DCMAKE_BUILD_TYPE=Debug -DTARVELLO_SANITIZE=thread
  closing_line
  exit
fi

if [[ $mode == release ]]; then
  run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
  closing_line
  exit
fi

# The suite runs once, in the sanitized build: two full suites and three builds do not fit CI's time on two
# cores. The g++ build of the program still has to build without a warning.
step "configuring build-gcc" quietly cmake -S . -B build-gcc -G Ninja -DTARVELLO_WERROR=ON \
  -DTARVELLO_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
step "the g++ build" cmake --build build-gcc -j "$jobs"
took "the program's g++ build"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
run_suite build-sanitized -DCMAKE_BUILD_TYPE=Debug "${clang[@]}" -DTARVELLO_FUZZ=ON
took "the sanitized build and the suite"
# A fixed seed: what passed here passes in CI, instead of each run exploring somewhere new and failing a
# change for a fault it did not bring. New ground is for ./test.sh --fuzz SECONDS, which starts anywhere.
fuzz_log=build-sanitized/fuzz-summary.log
TARVELLO_FUZZ_SEED=${TARVELLO_FUZZ_SEED:-1} scripts/run-fuzzers.sh build-sanitized "$fuzz_seconds" |
  tee "$fuzz_log" || true
took "the fuzzers"
# "fuzzers: 6 clean, 0 found a fault"
if [[ $(tail -1 "$fuzz_log") =~ ^fuzzers:\ ([0-9]+)\ clean,\ ([0-9]+)\ found ]]; then
  passed=$((passed + BASH_REMATCH[1]))
  failed=$((failed + BASH_REMATCH[2]))
else
  echo "test.sh: the fuzzers gave no count"
  failed=$((failed + 1))
fi
closing_line
