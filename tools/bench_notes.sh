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

# velorin.exe under Wine, where a Windows build (VELORIN_EXE, default
# build-w64/velorin.exe, which .ci/windows.sh makes) and Wine are present: the
# same 1-second note and the banner alone (exit 99), beside the Linux program's,
# with one Wine server kept running, so that what remains of a note above the
# banner is the render's own cost.
exe=${VELORIN_EXE:-build-w64/velorin.exe}
wine=$(command -v wine64 || ls /usr/lib/wine/wine64 2>/dev/null || true)
if [ -f "$exe" ] && [ -n "$wine" ]; then
    exe=$(realpath "$exe")
    wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
    export WINEDEBUG=-all
    # One server kept running through the rounds; stopped at the end only
    # when started here.
    if "$wineserver" -p 2>/dev/null; then
        trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$work"' EXIT
    fi
    "$wine" "$exe" > /dev/null 2>&1 || true   # the prefix is set up before the rounds
    echo
    echo "velorin.exe under Wine against velorin on Linux, 1-second note and banner alone:"
    args=()
    for flags in S1 ""; do
        w=${flags:-default workers}
        args+=("Linux note ($w)" "$velorin" "$work/short.wav" "$work/g.wav" A4 100 "${flags}n" 0 1000 0
               -1000 100 0 '!120' ::)
        args+=("Wine note ($w)" "$wine" "$exe" "$work/short.wav" "$work/h.wav" A4 100 "${flags}n" 0
               1000 0 -1000 100 0 '!120' ::)
    done
    args+=("Linux banner" --exit=99 "$velorin" :: "Wine banner" --exit=99 "$wine" "$exe")
    "$timer" "$rounds" "Linux banner" -- "${args[@]}" | tee "$work/wine.txt"
    # The render's own cost: the note less the banner, under Wine against Linux.
    for w in "S1" "default workers"; do
        awk -v w="$w" '
            index($0, "Linux banner") == 1 {lb_c = $(NF-3); lb_w = $(NF-2)}
            index($0, "Wine banner") == 1 {wb_c = $(NF-3); wb_w = $(NF-2)}
            index($0, "Linux note (" w ")") == 1 {ln_c = $(NF-3); ln_w = $(NF-2)}
            index($0, "Wine note (" w ")") == 1 {wn_c = $(NF-3); wn_w = $(NF-2)}
            END {
              printf "note less banner (%s): Linux %.1f ms CPU, %.1f ms wall; Wine %.1f ms CPU, %.1f ms wall; Wine/Linux %.2f (CPU), %.2f (wall)\n",
                     w, ln_c - lb_c, ln_w - lb_w, wn_c - wb_c, wn_w - wb_w,
                     (wn_c - wb_c) / (ln_c - lb_c), (wn_w - wb_w) / (ln_w - lb_w)
            }' "$work/wine.txt"
    done
fi
