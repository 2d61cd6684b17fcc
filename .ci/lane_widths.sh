#!/usr/bin/env bash
# Runs the unit tests and the output check of an x86-64 build once per lane
# width, forced with VELORIN_SIMD (scalar, sse2, avx, avx512), and requires the same
# output sums at every width. Widths this processor lacks are skipped.
#   bash .ci/lane_widths.sh [BUILD_DIR]   (default build/, built already)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
jobs=$(nproc)
want=$(bash tools/check_outputs.sh "$build" | tail -1)
echo "every width: $want"
for width in scalar sse2 avx avx512; do
    if { [ "$width" = avx ] || [ "$width" = avx512 ]; } && ! grep -qw "${width/512/512f}" /proc/cpuinfo; then
        echo "$width: not on this processor, skipped"
        continue
    fi
    echo "--- VELORIN_SIMD=$width"
    log=$(mktemp)
    VELORIN_SIMD=$width ctest --test-dir "$build" -j"$jobs" --output-on-failure > "$log" 2>&1 ||
        { cat "$log"; rm -f "$log"; exit 1; }
    grep 'tests passed' "$log"
    rm -f "$log"
    got=$(VELORIN_SIMD=$width bash tools/check_outputs.sh "$build" | tail -1)
    echo "$width: $got"
    if [ "$got" != "$want" ]; then
        echo "lane_widths: the outputs at $width differ from the default width's" >&2
        exit 1
    fi
done
