# Shared parts of the benchmarks against the ffmpeg tool; sourced by bench/*.sh, not run on its own.
# Sets: repo, rounds, program, bench_dir, clip, measures (a temporary folder removed on exit).
# shellcheck shell=bash disable=SC2034 # the variables above are used by the scripts that source this file

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# bench_parse_arguments DEFAULT_ROUNDS ARGUMENTS...: sets rounds and program ("" when none was given).
# --help prints the script's header comment (lines 2 to 6).
bench_parse_arguments() {
  rounds=$1; shift
  program=""
  local usage="usage: $0 [--rounds N] [tarvello-convert]"
  while [[ $# -gt 0 ]]; do
    case $1 in
      --rounds)
        [[ $# -ge 2 && $2 =~ ^[1-9][0-9]*$ ]] || { echo "$usage" >&2; exit 2; }
        rounds=$2; shift 2 ;;
      -h|--help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
      -*) echo "$usage" >&2; exit 2 ;;
      *) [[ -z $program ]] || { echo "$usage" >&2; exit 2; }
         program=$1; shift ;;
    esac
  done
}

gnu_time=/usr/bin/time
bench_require_tools() {
  local tool
  for tool in ffmpeg ffprobe; do
    command -v "$tool" >/dev/null || { echo "$0: the $tool tool is missing (scripts/install-packages.sh test)" >&2; exit 1; }
  done
  [[ -x $gnu_time ]] || { echo "$0: $gnu_time is missing (Debian package 'time')" >&2; exit 1; }
}

# Without a program path, builds build-app/ the way ./tarvello.sh does and uses that build; makes the path
# absolute either way.
bench_resolve_program() {
  if [[ -z $program ]]; then
    # tarvello.sh's own build step (package check, configure, build); --version then shows what was built.
    echo "Building build-app/ through ./tarvello.sh ..."
    if ! "$repo/tarvello.sh" --version; then
      echo "$0: building or starting tarvello-convert through ./tarvello.sh failed" \
        "(cmake --build $repo/build-app shows the build's messages)" >&2
      exit 1
    fi
    program=$repo/build-app/cli/tarvello-convert
  fi
  [[ -x $program ]] || { echo "$0: '$program' is no executable" >&2; exit 1; }
  program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
}

# The 30 s 1280x720 25 fps H.264 (about 2.5 Mbit/s) + AAC (128 kbit/s, 48 kHz) clip, made once and kept.
bench_make_clip() {
  bench_dir=${BENCH_DIR:-$repo/build-bench}
  mkdir -p "$bench_dir"
  clip=$bench_dir/clip_720p25_30s.mp4
  if [[ ! -s $clip ]]; then
    echo "Making $clip (once) ..."
    ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25:duration=30 \
      -f lavfi -i sine=frequency=440:sample_rate=48000:duration=30 \
      -c:v libx264 -preset fast -b:v 2500k -maxrate 3000k -bufsize 5000k -pix_fmt yuv420p \
      -c:a aac -b:a 128k -shortest "$clip.part.mp4"
    mv "$clip.part.mp4" "$clip"
  fi
}

measures=$(mktemp -d)
trap 'rm -rf "$measures"' EXIT

# run NAME COMMAND...: one timed run; appends "seconds kilobytes" (wall time, peak resident memory) to
# $measures/NAME. The run's output stays in $measures/stdout and $measures/stderr; a failed run ends the script.
run() {
  local name=$1; shift
  local measure=$measures/last
  if ! "$gnu_time" -f '%e %M' -o "$measure" "$@" >"$measures/stdout" 2>"$measures/stderr"; then
    echo "$0: the $name run failed:" >&2
    cat "$measures/stdout" "$measures/stderr" >&2
    exit 1
  fi
  tail -n 1 "$measure" >>"$measures/$name"
}

# run_ours NAME COMMAND...: run, and tarvello-convert must have said "Done".
run_ours() {
  run "$@"
  grep -qx Done "$measures/stdout" || { echo "$0: tarvello-convert did not say Done ($1)" >&2; exit 1; }
}

# median COLUMN FILE
median() {
  sort -g -k "$1,$1" "$2" | awk -v column="$1" '{ v[NR] = $column }
    END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# ratio A B: A / B with two decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

