#!/usr/bin/env bash
# Times velorin's pitch analysis against Praat's "To Pitch (ac)" on the same
# job: whole processes, alternating, median of ROUNDS (at least 9, default 11).
# A generated 60-second vowel is analysed by velorin-frq (one thread, and the
# default: one per processor) and by Praat with velorin's step (256 samples at
# 44.1 kHz) and range (57.4 to 900 Hz), its other settings Praat's defaults.
# Praat's reading of the file is timed alone and subtracted. Prints CPU ms per
# second of audio for each and velorin's ratio to Praat.
#
# Installs Debian's praat (and what the build needs) when missing; builds the
# programs (Release, in build/).
#   usage: tools/bench_analysis.sh [ROUNDS] [SECONDS]   (SECONDS: the vowel's length, default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-11}
seconds=${2:-60}
[ "$rounds" -ge 9 ] || { echo "bench_analysis.sh: at least 9 rounds" >&2; exit 2; }
command -v cmake > /dev/null || bash tools/setup.sh
bash tools/install_packages.sh praat
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVELORIN_BENCH=ON > /dev/null
cmake --build build -j"$(nproc)" --target velorin-frq velorin-demo note_timer > /dev/null
frq=$(realpath build/tools/velorin-frq)
praat=$(command -v praat)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/tools/velorin-demo voice "$work/vowel.wav" 220 "$seconds" > /dev/null
cat > "$work/pitch.praat" <<'EOF'
form Pitch of a sound file
    sentence file
endform
sound = Read from file: file$
pitch = To Pitch (ac): 256 / 44100, 57.4, 15, "no", 0.03, 0.45, 0.01, 0.35, 0.14, 900
EOF
cat > "$work/read.praat" <<'EOF'
form Reading a sound file
    sentence file
endform
sound = Read from file: file$
EOF
# Praat must run the job: its pitch object's frame count, once, as a check.
{ cat "$work/pitch.praat"; echo 'frames = Get number of frames'; echo 'writeInfoLine: frames'; } \
    > "$work/check.praat"
echo "$("$praat" --version 2>/dev/null | head -1): $("$praat" --run "$work/check.praat" "$work/vowel.wav") frames;" \
     "velorin: $("$frq" info "$work/vowel.wav" 2>/dev/null | sed -n 's/^ *frames *\([0-9]*\),.*/\1/p') frames"

echo "Pitch analysis of a ${seconds}-second vowel (44.1 kHz, 16 bits), $(nproc) processors," \
     "median of $rounds runs, alternating:"
"build/bench/note_timer" "$rounds" "Praat To Pitch (ac)" -- \
    "velorin-frq, 1 thread" "$frq" analyse --force -j 1 -t 1 "$work/vowel.wav" :: \
    "velorin-frq, default threads" "$frq" analyse --force -j 1 "$work/vowel.wav" :: \
    "Praat To Pitch (ac)" "$praat" --run "$work/pitch.praat" "$work/vowel.wav" :: \
    "Praat reading the file" "$praat" --run "$work/read.praat" "$work/vowel.wav" | tee "$work/times.txt"
awk -v s="$seconds" '
    index($0, "velorin-frq, 1 thread") == 1 {v1 = $(NF-3)}
    index($0, "velorin-frq, default") == 1 {vd = $(NF-3)}
    index($0, "Praat To Pitch") == 1 {p = $(NF-3)}
    index($0, "Praat reading") == 1 {r = $(NF-3)}
    END {
        pa = p - r
        printf "CPU ms per second of audio: velorin 1 thread %.2f, default threads %.2f; Praat %.2f (%.1f less %.1f for the read)\n",
               v1 / s, vd / s, pa / s, p, r
        printf "velorin / Praat (CPU): %.2f with 1 thread, %.2f with the default threads\n", v1 / pa, vd / pa
    }' "$work/times.txt"
