#!/usr/bin/env bash
# Makes a test voicebank of generated samples in FOLDER (default out/voicebank):
# sung vowels of several pitches and lengths, some whose pitch jumps an octave for
# 30 ms, a few silent and a few noisy ones; some names hold spaces and non-ASCII
# letters, some lie in subfolders.
#   bash tools/make_voicebank.sh [FOLDER] [COUNT]   (COUNT default 200)
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-out/voicebank}
count=${2:-200}
demo=${VELORIN_DEMO:-build/tools/velorin-demo}
[ -x "$demo" ] || { echo "make_voicebank: $demo not built (cmake --build build --target velorin-demo)" >&2; exit 1; }
mkdir -p "$folder/vowels" "$folder/low notes" "$folder/stimmen ä"
pitches=(98 110 131 147 165 196 220 247 262 294 330 392 440 523)
lengths=(0.4 0.6 0.8 1.0 1.3 1.7 2.2)
for ((i = 0; i < count; i++)); do
    n=$(printf '%03d' "$i")
    f0=${pitches[$((i % ${#pitches[@]}))]}
    len=${lengths[$((i * 3 % ${#lengths[@]}))]}
    case $((i % 25)) in
    7) "$demo" silence "$folder/silent $n.wav" "$len" ;;
    13) "$demo" noise "$folder/noise_$n.wav" "$len" ;;
    19) "$demo" jump "$folder/stimmen ä/sprung $n.wav" "$f0" "$len" ;;
    *)
        sub=vowels
        [ "$f0" -lt 140 ] && sub="low notes"
        "$demo" voice "$folder/$sub/a_${f0}_$n.wav" "$f0" "$len"
        ;;
    esac
done
echo "$count samples in $folder"
