// tests/audio/byte_source_test.cpp: the readers on bytes in memory behave as
// on the same bytes in a file, whole or cut short anywhere.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <vector>

#include "audio/aiff.h"
#include "audio/decoder_pipe.h"
#include "audio/wav.h"
#include "platform/mem.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/support.h"

using namespace velorin;
using namespace velorin_test;

namespace {

bool same_format(const WavFormat& a, const WavFormat& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Every prefix of `file` through the three readers, from memory and from a
// file: the same result, bit for bit, and the same messages.
void expect_same_as_file(const std::vector<uint8_t>& file) {
    TempDir dir;
    std::setlocale(LC_ALL, "C.UTF-8");
    for (size_t n = 0; n <= file.size(); ++n) {
        SCOPED_TRACE(n);
        const std::vector<uint8_t> part(file.begin(), file.begin() + n);
        write_bytes(dir.file("in"), part);
        WavFormat f1, f2;
        int64_t s1 = -1, s2 = -1;
        ByteSource src = memory_source(part.data(), part.size());
        testing::internal::CaptureStderr();
        double* a = wav_samples_from(src, 3, &f1, &s1);
        std::string said = testing::internal::GetCapturedStderr();
        testing::internal::CaptureStderr();
        double* b = read_wav_samples(dir.wfile("in").c_str(), 3, &f2, &s2);
        EXPECT_EQ(said, testing::internal::GetCapturedStderr());
        ASSERT_EQ(a == nullptr, b == nullptr);
        if (a) {
            EXPECT_TRUE(same_format(f1, f2));
            ASSERT_EQ(s1, s2);
            EXPECT_EQ(std::memcmp(a, b, sizeof(double) * size_t((s1 + 3) * f1.channels)), 0);
        }
        // The render's reader, which leaves the samples in the file and
        // judges the sizes by the numbers: the same answer and message.
        StoredSamples st;
        testing::internal::CaptureStderr();
        const bool stored = open_wav_stored(dir.wfile("in").c_str(), &f2, &s2, &st);
        EXPECT_EQ(said, testing::internal::GetCapturedStderr());
        ASSERT_EQ(stored, a != nullptr);
        if (a) {
            EXPECT_TRUE(same_format(f1, f2));
            ASSERT_EQ(s1, s2);
            std::vector<double> c(size_t((s2 + 3) * f2.channels), 0.0);
            convert_stored_frames(st, f2, s2, 0, s2, c.data());
            EXPECT_EQ(std::memcmp(a, c.data(), sizeof(double) * c.size()), 0);
        }
        release_stored(&st);
        release(a);
        release(b);

        src = memory_source(part.data(), part.size());
        testing::internal::CaptureStderr();
        uint8_t* r1 = wav_raw_from(src, 3, &f1, &s1);
        said = testing::internal::GetCapturedStderr();
        testing::internal::CaptureStderr();
        uint8_t* r2 = read_wav_raw(dir.wfile("in").c_str(), 3, &f2, &s2);
        EXPECT_EQ(said, testing::internal::GetCapturedStderr());
        ASSERT_EQ(r1 == nullptr, r2 == nullptr);
        if (r1) {
            EXPECT_TRUE(same_format(f1, f2));
            ASSERT_EQ(s1, s2);
            EXPECT_EQ(std::memcmp(r1, r2, size_t(s1 + 3 * f1.block_align)), 0);
        }
        release(r1);
        release(r2);

        src = memory_source(part.data(), part.size());
        testing::internal::CaptureStdout();
        r1 = aiff_raw_from(src, 3, &f1, &s1);
        said = testing::internal::GetCapturedStdout();
        testing::internal::CaptureStdout();
        r2 = read_aiff_raw(dir.wfile("in").c_str(), 3, &f2, &s2);
        EXPECT_EQ(said, testing::internal::GetCapturedStdout());
        ASSERT_EQ(r1 == nullptr, r2 == nullptr);
        if (r1) {
            EXPECT_TRUE(same_format(f1, f2));
            ASSERT_EQ(s1, s2);
            EXPECT_EQ(std::memcmp(r1, r2, size_t(s1 + 3 * f1.block_align)), 0);
        }
        release(r1);
        release(r2);
    }
}

}  // namespace

TEST(ReadersFromMemory, MatchTheFileReadersOnEveryPrefix) {
    const std::vector<int16_t> ramp = {-30000, -1, 0, 1, 12345, 32767, -32768, 7, 8};
    expect_same_as_file(wav_bytes_i16(ramp, 1, 44100));
    // A chunk before "fmt ", a longer "fmt ", 24-bit stereo.
    std::vector<uint8_t> pcm24(24);
    for (size_t i = 0; i < pcm24.size(); ++i) pcm24[i] = uint8_t(i * 29 + 3);
    RawChunk fmt{"fmt ", fmt_body(1, 2, 48000, 6, 24, 2)};
    expect_same_as_file(riff_wave({{"LIST", {'a', 'b', 'c'}}, fmt, {"data", pcm24}}));
    // A "data" chunk that claims more than it holds.
    expect_same_as_file(riff_wave({fmt_chunk(1, 1, 8000, 1, 8), {"data", {1, 2, 3}, 4000}}));
    expect_same_as_file(
        aiff_file({{"NAME", {'x'}}, comm_chunk(2, 4, 16, 22050), ssnd_chunk(ramp)}));
}

TEST(DecoderStream, HeaderAndSamplesFromBytes) {
    std::setlocale(LC_ALL, "C.UTF-8");
    std::vector<uint8_t> good = wav_bytes_i16({1, 2, 3}, 1, 44100);
    std::vector<uint8_t> unusable = good;
    unusable[22] = 0;  // no channels
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        int64_t data_size;  // -1: no result
        bool speaks;        // "失敗" on standard output (in the user's code page on Windows)
    } cases[] = {
        {"whole", good, 6, false},
        {"header alone", std::vector<uint8_t>(good.begin(), good.begin() + 44), 0, false},
        {"header cut short", std::vector<uint8_t>(good.begin(), good.begin() + 43), -1, true},
        {"not RIFF", std::vector<uint8_t>(50, 'x'), -1, true},
        {"no channels", unusable, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ByteSource src = memory_source(c.bytes.data(), c.bytes.size());
        WavFormat fmt;
        int64_t size = -7;
        testing::internal::CaptureStdout();
        uint8_t* p = decoder_stream_from(src, 2, &fmt, &size);
        EXPECT_EQ(!testing::internal::GetCapturedStdout().empty(), c.speaks);
        EXPECT_EQ(p != nullptr, c.data_size >= 0);
        EXPECT_EQ(size, c.data_size >= 0 ? c.data_size : 0);
        if (p) {
            EXPECT_EQ(std::memcmp(p, c.bytes.data() + 44, size_t(size)), 0);
            EXPECT_EQ(p[size] | p[size + 1] | p[size + 2] | p[size + 3], 0);  // two zero frames
        }
        release(p);
    }
}
