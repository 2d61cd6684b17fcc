// tests/driver/note_size_test.cpp: the largest note a run takes on.
#include "driver/note_size.h"

#include <gtest/gtest.h>

using namespace velorin;

TEST(NoteSize, MemoryGrowsLinearlyWithNoteAndSample) {
    const int64_t base = note_memory(1000000, 44100, 1);
    EXPECT_EQ(note_memory(2000000, 44100, 1) - base,
              note_memory(3000000, 44100, 1) - note_memory(2000000, 44100, 1));
    // Three doubles per output sample (datbuf, outbuf, the noise) and a
    // first-pass unit per 64 samples dominate a long note.
    EXPECT_NEAR(double(note_memory(441000000, 44100, 1)) / 441000000, 24.0 + 40.0 / 64, 0.1);
    EXPECT_LT(note_memory(256, 60 * 44100, 2), note_memory(256, 120 * 44100, 2));
}

TEST(NoteSize, RefusedBeyondWavSizeOrPhysicalMemory) {
    const int64_t gib = int64_t(1) << 30;
    struct Case {
        int64_t outlen, frames;
        int channels;
        int64_t physical;
        bool ok;
    } cases[] = {
        {44100, 44100, 1, 8 * gib, true},
        {2147483629, 44100, 1, 0, true},  // the longest 16-bit note a WAV file holds
        {2147483630, 44100, 1, 0, false},
        {100000000, 44100, 1, 2 * gib, false},  // 2.5 GB of buffers on a 2 GiB machine
        {100000000, 44100, 1, 3 * gib, true},
        {44100, 200000000, 2, 4 * gib, false},  // the sample alone is too large
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(note_size_ok(c.outlen, c.frames, c.channels, c.physical), c.ok) << c.outlen;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.empty(), c.ok) << err;
        if (!c.ok) {
            EXPECT_EQ(err.rfind("Note too long: ", 0), 0u) << err;
        }
    }
}
