// tests/support/pitch_curves.cpp: pitch curves for the codec tests.
#include "tests/support/pitch_curves.h"

#include <cmath>
#include <cstdlib>

#include "pitch/curve.h"

namespace velorin_test {

int16_t* make_curve(const std::vector<int16_t>& points) {
    int16_t* c = static_cast<int16_t*>(std::calloc(points.size() + 1, sizeof(int16_t)));
    c[0] = static_cast<int16_t>(points.size());
    for (size_t i = 0; i < points.size(); ++i) c[i + 1] = points[i];
    return c;
}

std::vector<int> curve_points(int16_t* curve) {
    std::vector<int> out;
    if (!curve) return out;
    for (int k = 1; k <= curve[0]; ++k) out.push_back(curve[k]);
    velorin::free_pitch_curve(curve);
    return out;
}

std::string text_of(const wchar_t* text) {
    std::string out;
    for (const wchar_t* p = text; p && *p; ++p) out += *p < 128 ? static_cast<char>(*p) : '?';
    return out;
}

std::string text_of(const std::wstring& text) { return text_of(text.c_str()); }

uint32_t next_rand(CurveRand& r) {
    r.state ^= r.state << 13;
    r.state ^= r.state >> 17;
    r.state ^= r.state << 5;
    return r.state;
}

int rand_between(CurveRand& r, int lo, int hi) {
    return lo + static_cast<int>(next_rand(r) % static_cast<uint32_t>(int64_t(hi) - lo + 1));
}

namespace {
int16_t limit(double v, int lo, int hi) {
    const double x = std::floor(v + 0.5);
    return static_cast<int16_t>(x < lo ? lo : x > hi ? hi : x);
}
}  // namespace

std::vector<int16_t> random_curve(CurveRand& r, int kind, int lo, int hi) {
    const int n = rand_between(r, 1, 600);
    std::vector<int16_t> v;
    switch (kind) {
        case smooth_bend: {
            const double a = rand_between(r, -1200, 1200);
            const double b = rand_between(r, -1200, 1200);
            for (int i = 0; i < n; ++i) {
                const double t = n > 1 ? double(i) / (n - 1) : 0.0;
                v.push_back(limit(a + (b - a) * (3 * t * t - 2 * t * t * t), lo, hi));
            }
            break;
        }
        case vibrato: {
            const double depth = rand_between(r, 5, 150);
            const double period = rand_between(r, 8, 40);
            const double level = rand_between(r, -300, 300);
            for (int i = 0; i < n; ++i)
                v.push_back(
                    limit(level + depth * std::sin(6.283185307179586 * i / period), lo, hi));
            break;
        }
        case steps: {
            int level = 0;
            for (int i = 0; i < n; ++i) {
                if (rand_between(r, 0, 19) == 0) level = rand_between(r, -2400, 2400);
                v.push_back(limit(level, lo, hi));
            }
            break;
        }
        case zero_runs: {
            const int runs = rand_between(r, 1, 4);
            for (int k = 0; k < runs; ++k) {
                const int len = rand_between(r, 0, 5) == 0 ? rand_between(r, 2000, 5000)
                                                           : rand_between(r, 1, 200);
                v.insert(v.end(), static_cast<size_t>(len), int16_t(0));
                const int burst = rand_between(r, 0, 3);
                for (int i = 0; i < burst; ++i)
                    v.push_back(limit(rand_between(r, -70, 70), lo, hi));
            }
            break;
        }
        case extreme:
            for (int i = 0; i < n; ++i) v.push_back(static_cast<int16_t>(rand_between(r, lo, hi)));
            break;
        default: {
            int x = rand_between(r, -100, 100);
            for (int i = 0; i < n; ++i) {
                x += rand_between(r, -5, 5);
                v.push_back(limit(x, lo, hi));
            }
            break;
        }
    }
    return v;
}

}  // namespace velorin_test
