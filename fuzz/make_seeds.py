#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: make_seeds.py OUTDIR [VELORIN_PITCH].

Each target gets OUTDIR/<name>/ with a few small valid inputs and near
misses. With the path of a velorin-pitch program the pitch seeds also hold
strings of every compressed form."""
import math
import os
import struct
import subprocess
import sys


def riff(chunks, form=b"WAVE"):
    body = b"".join(cid + struct.pack("<I", len(data)) + data for cid, data in chunks)
    return b"RIFF" + struct.pack("<I", 4 + len(body)) + form + body


def fmt_chunk(tag, channels, rate, bits, align=None):
    align = align or max(1, channels * bits // 8)
    return struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits)


def tone(n, bits, channels, tag=1):
    out = b""
    for i in range(n):
        x = math.sin(i * 0.3) * 0.8
        for _ in range(channels):
            if tag == 3 and bits == 32:
                out += struct.pack("<f", x)
            elif bits == 64:
                out += struct.pack("<d", x)
            elif bits == 8:
                out += bytes([int(128 + x * 120)])
            elif bits == 16:
                out += struct.pack("<h", int(x * 30000))
            elif bits == 24:
                out += struct.pack("<i", int(x * 8000000))[:3]
            else:
                out += struct.pack("<i", int(x * 2e9))
    return out


def wav_seeds():
    seeds = {}
    for bits, tag in [(8, 1), (16, 1), (24, 1), (32, 1), (32, 3), (64, 3)]:
        for ch in (1, 2):
            seeds["pcm%d_%d_%d" % (bits, tag, ch)] = riff(
                [(b"fmt ", fmt_chunk(tag, ch, 8000, bits)), (b"data", tone(24, bits, ch, tag))])
    seeds["list_first"] = riff([(b"LIST", b"INFOabcd"), (b"fmt ", fmt_chunk(1, 1, 22050, 16)),
                                (b"data", tone(16, 16, 1))])
    seeds["fmt18"] = riff([(b"fmt ", fmt_chunk(1, 1, 44100, 16) + b"\0\0"),
                           (b"data", tone(16, 16, 1))])
    short = riff([(b"fmt ", fmt_chunk(1, 1, 8000, 16)), (b"data", tone(8, 16, 1))])
    seeds["short_claim"] = short[:-4] + b""  # the data chunk holds less than it claims
    unknown = riff([(b"fmt ", fmt_chunk(1, 1, 8000, 16)), (b"data", tone(8, 16, 1))])
    seeds["open_size"] = unknown[:40] + struct.pack("<I", 0xFFFFFFFF) + unknown[44:]
    seeds["wide_align"] = riff([(b"fmt ", fmt_chunk(1, 2, 8000, 12, align=6)),
                                (b"data", bytes(range(36)))])
    return seeds


def aiff_seeds():
    def ext80(rate):
        e = 16383 + int(math.floor(math.log2(rate)))
        m = int(rate * 2 ** (63 - (e - 16383)))
        return struct.pack(">HQ", e, m)

    def aiff(chunks):
        body = b"".join(cid + struct.pack(">I", len(d)) + d + (b"\0" if len(d) % 2 else b"")
                        for cid, d in chunks)
        return b"FORM" + struct.pack(">I", 4 + len(body)) + b"AIFF" + body

    frames = b"".join(struct.pack(">h", int(math.sin(i * 0.3) * 30000)) for i in range(32))
    seeds = {}
    for ch in (1, 2):
        comm = struct.pack(">hIh", ch, 32 // ch, 16) + ext80(44100)
        seeds["aiff16_%d" % ch] = aiff([(b"COMM", comm), (b"SSND", struct.pack(">II", 0, 0) + frames)])
    comm = struct.pack(">hIh", 1, 32, 8) + ext80(8000)
    seeds["aiff8"] = aiff([(b"COMM", comm), (b"SSND", struct.pack(">II", 0, 0) + frames[:32])])
    comm = struct.pack(">hIh", 1, 999, 16) + ext80(22050)
    seeds["odd_chunk"] = aiff([(b"NAME", b"abc"), (b"COMM", comm),
                               (b"SSND", struct.pack(">II", 4, 0) + frames)])
    return seeds


def freq_list_seeds():
    def frq(step, rate, freqs):
        head = b"FREQ0003" + struct.pack("<id", step, 200.0) + struct.pack("<i", rate) + bytes(12)
        head += struct.pack("<i", len(freqs))
        return head + b"".join(struct.pack("<dd", f, 1000.0) for f in freqs)

    return {"three": frq(256, 44100, [220.0, 0.0, 221.5]),
            "one": frq(64, 8000, [100.0]),
            "short_table": frq(128, 22050, [1.0, 2.0, 3.0])[:-8]}


def frq_tool_seeds():
    """Sung lists with octave jumps of one to nine frames, for info, fix and the picture."""
    def frq(step, rate, freqs):
        head = b"FREQ0003" + struct.pack("<id", step, 220.0) + struct.pack("<i", rate) + bytes(12)
        head += struct.pack("<i", len(freqs))
        return head + b"".join(struct.pack("<dd", f, 900.0) for f in freqs)

    sung = [0.0] * 4 + [220.0 * 2 ** (0.3 * math.sin(k * 0.2) / 12) for k in range(60)] + [0.0] * 4
    jumps = list(sung)
    for k in (10, 30, 31, 32, 50):
        jumps[k] *= 2.0 if k != 50 else 0.5
    return {"sung": frq(256, 44100, sung), "jumps": frq(256, 44100, jumps),
            "low_rate": frq(64, 8000, jumps[:40]), **freq_list_seeds()}


def reader_seeds():
    """Widths 1 and 1.5, a few positions, a short buffer of a sine."""
    buf = b"".join(struct.pack("<d", 9000 * math.sin(i * 0.37)) for i in range(64))
    out = {}
    for name, width, ch in (("one", 1.0, 0), ("wide", 1.5, 1)):
        xs = [2.5, 10.0, 10.25, 31.75, 60.5, -1.0]
        out[name] = (struct.pack("<dBB", width, ch, len(xs)) +
                     b"".join(struct.pack("<d", x) for x in xs) + buf)
    return out


def pitch_strings(tool):
    points = [0, 5, 12, 30, 42, 40, 31, -7, -60, -61, -61, -30, 0, 0, 0, 2048, -2048, 100]
    out = {"plain": ("!120", "AAABACAD#5#/w/w//AA")}
    if not tool:
        return out
    for form in ("enc", "cmp", "hff"):
        for order in (0, 1, 2, 3):
            r = subprocess.run([tool, "encode", form, str(order)] + [str(p) for p in points],
                               capture_output=True, text=True)
            if r.returncode == 0 and r.stdout.strip():
                out["%s%d" % (form, order)] = ("!120*%s%d" % (form, order), r.stdout.strip())
    return out


def render_seeds():
    wav = riff([(b"fmt ", fmt_chunk(1, 1, 8000, 16)),
                (b"data", b"".join(struct.pack("<h", int(math.sin(i * 0.2) * 12000 *
                                                        (1 + math.sin(i * 0.05))))
                                   for i in range(1600)))])
    args = [["A4", "100", "", "0", "100", "20", "0", "100", "0"],
            ["C3", "150", "g-20B80", "10", "60", "10", "-100", "80", "50", "!120", "AAAB#3#"],
            ["A#5", "50", "Rt10N", "0", "40", "0", "0", "100", "0"],
            ["E4", "100", "B0NP0S1", "5", "80", "5", "30", "120", "100", "!100*cmp1", "AB"]]
    return {"note%d" % i: "\n".join(a).encode() + b"\0" + wav for i, a in enumerate(args)}


def main():
    if len(sys.argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    root = sys.argv[1]
    tool = sys.argv[2] if len(sys.argv) > 2 else None
    wavs = wav_seeds()
    decoder = {k: v[:44] + v[44:] for k, v in wavs.items() if v[12:16] == b"fmt " and v[16] == 16}
    pitch = pitch_strings(tool)
    corpora = {
        "wav_samples": wavs,
        "wav_raw": wavs,
        "decoder_stream": decoder,
        "aiff": aiff_seeds(),
        "freq_list": freq_list_seeds(),
        "pitch": {k: (t + "\n" + s).encode() for k, (t, s) in pitch.items()},
        "codecs": {"%s_%d" % (k, o): bytes([o + 1]) + s.encode()
                   for k, (t, s) in pitch.items() for o in (0, 1, 3)},
        "params": {"full": "\n".join(["in.wav", "out.wav", "A4", "100", "g-5B40Y20Mt5",
                                      "0", "500", "30", "-200", "100", "50", "!120",
                                      "AAAB#3#"]).encode(),
                   "banner": b"", "two": b"in.wav\nout.wav"},
        "render": render_seeds(),
        "render_reader": reader_seeds(),
        "frq_info": frq_tool_seeds(),
        "frq_fix": frq_tool_seeds(),
        "frq_picture": frq_tool_seeds(),
    }
    for name, seeds in corpora.items():
        os.makedirs(os.path.join(root, name), exist_ok=True)
        for key, data in seeds.items():
            with open(os.path.join(root, name, key), "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
