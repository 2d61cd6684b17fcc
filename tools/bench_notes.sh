#!/usr/bin/env bash
# Times whole velorin processes as a host starts them, against sox on the same
# note, and a note cut from a long recording against the same note from a short
# one. Builds what it needs (Release, in build/) and prints tables.
#
# usage: tools/bench_notes.sh [ROUNDS] [OTHER]   (ROUNDS: at least 9, default 11;
#        OTHER: another build of the program, e.g. an older one, timed in the
#        same rounds, alternating, as "other ...")
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-11}
[ "$rounds" -ge 9 ] || { echo "bench_notes.sh: at least 9 rounds" >&2; exit 2; }
command -v sox >/dev/null || bash tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVELORIN_BENCH=ON > /dev/null
cmake --build build -j2 --target velorin velorin-demo note_timer > /dev/null
velorin=$(realpath build/velorin)
other=${2:+$(realpath "$2")}
timer=build/bench/note_timer

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/tools/velorin-demo voice "$work/short.wav" 220 1
build/tools/velorin-demo voice "$work/long.wav" 220 60
# The frequency lists are made once, as a host's first run would.
[ -z "$other" ] || [ -x "$other" ] || { echo "bench_notes.sh: $other is not a program" >&2; exit 2; }
"$velorin" "$work/short.wav" "$work/o.wav" A4 100 "" 0 1000 0 0 100 0 '!120' > /dev/null 2>&1
"$velorin" "$work/long.wav" "$work/o.wav" A4 100 "" 0 1000 0 0 100 0 '!120' > /dev/null 2>&1

# The 1-second note an octave up (A4 from a 220 Hz voice), default flags
# apart from the worker count. Flags "n" only keeps the console report off.
note() {  # label input output flags [offset ms]
    args+=("$1" "$velorin" "$2" "$3" A4 100 "${4}n" "${5:-0}" 1000 0 -1000 100 0 '!120' ::)
    if [ -n "$other" ]; then
        args+=("other $1" "$other" "$2" "$3.other.wav" A4 100 "${4}n" "${5:-0}" 1000 0 -1000 100 0 '!120' ::)
    fi
}
echo "1-second note from a 1-second sample, $(nproc) processors, median of $rounds runs, alternating:"
args=()
note "velorin S1" "$work/short.wav" "$work/a.wav" S1
note "velorin S2" "$work/short.wav" "$work/b.wav" S2
note "velorin (default workers)" "$work/short.wav" "$work/c.wav" ""
args+=(sox "$(command -v sox)" "$work/short.wav" "$work/d.wav" pitch 1200 tempo 1.0)
"$timer" "$rounds" sox -- "${args[@]}"
echo
echo "The same note from a 60-second sample (offset 30 s) against the 1-second sample:"
args=()
note "1-second sample" "$work/short.wav" "$work/e.wav" ""
note "60-second sample" "$work/long.wav" "$work/f.wav" "" 30000
unset 'args[-1]'
"$timer" "$rounds" "1-second sample" -- "${args[@]}"
