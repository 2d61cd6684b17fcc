#!/usr/bin/env bash
# Sets up, builds, makes a demo voice sample, analyses it with velorin-frq, writes a
# report page and sings a short phrase from it, the notes joined as a host joins them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build -j"$(nproc)" --target velorin velorin-demo velorin-pitch velorin-frq > /dev/null

demo=out/demo
bank=$demo/voicebank
mkdir -p "$bank"
rm -f "$bank"/*.frq "$demo"/note*.wav
build/tools/velorin-demo voice "$bank/voice.wav" 220 1.5
build/tools/velorin-frq analyse "$bank" > /dev/null 2>&1
build/tools/velorin-frq report "$bank" -o "$demo/report.html" > /dev/null

now() { date +%s.%N; }
started=$(now)
# A scoop up into every note: -120 cents rising to the pitch over 10 points,
# then a little vibrato at the end of the longer notes.
scoop=$(build/tools/velorin-pitch encode plain 0 -120 -100 -80 -60 -45 -30 -18 -8 -2 0)
vib=$(build/tools/velorin-pitch encode plain 0 -60 -40 -20 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 \
      0 0 0 0 0 5 10 14 10 5 0 -5 -10 -14 -10 -5 0 5 10 14 10 5 0 -5 -10 -14 -10 -5 0)
i=0
rm -f "$demo/velorin.log"
render() {  # pitch, length ms, flags, bend; flag n keeps velorin's console report quiet,
            # its worker lines on standard error go to the log
    i=$((i + 1))
    build/velorin "$bank/voice.wav" "$demo/note$i.wav" "$1" 100 "n$3" 100 "$2" 80 100 100 0 !120 "$4" \
        2>> "$demo/velorin.log"
}
render C4 400 "" "$scoop"
render D4 400 "B40" "$scoop"
render E4 400 "" "$scoop"
render G4 800 "B30" "$vib"
render E4 400 "g10" "$scoop"
render C4 900 "B60" "$vib"
# Each note overlaps the one before by 30 ms under an equal-power crossfade, as a host
# joins notes; the last 5 ms of every note, where velorin's output ends in a burst of
# broadband noise, are left out. The join prints the click check (energy above 8 kHz
# around each join against the notes' steady parts) and fails when a join clicks.
build/tools/velorin-demo join --overlap 30 --trim 5 "$demo/phrase.wav" \
    $(for k in $(seq 1 $i); do echo "$demo/note$k.wav"; done) > "$demo/joins.txt" || {
    cat "$demo/joins.txt"
    echo "the phrase clicks at a join"
    exit 1
}
elapsed=$(awk -v a="$(now)" -v b="$started" 'BEGIN { printf "%.2f", a - b }')

echo
echo "Demo voice sample:      $bank/voice.wav"
echo "Its frequency list:     $bank/voice_wav.frq"
echo "Report page:            $demo/report.html"
echo "Rendered notes:         $demo/note1.wav .. $demo/note$i.wav"
echo "The phrase, all notes:  $demo/phrase.wav"
echo "Click check at joins:   $demo/joins.txt (no join above the 3 dB limit)"
echo "The phrase took $elapsed s to render ($i notes, joins included)."
