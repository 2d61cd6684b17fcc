// driver/note_size.cpp: the largest note a run takes on.
#include "driver/note_size.h"

#include "audio/wav.h"
#include "driver/schedule.h"
#include "platform/console.h"

namespace velorin {

int64_t note_memory(int64_t outlen, int64_t sample_frames, int channels) {
    const int64_t d = sizeof(double);
    const int64_t sample = (sample_frames + 2048) * channels * d;
    // The analysis holds the stored samples (at most 8 bytes a value) with
    // 4096 appended frames, and two double arrays of the first channel.
    const int64_t analysis = (sample_frames + 4096) * (channels * d + 2 * d);
    // datbuf, outbuf and the second pass's noise stream (a double per output
    // sample each), the first pass's units (one per 64 output samples),
    // genposs, and the phase table (a frame step of at least 64 samples).
    const int64_t noise = (outlen / second_pass_hop + 2) * second_pass_hop + 1024;
    const int64_t units = (outlen + first_pass_hop - 1) / first_pass_hop;
    const int64_t render = (2 * outlen + noise) * d + units * int64_t(sizeof(FirstPassUnit)) +
                           (outlen / 256 + 8) * d + (sample_frames / 64 + 1) * d;
    return sample + (analysis > render ? analysis : render);
}

bool note_size_ok(int64_t outlen, int64_t sample_frames, int channels, int64_t physical) {
    if (outlen * 2 > max_wav_data) {
        sayf(stderr, "Note too long: %ld samples do not fit a WAV file.\n",
             static_cast<long>(outlen));
        return false;
    }
    const int64_t need = note_memory(outlen, sample_frames, channels);
    // Memory the system grants but does not have is no proof that the note
    // fits: pages are given on first touch, and then it swaps or is killed.
    if (physical > 0 && need > physical) {
        sayf(stderr, "Note too long: it needs %lld MiB of memory, the machine has %lld MiB.\n",
             static_cast<long long>(need >> 20), static_cast<long long>(physical >> 20));
        return false;
    }
    return true;
}

}  // namespace velorin
