#!/usr/bin/env python3
"""examples/phrase.py: a short phrase sung from one voice sample, in this process.

    python3 examples/phrase.py VOICE.wav OUT.wav

The sample is opened once; each note is rendered from it (the first four at once on
threads, as a host would), and the notes are joined with short crossfades into one
44.1 kHz 16-bit WAV file.
"""
import concurrent.futures
import sys
import wave

import numpy as np

import velorin

# (note, length in ms, flags)
PHRASE = [("C4", 400, ""), ("D4", 400, "g-5"), ("E4", 400, ""), ("F4", 300, "B60"),
          ("G4", 800, ""), ("E4", 400, "g5"), ("C4", 900, "P70")]
FADE = 441  # 10 ms


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    voice = velorin.Sample(argv[1])
    print("velorin %s: %s, %d Hz, %.2f s, average pitch %.1f Hz"
          % (velorin.__version__, argv[1], voice.rate, voice.frames / voice.rate,
             voice.frequency_list().average_hz))

    def sing(note):
        name, length_ms, flags = note
        # A small bend up into each note: points every 256 samples, in cents.
        bend = [-60, -30, -10, 0]
        return voice.render(name, length_ms=length_ms + 10, consonant_ms=60, flags=flags,
                            modulation=30, bend=bend)

    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        notes = list(pool.map(sing, PHRASE))

    ramp = np.linspace(0.0, 1.0, FADE)
    out = notes[0].astype(np.float64)
    for n in notes[1:]:
        n = n.astype(np.float64)
        out[-FADE:] = out[-FADE:] * ramp[::-1] + n[:FADE] * ramp
        out = np.concatenate([out, n[FADE:]])
    with wave.open(argv[2], "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(44100)
        w.writeframes(np.clip(out, -32768, 32767).astype("<i2").tobytes())
    print("%s: %d notes, %.2f s" % (argv[2], len(notes), len(out) / 44100))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
