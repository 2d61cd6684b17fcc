#!/usr/bin/env bash
# tools/check_outputs.sh BUILD_DIR: renders a fixed set of notes and analyses a
# fixed set of samples with the programs of an existing build, then prints the
# sha256 of every output file and one sum over all of them. Two builds give the
# same last line exactly when every output is byte-identical, so a refactoring
# is checked by running this before and after it.
#
# Builds nothing: BUILD_DIR must hold velorin, tools/velorin-demo and
# tools/velorin-pitch. Needs python3 (the sample formats are derived from the
# demo voice by integer arithmetic) and sha256sum. Exit 0 success, 1 failure,
# 2 bad usage.
set -euo pipefail

usage="usage: tools/check_outputs.sh BUILD_DIR"
if [ $# -eq 1 ] && { [ "$1" = --help ] || [ "$1" = -h ]; }; then
    echo "$usage"
    exit 0
fi
if [ $# -ne 1 ]; then
    echo "$usage" >&2
    exit 2
fi
build=$(cd "$1" 2> /dev/null && pwd) || { echo "check_outputs: no build folder $1" >&2; exit 1; }
velorin=$build/velorin
demo=$build/tools/velorin-demo
pitch=$build/tools/velorin-pitch
for p in "$velorin" "$demo" "$pitch"; do
    [ -x "$p" ] || { echo "check_outputs: $p is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The base voice: a sung vowel at 220 Hz, 44.1 kHz 16-bit mono, 1.2 s.
"$demo" voice base.wav 220 1.2 > /dev/null

# The same voice in every stored format the readers know, and at other rates
# (the same samples under another declared rate: the analysis sees another
# pitch). Integer arithmetic only, so the files do not depend on a libm.
python3 - base.wav << 'EOF'
import struct, sys

raw = open(sys.argv[1], 'rb').read()
pos, fmt, data = 12, None, None
while pos + 8 <= len(raw):
    cid, size = raw[pos:pos + 4], struct.unpack('<I', raw[pos + 4:pos + 8])[0]
    if cid == b'fmt ': fmt = raw[pos + 8:pos + 8 + size]
    if cid == b'data': data = raw[pos + 8:pos + 8 + size]
    pos += 8 + size + (size & 1)
tag, ch, rate, _, _, bits = struct.unpack('<HHIIHH', fmt[:16])
assert (tag, ch, bits) == (1, 1, 16)
s = list(struct.unpack('<%dh' % (len(data) // 2), data))

def wav(name, rate, bits, tag, channels, body):
    block = channels * bits // 8
    head = b'RIFF' + struct.pack('<I', 36 + len(body)) + b'WAVE'
    head += b'fmt ' + struct.pack('<IHHIIHH', 16, tag, channels, rate, rate * block, block, bits)
    head += b'data' + struct.pack('<I', len(body))
    open(name, 'wb').write(head + body + (b'\0' if len(body) & 1 else b''))

wav('pcm8.wav', rate, 8, 1, 1, bytes((v >> 8) + 128 for v in s))
wav('pcm24.wav', rate, 24, 1, 1, b''.join(struct.pack('<i', (v << 8) | ((v * 37) & 0xFF))[:3] for v in s))
wav('pcm32.wav', rate, 32, 1, 1, b''.join(struct.pack('<i', (v << 16) | ((v * 1231) & 0xFFFF)) for v in s))
wav('float32.wav', rate, 32, 3, 1, b''.join(struct.pack('<f', v / 32768.0) for v in s))
wav('float64.wav', rate, 64, 3, 1, b''.join(struct.pack('<d', (v + 0.25) / 32768.0) for v in s))
wav('stereo16.wav', rate, 16, 1, 2, b''.join(struct.pack('<hh', v, -(v >> 1)) for v in s))
wav('rate22050.wav', 22050, 16, 1, 1, struct.pack('<%dh' % len(s), *s))
wav('rate48000.wav', 48000, 16, 1, 1, struct.pack('<%dh' % len(s), *s))
wav('rate96000.wav', 96000, 24, 1, 1, b''.join(struct.pack('<i', v << 8)[:3] for v in s))
EOF
cp base.wav voice.wav
cp base.wav decoded.flac

# A stand-in decoder for the decoder pipe: it hands the file over unchanged.
printf '#!/bin/sh\n[ "$1 $2" = "--decode --stdout" ] || exit 2\nexec cat "$3"\n' > decoder.sh
chmod +x decoder.sh

bend='+I+c+w/E/T/i/u/4/+AA#3#AFAKAOAKAFAA/7/2/y/2/7AAAFAKAOAK'
hff='5Ckn7r66g96NKxBILfzjVTNHUXAz2CLD'
note() { # input, output, then velorin's arguments 3 and on
    local in=$1 out=$2
    shift 2
    "$velorin" "$in" "$out" "$@" > /dev/null 2>&1 || {
        echo "check_outputs: velorin $in $out $* failed" >&2
        exit 1
    }
    [ -s "$out" ] || { echo "check_outputs: velorin wrote no $out" >&2; exit 1; }
}

# Analyses: every format and rate, each with the note that triggered it.
for f in pcm8 pcm24 pcm32 float32 float64 stereo16 rate22050 rate48000 rate96000 voice; do
    note $f.wav an_$f.wav A3 100 "" 20 500 40 0 100 0 '!120' 'AA#10#'
done
flacpath=$work/decoder.sh note decoded.flac an_decoded.wav A3 100 "G" 20 500 40 0 100 0

# Renders with the list of voice.wav: one setting each.
note voice.wav n_default.wav A4 100 "" 0 500
note voice.wav n_plain.wav A4 100 "" 0 600 0 0 100 0
note voice.wav n_b0.wav C4 100 "B0" 50 700 60 0 100 0
note voice.wav n_b100.wav C4 100 "B100" 50 700 60 0 100 0
note voice.wav n_b0n.wav C4 100 "B0N" 50 700 60 0 100 0
note voice.wav n_n.wav C4 100 "N" 50 700 60 0 100 0
note voice.wav n_gup.wav E4 100 "g20" 50 700 60 0 100 0
note voice.wav n_gdown.wav E3 100 "g-20a150" 50 700 60 0 100 0
note voice.wav n_r.wav G3 150 "R" 30 900 40 -300 120 0
note voice.wav n_bend.wav C4 120 "g-10B70" 50 800 60 0 90 20 '!120' "$bend"
note voice.wav n_hff.wav E4 100 "t20" 0 600 40 0 100 0 '!140*hff2' "$hff"
note voice.wav n_s1.wav C4 120 "g-10B70S1" 50 800 60 0 90 20 '!120' "$bend"
note voice.wav n_s7.wav D4 80/140 "S7P0i2000" 10 1200 50 0 100 50 '!90' "$bend"
note voice.wav n_long.wav A2 100 "B30P100" 0 3000 100/50 0 150 100 '!100' 'AA#100#'
note voice.wav n_hz.wav 523.25 60 "v140" 0 400 0 0 80 0
for f in pcm8 pcm24 pcm32 float32 float64 stereo16 rate22050 rate48000 rate96000; do
    note $f.wav r_$f.wav D4 100 "B40" 30 700 50 0 100 10 '!120' "$bend"
done
"$velorin" voice.wav - F4 100 "" 0 500 0 0 100 0 > n_stdout.wav 2> /dev/null

# The pitch-bend tool.
{
    "$pitch" decode '!120' "$bend"
    "$pitch" decode '!140*hff2' "$hff"
    for form in plain enc cmp hff; do
        for order in 0 1 2; do
            echo 0 12 30 55 31 -40 -200 7 7 7 1800 -1800 3 | "$pitch" encode $form $order || true
        done
    done
} > pitch.txt 2>&1

sha256sum -- *.wav *.frq pitch.txt | LC_ALL=C sort -k 2
echo "all $(sha256sum -- *.wav *.frq pitch.txt | LC_ALL=C sort -k 2 | sha256sum | cut -c1-64)"
