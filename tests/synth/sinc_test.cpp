// tests/synth/sinc_test.cpp: the windowed-sinc readers of every sample format.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "synth/kernels.h"
#include "synth/render_reader.h"
#include "tests/support/support.h"
#include "tests/support/synth_fixtures.h"

using namespace velorin;

namespace {

// The reader as written out in full: tap range, series with the divisors,
// taper, weight sum over all taps, accumulation over valid taps only.
double naive_sinc(double x, const std::vector<double>& s, double b, int* taps = nullptr) {
    const double pi = 3.14159265358979;
    const long first = static_cast<long>(std::ceil(x - 2 * b));
    const long last = static_cast<long>(std::floor(x + 2 * b));
    double acc = 0, sum = 0;
    for (long i = first; i <= last; ++i) {
        const double h = (i - x) * (pi / b);
        const double a = h * h;
        const int terms = std::fabs(h) <= pi ? 14 : 20;
        double t = 1, ser = 1;
        for (int n = 1; n < terms; ++n) {
            t = t * (a * (1.0 / ((2.0 * n) * (2.0 * n + 1))));
            ser = (n % 2) ? ser - t : ser + t;
        }
        const double w = std::cos(h * 0.25) * ser;
        sum += w;
        if (i >= 0 && i < static_cast<long>(s.size())) acc += w * s[i];
    }
    if (taps) *taps = static_cast<int>(last - first + 1);
    return acc / sum;
}

std::vector<double> ramp_signal(int n) {
    std::vector<double> s(n);
    for (int i = 0; i < n; ++i) s[i] = std::round(8000.0 * std::sin(i * 0.37) + 300.0 * (i % 7));
    return s;
}

}  // namespace

TEST(SincRead, IntegerPositionWithWidthOneReturnsTheSample) {
    const std::vector<double> s = ramp_signal(64);
    for (int i = 3; i < 60; ++i)
        EXPECT_NEAR(sinc_read_f64(i, s.data(), 1.0, 1, 64), s[i], 1e-9 * std::fabs(s[i]) + 1e-9);
}

TEST(SincRead, MatchesTheSeriesWrittenOutBitForBit) {
    const std::vector<double> s = ramp_signal(200);
    for (double b : {1.0, 1.0884353741496597, 2.0, 3.5}) {
        for (double x = -6.0; x < 206.0; x += 0.731) {
            EXPECT_EQ(sinc_read_f64(x, s.data(), b, 1, 200), naive_sinc(x, s, b))
                << "x=" << x << " b=" << b;
        }
    }
}

TEST(SincRead, IntegerPositionsMatchTheSeriesToo) {
    const std::vector<double> s = ramp_signal(50);
    for (double b : {1.0, 2.0})
        for (int x = -5; x < 55; ++x)
            EXPECT_EQ(sinc_read_f64(x, s.data(), b, 1, 50), naive_sinc(x, s, b)) << x;
}

// An impulse shows whether a tap reaches it: taps run from ceil(x - 2b) to
// floor(x + 2b), so a fractional x has 4 taps at width 1 and 8 at width 2.
TEST(SincRead, TapsSpanTwoWidthsOnEachSide) {
    struct Case {
        double b, x;
        int first, last;
    };
    for (const Case c : {Case{1.0, 10.25, 9, 12}, Case{2.0, 10.25, 7, 14}, Case{1.0, 10.75, 9, 12},
                         Case{1.5, 10.5, 8, 13}}) {
        int taps = 0;
        std::vector<double> s(30, 0.0);
        naive_sinc(c.x, s, c.b, &taps);
        EXPECT_EQ(taps, c.last - c.first + 1);
        for (int i = c.first - 2; i <= c.last + 2; ++i) {
            std::fill(s.begin(), s.end(), 0.0);
            s[i] = 1000.0;
            const double v = sinc_read_f64(c.x, s.data(), c.b, 1, 30);
            const bool reached = i >= c.first && i <= c.last;
            EXPECT_EQ(v != 0.0, reached) << "x=" << c.x << " b=" << c.b << " impulse at " << i;
        }
    }
}

