#!/usr/bin/env bash
# Sets up, builds, makes a demo voice sample and sings a short phrase from it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build -j"$(nproc)" --target velorin velorin-demo velorin-pitch > /dev/null

demo=out/demo
mkdir -p "$demo"
rm -f "$demo"/voice_wav.frq "$demo"/note*.wav
build/tools/velorin-demo voice "$demo/voice.wav" 220 1.5

# A scoop up into every note: -120 cents rising to the pitch over 10 points,
# then a little vibrato at the end of the longer notes.
scoop=$(build/tools/velorin-pitch encode plain 0 -120 -100 -80 -60 -45 -30 -18 -8 -2 0)
vib=$(build/tools/velorin-pitch encode plain 0 -60 -40 -20 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 \
      0 0 0 0 0 5 10 14 10 5 0 -5 -10 -14 -10 -5 0 5 10 14 10 5 0 -5 -10 -14 -10 -5 0)
i=0
render() {  # pitch, length ms, flags, bend
    i=$((i + 1))
    build/velorin "$demo/voice.wav" "$demo/note$i.wav" "$1" 100 "$3" 100 "$2" 80 100 100 0 !120 "$4"
}
render C4 400 "" "$scoop"
render D4 400 "B40" "$scoop"
render E4 400 "" "$scoop"
render G4 800 "B30" "$vib"
render E4 400 "g10" "$scoop"
render C4 900 "B60" "$vib"
build/tools/velorin-demo join "$demo/phrase.wav" $(for k in $(seq 1 $i); do echo "$demo/note$k.wav"; done)

echo
echo "Demo voice sample:      $demo/voice.wav"
echo "Its frequency list:     $demo/voice_wav.frq"
echo "Rendered notes:         $demo/note1.wav .. $demo/note$i.wav"
echo "The phrase, all notes:  $demo/phrase.wav"
