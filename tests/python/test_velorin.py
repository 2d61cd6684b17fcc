"""The Python module against the program: the same notes, lists and texts.

Run by ctest (python_tests) with PYTHONPATH at the built module and VELORIN_BIN_DIR at
the build, or by CI against the module installed into a virtual environment.
"""
import concurrent.futures
import os
import subprocess
import wave

import numpy as np
import pytest

import velorin

BIN = os.environ.get("VELORIN_BIN_DIR", "")


def tone(rate=44100, seconds=1.0, f0=196.0):
    t = np.arange(int(rate * seconds)) / rate
    x = sum(np.sin(2 * np.pi * f0 * h * t) / h for h in range(1, 9))
    return (6000 * x).astype(np.int16)


@pytest.fixture()
def voice(tmp_path):
    path = tmp_path / "voice.wav"
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(44100)
        w.writeframes(tone(seconds=1.2).tobytes())
    return path


def program_note(tmp_path, voice, args):
    out = tmp_path / "note.wav"
    subprocess.run([os.path.join(BIN, "velorin"), str(voice), str(out), *args], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with wave.open(str(out)) as w:
        return np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")


@pytest.mark.parametrize("args,keywords", [
    (["A3", "100", "", "40", "500", "60", "0", "100", "0"],
     dict(pitch="A3", length_ms=500, offset_ms=40, consonant_ms=60)),
    (["C4", "120/80", "g-20B70", "0", "400", "50/30", "-700", "80", "50", "!150",
      velorin.pitch.encode([0, 40, 80, 40])],
     dict(pitch="C4", velocity=120, tail_velocity=80, flags="g-20B70", length_ms=400,
          consonant_ms=50, tail_ms=30, cutoff_ms=-700, volume=80, modulation=50, tempo=150,
          bend=[0, 40, 80, 40])),
])
def test_notes_equal_the_programs_files(tmp_path, voice, args, keywords):
    if not os.path.exists(os.path.join(BIN, "velorin")):
        pytest.skip("no velorin program beside the module (VELORIN_BIN_DIR)")
    expected = program_note(tmp_path, voice, args)
    sample = velorin.Sample(str(voice))
    assert np.array_equal(sample.render(**keywords), expected)
    assert np.array_equal(sample.render_args([str(voice), "out.wav", *args]), expected)


def test_arrays_lists_and_threads(voice):
    from_file = velorin.Sample(str(voice))
    from_array = velorin.Sample.from_array(tone(seconds=1.2), 44100)
    listed = velorin.analyse(str(voice), threads=1)
    assert np.array_equal(from_file.frequency_list().hz, listed.hz)
    assert np.array_equal(from_array.frequency_list().hz, listed.hz)
    assert np.array_equal(velorin.read_list(str(voice)).hz, listed.hz)

    given = velorin.Sample.from_array(tone(seconds=1.2), 44100, list="caller")
    assert given.frequency_list() is None
    given.set_frequency_list(listed)

    notes = [dict(pitch=200 + 10 * k, length_ms=300, flags="B%d" % (10 * k)) for k in range(12)]
    alone = [from_array.render(**n) for n in notes]
    assert np.array_equal(given.render(**notes[0]), alone[0])
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        together = list(pool.map(lambda n: from_array.render(**n), notes))
    assert all(np.array_equal(a, b) for a, b in zip(alone, together))


def test_errors_and_pitch_texts(tmp_path, voice):
    with pytest.raises(velorin.Error, match="cannot load .*missing.wav") as e:
        velorin.Sample(str(tmp_path / "missing.wav"))
    assert e.value.code == 2
    with pytest.raises(velorin.Error, match="too short"):
        velorin.Sample(str(voice)).render(length_ms=1)
    with pytest.raises(TypeError):
        velorin.Sample.from_array(np.zeros(10, dtype=np.int64), 44100)
    points = [0, 5, 12, 30, -20, -150, 0, 0, 7]
    for form in ("plain", "enc", "cmp", "hff"):
        assert velorin.pitch.decode(velorin.pitch.encode(points, form, 2), form, 2) == points
    assert velorin.pitch.form_of("!120*hff2") == ("hff", 2)