// Before the start and past the end, taps read nothing but keep their weight:
// a constant fades out over two samples (with the kernel's ringing), and
// nothing outside the buffer is touched (the guard values around it would
// show).
TEST(SincRead, ReadsOutsideTheBufferFadeAndTouchNothingBeyondIt) {
    std::vector<double> guarded(40, 1e300);
    double* data = guarded.data() + 10;
    for (int i = 0; i < 20; ++i) data[i] = 1000.0;
    for (double x = -3.0; x <= 23.0; x += 0.125) {
        const double v = sinc_read_f64(x, data, 1.0, 1, 20);
        EXPECT_LT(std::fabs(v), 1200.0) << x;
        if (x < -2.0 || x > 21.0) {
            EXPECT_EQ(v, 0.0) << x;
        }
    }
    const double inside = sinc_read_f64(-0.5, data, 1.0, 1, 20);
    const double further = sinc_read_f64(-1.5, data, 1.0, 1, 20);
    EXPECT_GT(inside, 100.0);
    EXPECT_LT(inside, 900.0);
    EXPECT_LT(std::fabs(further), inside);
    EXPECT_NEAR(sinc_read_f64(19.5, data, 1.0, 1, 20), inside, 1e-9);  // the same fade at the end
}

TEST(SincRead, UnusablePositionsReadZero) {
    const std::vector<double> s = ramp_signal(20);
    const double nan = std::nan("");
    for (double x : {nan, double(INFINITY), -double(INFINITY), 1e300, -1e300, 9.3e18})
        EXPECT_EQ(sinc_read_f64(x, s.data(), 1.0, 1, 20), 0.0) << x;
    EXPECT_EQ(sinc_read_f64(3.0, s.data(), nan, 1, 20), 0.0);
}

// ---------------------------------------------------------------------------
// Every format reads channel 0 of its own data and scales it to the 16-bit
// range: the same as sinc_read_f64 over the decoded samples, then scaled,
// bit for bit.

namespace {

struct Format {
    const char* name;
    int bytes;
    double (*decode)(const uint8_t* p);  // one stored sample
    double scale;                        // result factor
    double offset;                       // then added
    double (*read)(double x, const std::vector<uint8_t>& raw, double b, int ch, int64_t frames);
};

double dec_i16(const uint8_t* p) {
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8));
}
double dec_u8(const uint8_t* p) { return p[0]; }
double dec_i24(const uint8_t* p) {
    int32_t v = p[0] | p[1] << 8 | p[2] << 16;
    if (v >= 0x800000) v -= 0x1000000;
    return v;
}
double dec_f32(const uint8_t* p) {
    float f;
    std::memcpy(&f, p, 4);
    return f;
}

// The raw readers take typed pointers; the vectors' storage is aligned well
// enough for them.
double rd_i16(double x, const std::vector<uint8_t>& raw, double b, int ch, int64_t n) {
    return sinc_read_i16(x, reinterpret_cast<const int16_t*>(raw.data()), b, ch, n);
}
double rd_u8(double x, const std::vector<uint8_t>& raw, double b, int ch, int64_t n) {
    return sinc_read_u8(x, raw.data(), b, ch, n);
}
double rd_i24(double x, const std::vector<uint8_t>& raw, double b, int ch, int64_t n) {
    return sinc_read_i24(x, raw.data(), b, ch, n);
}
double rd_f32(double x, const std::vector<uint8_t>& raw, double b, int ch, int64_t n) {
    return sinc_read_f32(x, reinterpret_cast<const float*>(raw.data()), b, ch, n);
}
double rd_f64(double x, const std::vector<uint8_t>& raw, double b, int ch, int64_t n) {
    return sinc_read_f64(x, reinterpret_cast<const double*>(raw.data()), b, ch, n);
}
double dec_f64(const uint8_t* p) {
    double d;
    std::memcpy(&d, p, 8);
    return d;
}

class SincFormat : public testing::TestWithParam<Format> {};

}  // namespace

