#!/usr/bin/env bash
# Runs every fuzzer of a fuzz build (cmake -DTARVELLO_FUZZ=ON) for SECONDS each, two at a time. Each one
# grows a corpus of its own in BUILD/fuzz-runs/NAME/corpus (the committed seeds and regressions are read,
# never written) and leaves its log and any crashing, leaking, hanging or memory-hungry input in
# BUILD/fuzz-runs/NAME/. Fails when a fuzzer found something; the last line counts them, "fuzzers: N clean, N
# found a fault". Usage: run-fuzzers.sh BUILD SECONDS [NAME...]
# TARVELLO_FUZZ_SEED=N starts libFuzzer's mutations from seed N (the same inputs in the same order, as far as
# the timing allows); unset, every run starts from a new seed.
set -uo pipefail
cd "$(dirname "$0")/.."

if [[ $# -lt 2 || ! $2 =~ ^[0-9]+$ ]]; then
  echo "usage: $0 BUILD-FOLDER SECONDS [FUZZER...]" >&2
  exit 2
fi
build=$(realpath "$1")
seconds=$2
shift 2
parallel=2

names=("$@")
if [[ ${#names[@]} -eq 0 ]]; then
  for description in "$build"/fuzzers/*.sh; do
    names+=("$(basename "$description" .sh)")
  done
fi
if [[ ${#names[@]} -eq 0 ]]; then
  echo "no fuzzers in $build (configure it with -DTARVELLO_FUZZ=ON)" >&2
  exit 2
fi

export ASAN_OPTIONS="strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"

run_one() {  # name
  local name=$1 program dictionary timeout inputs
  # shellcheck source=/dev/null
  source "$build/fuzzers/$name.sh"
  local work="$build/fuzz-runs/$name"
  mkdir -p "$work/corpus" "$work/findings"
  local arguments=(-max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2560 -detect_leaks=1
                   -print_final_stats=1 -artifact_prefix="$work/findings/")
  [[ -n $dictionary ]] && arguments+=(-dict="$dictionary")
  [[ -n ${TARVELLO_FUZZ_SEED:-} ]] && arguments+=(-seed="$TARVELLO_FUZZ_SEED")
  if "$program" "${arguments[@]}" "$work/corpus" "${inputs[@]}" >"$work/log" 2>&1; then
    echo "fuzz $name: clean after ${seconds} s ($(grep -o 'stat::number_of_executed_units: [0-9]*' "$work/log" |
      grep -o '[0-9]*$') inputs run)"
    return 0
  fi
  echo "fuzz $name: FOUND A FAULT; log $work/log" >&2
  grep -E '^(==[0-9]+==ERROR|SUMMARY|.*Test unit written to|.*ALARM|.*out-of-memory|.*deadly signal)' \
    "$work/log" | head -20 >&2
  tail -40 "$work/log" >&2
  return 1
}

clean=0
faulty=0
running=0
finish_one() {
  if wait -n; then clean=$((clean + 1)); else faulty=$((faulty + 1)); fi
  running=$((running - 1))
}
for name in "${names[@]}"; do
  if [[ ! -f $build/fuzzers/$name.sh ]]; then
    echo "no fuzzer '$name' in $build" >&2
    faulty=$((faulty + 1))
    continue
  fi
  run_one "$name" &
  running=$((running + 1))
  [[ $running -ge $parallel ]] && finish_one
done
while [[ $running -gt 0 ]]; do
  finish_one
done
echo "fuzzers: $clean clean, $faulty found a fault"
[[ $faulty -eq 0 ]]
