#!/usr/bin/env bash
# Benchmark of velorin-frq analyse on a generated voicebank of 200 samples:
#  1. the CPU time of analysing each sample alone (one process per sample, one after
#     another), added up;
#  2. the wall time of analysing the whole folder at once (default -j);
#  3. the bound: wall <= 1.2 x (summed CPU) / processors;
#  4. every list byte for byte against the one velorin writes for the same sample
#     (skipped with --no-identity);
#  5. a second run analyses nothing, --force analyses all again.
# Run it on a quiet machine: bash tools/bench_voicebank.sh [--no-identity] [COUNT]
set -euo pipefail
cd "$(dirname "$0")/.."
identity=1
if [ "${1:-}" = --no-identity ]; then identity=0; shift; fi
count=${1:-200}
build=${VELORIN_BUILD:-build}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
fi
cmake --build "$build" -j"$(nproc)" --target velorin velorin-frq velorin-demo > /dev/null
frq=$(realpath "$build/tools/velorin-frq")
velorin=$(realpath "$build/velorin")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
VELORIN_DEMO="$build/tools/velorin-demo" bash tools/make_voicebank.sh "$work/bank" "$count" > /dev/null
mapfile -d '' samples < <(find "$work/bank" -name '*.wav' -print0 | sort -z)
procs=$(nproc)
fail=0

now() { date +%s.%N; }
children_cpu() { # user + system seconds of all finished children of this shell
    times > "$work/times.txt"  # not in a subshell: it would count its own children
    tail -n 1 "$work/times.txt" | awk '{ gsub(/[ms]/, " "); print $1 * 60 + $2 + $3 * 60 + $4 }'
}

# 1. Each sample alone.
children_cpu > "$work/before.txt"
before=$(cat "$work/before.txt")
for s in "${samples[@]}"; do
    "$frq" analyse --force -j 1 "$s" > /dev/null 2>&1 || true
done
children_cpu > "$work/after.txt"
cpu=$(awk -v a="$(cat "$work/after.txt")" -v b="$before" 'BEGIN { printf "%.3f", a - b }')

# 2. The whole folder at once, from no lists.
find "$work/bank" -name '*.frq' -delete
load=$(cut -d ' ' -f 1-3 /proc/loadavg)
children_cpu > "$work/before.txt"
t0=$(now)
"$frq" analyse "$work/bank" > "$work/run1.txt" 2> /dev/null || true
wall=$(awk -v a="$(now)" -v b="$t0" 'BEGIN { printf "%.3f", a - b }')
children_cpu > "$work/after.txt"
folder_cpu=$(awk -v a="$(cat "$work/after.txt")" -v b="$(cat "$work/before.txt")" 'BEGIN { printf "%.3f", a - b }')
bound=$(awk -v c="$cpu" -v p="$procs" 'BEGIN { printf "%.3f", 1.2 * c / p }')
echo "samples:                       ${#samples[@]}"
echo "processors:                    $procs"
echo "CPU time, each sample alone:   $cpu s (added up)"
echo "wall time, whole folder:       $wall s"
echo "bound 1.2 x CPU / processors:  $bound s"
echo "CPU time, whole folder:        $folder_cpu s (processors busy $(awk -v c="$folder_cpu" -v w="$wall" -v p="$procs" 'BEGIN { printf "%.0f", 100 * c / (w * p) }') % of the wall time)"
echo "load average before the run:   $load (other work on the machine slows the wall time)"
if awk -v w="$wall" -v b="$bound" 'BEGIN { exit !(w <= b) }'; then
    echo "wall time within the bound"
else
    echo "FAILED: wall time above the bound"
    fail=1
fi
head -n 1 "$work/run1.txt"

# 4. Byte identity with velorin's own lists.
if [ $identity = 1 ]; then
    cp -r "$work/bank" "$work/byvelorin"
    find "$work/byvelorin" -name '*.frq' -delete
    mismatches=0
    for s in "${samples[@]}"; do
        v="$work/byvelorin/${s#"$work/bank/"}"
        (cd "$work" && "$velorin" "$v" note.wav A4 100 n 0 300 0 0 100 0 '!120' 'AA#10#' > /dev/null 2>&1) || true
        l="${s%.wav}_wav.frq"
        vl="${v%.wav}_wav.frq"
        if ! cmp -s "$l" "$vl"; then
            echo "differs from velorin's list: $l"
            mismatches=$((mismatches + 1))
        fi
    done
    echo "lists identical to velorin's: $(( ${#samples[@]} - mismatches )) of ${#samples[@]}"
    [ $mismatches -eq 0 ] || fail=1
fi

# 5. Nothing to do the second time; everything again with --force.
second=$("$frq" analyse "$work/bank" 2> /dev/null | head -n 1 || true)
echo "second run: $second"
case "$second" in "nothing to analyse"*) ;; *) echo "FAILED: the second run analysed something"; fail=1 ;; esac
forced=$("$frq" analyse --force "$work/bank" 2> /dev/null | head -n 1 || true)
echo "with --force: $forced"
case "$forced" in "analysed ${#samples[@]},"*) ;; *) echo "FAILED: --force did not analyse all"; fail=1 ;; esac
exit $fail