TEST_P(SincFormat, ReadsChannelZeroScaledToTheSixteenBitRange) {
    const Format f = GetParam();
    constexpr int frames = 64, channels = 2;
    std::vector<uint8_t> raw(frames * channels * f.bytes + 8);
    // Pseudo-random bytes make every bit pattern (signs, bit 23) appear;
    // channel 1 differs from channel 0 and must not leak in.
    uint32_t st = 12345;
    for (auto& b : raw) {
        st = st * 1103515245u + 12345u;
        b = static_cast<uint8_t>(st >> 16);
    }
    if (f.bytes == 4 || f.bytes == 8) {  // keep the floats finite and in range
        for (int i = 0; i < frames * channels; ++i) {
            const double v = std::sin(i * 0.7) * ((i % channels) ? -0.9 : 0.8);
            if (f.bytes == 4) {
                const float fv = static_cast<float>(v);
                std::memcpy(&raw[i * 4], &fv, 4);
            } else {
                std::memcpy(&raw[i * 8], &v, 8);
            }
        }
    }
    std::vector<double> ch0(frames);
    for (int i = 0; i < frames; ++i) ch0[i] = f.decode(&raw[i * channels * f.bytes]);
    for (double b : {1.0, 1.7}) {
        for (double x = -4.0; x < frames + 4; x += 0.61) {
            const double want = sinc_read_f64(x, ch0.data(), b, 1, frames) * f.scale + f.offset;
            EXPECT_EQ(f.read(x, raw, b, channels, frames), want) << f.name << " x=" << x;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, SincFormat,
                         testing::Values(Format{"f64", 8, dec_f64, 1.0, 0.0, rd_f64},
                                         Format{"i16", 2, dec_i16, 1.0, 0.0, rd_i16},
                                         Format{"u8", 1, dec_u8, 256.0, -32640.0, rd_u8},
                                         Format{"i24", 3, dec_i24, 0.00390625, 0.0, rd_i24},
                                         Format{"f32", 4, dec_f32, 32768.0, 0.0, rd_f32}),
                         [](const testing::TestParamInfo<Format>& i) {
                             return std::string(i.param.name);
                         });

// ---------------------------------------------------------------------------
// The render passes' reader follows the exact one closely everywhere,
// including the faded ends, and shares its tap range.

TEST(SincReadRender, AgreesWithTheExactReader) {
    const std::vector<double> s = velorin_test::make_noise(1000, 0.2, 32767.0, 9);
    const int64_t n = static_cast<int64_t>(s.size());
    for (double b : {1.0, 1.0884353741496597, 2.0, 4.0}) {
        double worst = 0;
        for (double x = -10.0; x < n + 10; x += 0.0137) {
            const double exact = sinc_read_f64(x, s.data(), b, 1, n);
            worst = std::max(worst, std::fabs(sinc_read_render(x, s.data(), b, 1, n) - exact));
        }
        EXPECT_LT(worst, 1e-5) << "b=" << b;  // on the 16-bit scale, full-scale noise
    }
    for (int x = 3; x < 50; ++x) EXPECT_NEAR(sinc_read_render(x, s.data(), 1.0, 1, n), s[x], 1e-6);
    EXPECT_EQ(sinc_read_render(-2.5, s.data(), 1.0, 1, n), 0.0);
    EXPECT_EQ(sinc_read_render(std::nan(""), s.data(), 1.0, 1, n), 0.0);
    // The width's domain, 1 <= width < 1e15, at both ends and for every lane width.
    for (double b : {0.0, -0.0, 1e-307, 0.999, -1.0, 1e15, std::nan("")}) {
        EXPECT_EQ(sinc_read_render(10.25, s.data(), b, 1, n), 0.0) << b;
        for (SimdWidth lanes : velorin_test::every_width()) {
            double out[5] = {1, 1, 1, 1, 1};
            const double x[5] = {10.25, 11.25, 12.5, 13.0, 14.75};
            sinc_read_render_many(lanes, x, 5, s.data(), b, 1, n, out);
            for (double v : out) EXPECT_EQ(v, 0.0) << b;
        }
    }
}

// Reads side by side give the scalar reader's very doubles at every width, in
// the common case and in every case the lanes hand back to it: whole samples,
// the buffer's ends, wider kernels, positions that are not numbers.
TEST(SincReadRender, SideBySideReadsAreTheScalarReadsBitForBit) {
    const int64_t n = 400;
    std::vector<double> s(2 * n);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = 9000 * std::sin(i * 0.37) + 300 * std::cos(i * 2.1);
    std::vector<double> xs = {0.0,   0.5,   1.0,   1.25, 2.0,          3.0,  397.5,
                              398.2, 399.0, 401.0, -1.5, std::nan(""), 1e300};
    for (int k = 0; k < 400; ++k) xs.push_back(3.0 + k * 0.987654321 + (k % 5) * 1e-9);
    for (SimdWidth lanes : velorin_test::every_width())
        for (int channels : {1, 2})
            for (double width : {1.0, 1.0884353741496597, 2.0})
                for (size_t i = 0; i + 4 <= xs.size(); ++i) {
                    const double* x = &xs[i];
                    double four[4];
                    sinc_read_render_many(lanes, x, 4, s.data(), width, channels, n, four);
                    for (int l = 0; l < 4; ++l) {
                        const double want = sinc_read_render(x[l], s.data(), width, channels, n);
                        uint64_t a, b;
                        std::memcpy(&a, &four[l], 8);
                        std::memcpy(&b, &want, 8);
                        ASSERT_EQ(a, b) << x[l] << " " << width << " " << channels << " "
                                        << simd_width_name(lanes);
                    }
                }
}

// ---------------------------------------------------------------------------
// Reads in batches, and the test that picks the positions read side by side.

namespace {

uint64_t bits_of(double v) {
    uint64_t b;
    std::memcpy(&b, &v, 8);
    return b;
}

// Positions just below 2^(e+1) - 1 whose x + 2 rounds up to a whole number:
// the scalar reader's span then has five taps around a position that is not
// a whole sample.
std::vector<double> rounding_up_positions(double below) {
    std::vector<double> xs;
    for (double top = 8; top - 1 < below; top *= 2) {
        const double x = std::nextafter(top - 1, 0.0);
        if (std::floor(x + 2.0) != std::floor(x) + 2) xs.push_back(x);
    }
    return xs;
}

}  // namespace

TEST(SincReadRender, ManyReadsAreTheScalarReadsBitForBit) {
    const int64_t n = 300;
    // The buffer with loud guards on both sides: a tap outside it that got
    // into a sum would show.
    const int guard = 32;
    std::vector<double> buf(2 * n + 2 * guard, 30000.0);
    for (int64_t i = 0; i < 2 * n; ++i)
        buf[guard + i] = 9000 * std::sin(i * 0.37) + 300 * std::cos(i * 2.1);
    const double* s = buf.data() + guard;
    const double inf = std::numeric_limits<double>::infinity();
    // The ends of the buffer, whole samples and positions that are not read.
    std::vector<double> xs = {2.0, 2.5, 3.0, 3.5, 0.0, -0.0, -1.0, inf, -inf, 1e300, 7.0};
    for (double d : {-3.0, -2.0, -2.0 + 1e-9, -1.5, 1.0}) xs.push_back(n + d);
    xs.push_back(std::nextafter(2.0, 3.0));
    xs.push_back(std::nextafter(n - 2.0, 0.0));
    xs.push_back(std::nan(""));
    const std::vector<double> up = rounding_up_positions(static_cast<double>(n - 3));
    ASSERT_GE(up.size(), 3u);
    xs.insert(xs.end(), up.begin(), up.end());
    // Runs of positions a whole number of samples apart share their weights;
    // one lane of a run differs.
    for (int k = 0; k < 24; ++k) xs.push_back(10.3 + k + (k == 13 ? 0.4 : 0.0));
    for (int k = 0; k < 12; ++k) xs.push_back(150.61 - k);
    uint32_t seed = 12345;
    for (int k = 0; k < 300; ++k) {
        seed = seed * 1664525u + 1013904223u;
        xs.push_back(-4.0 + (n + 8.0) * (seed >> 8) / 16777216.0);
    }
    for (int channels : {1, 2}) {
        for (double width : {1.0, 1.0884353741496597, 1.5, 2.1768707482993195}) {
            std::vector<double> want(xs.size());
            for (size_t i = 0; i < xs.size(); ++i)
                want[i] = sinc_read_render(xs[i], s, width, channels, n);
            // Every length and start at every width, so each edge position
            // meets every lane and the tails.
            for (SimdWidth lanes : velorin_test::every_width())
                for (int len : {1, 2, 3, 4, 5, 6, 7, 8, 9, 64})
                    for (size_t start = 0; start + len <= xs.size(); ++start) {
                        std::vector<double> got(len);
                        sinc_read_render_many(lanes, &xs[start], len, s, width, channels, n,
                                              got.data());
                        for (int l = 0; l < len; ++l)
                            ASSERT_EQ(bits_of(got[l]), bits_of(want[start + l]))
                                << xs[start + l] << " width " << width << " channels " << channels
                                << " len " << len << " " << simd_width_name(lanes);
                    }
        }
    }
}

// The lane test takes exactly the positions the scalar reader reads with four
// taps from the same first tap, up to x + 2 < 2^31, whatever the buffer's
// size: the integer conversions must not break near 2^31 or beyond.
TEST(SincReadRender, LaneTestTakesTheScalarFourTapSpansBelowTwoToThe31) {
    const double two31 = 2147483648.0, inf = std::numeric_limits<double>::infinity();
    std::vector<double> xs = {-3.5, -0.0, 0.0, 1.5, 2.0, 2.75, 3.0, 4.25, 298.5, 299.5, 1e300, inf};
    for (double d : {-2.5, -2.0, -1.5, 0.5}) xs.push_back(two31 + d);  // around 2^31
    for (double big : {1099511627776.5, 9007199254740992.0, -inf}) xs.push_back(big);
    xs.push_back(std::nextafter(2.0, 3.0));
    xs.push_back(std::nextafter(two31 - 2.0, 0.0));
    xs.push_back(std::nan(""));
    const std::vector<double> up = rounding_up_positions(two31);
    xs.insert(xs.end(), up.begin(), up.end());
    while (xs.size() % 8) xs.push_back(5.5);
    for (SimdWidth lanes : velorin_test::every_width())
        for (int64_t frames : {int64_t{0}, int64_t{5}, int64_t{300}, int64_t{2147483647},
                               int64_t{2147483648}, int64_t{1} << 40, int64_t{1} << 62}) {
            const int nl = static_cast<int>(lanes);
            for (size_t i = 0; i < xs.size(); i += nl) {
                int64_t first[8];
                const int mask = lanes_taken_width_one(lanes, &xs[i], frames, first);
                if (mask < 0) break;  // no lanes at this width
                for (int l = 0; l < nl; ++l) {
                    const double x = xs[i + l];
                    // The scalar reader's span, written out.
                    bool four = false;
                    int64_t lo = -1;
                    if (std::isfinite(x)) {
                        const double c = std::ceil(x - 2.0), f = std::floor(x + 2.0);
                        four = c >= 1 && f < static_cast<double>(frames) && f - c == 3;
                        if (four) lo = static_cast<int64_t>(c);
                    }
                    const bool taken = four && x + 2.0 < two31;
                    ASSERT_EQ((mask >> l) & 1, taken ? 1 : 0) << x << " frames " << frames;
                    ASSERT_EQ(first[l], taken ? lo : -1) << x << " frames " << frames;
                }
                // Other widths: every span that lies inside the buffer, up to
                // x + 2b < 2^31.
                for (double width : {1.0884353741496597, 1.5}) {
                    const int wide = lanes_taken_wide_kernel(lanes, &xs[i], width, frames, first);
                    for (int l = 0; l < nl; ++l) {
                        const double x = xs[i + l];
                        bool inside = false;
                        int64_t lo = -1;
                        if (std::isfinite(x)) {
                            const double c = std::ceil(x - 2.0 * width);
                            const double f = std::floor(x + 2.0 * width);
                            inside = c >= 0 && c <= f && f < static_cast<double>(frames);
                            if (inside) lo = static_cast<int64_t>(c);
                        }
                        const bool taken = inside && x + 2.0 * width < two31;
                        ASSERT_EQ((wide >> l) & 1, taken ? 1 : 0)
                            << x << " " << width << " " << frames;
                        ASSERT_EQ(first[l], taken ? lo : -1) << x << " " << width << " " << frames;
                    }
                }
            }
        }
}
