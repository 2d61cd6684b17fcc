// driver/time_map.cpp: the time map of a note.
#include "driver/time_map.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "synth/lane_kernels.h"

namespace velorin {

TimeMap build_time_map(const TimeMapInput& in) {
    TimeMap tm;
    const double r = in.r;
    const double cons = in.cons;
    const double tail = in.tail;
    const double region_len = in.end_pos - in.start_pos;
    tm.start_pos = in.start_pos;
    tm.end_pos = in.end_pos;
    // Lengths in output samples of the three regions.
    double head_len = cons / in.head_velocity / r;
    double tail_len = tail / in.tail_velocity / r;
    double stretch_len = in.outlen - head_len - tail_len;

    if (tail == 0) {
        if (r * stretch_len > region_len - cons) {
            tm.stretch_rate =
                (region_len - cons) / stretch_len;  // the middle is slowed to fill the note
        } else if (stretch_len > 0) {
            tm.stretch_rate = r;  // natural speed; the used region gets shorter
            tm.end_pos = tm.start_pos + cons + r * stretch_len;
        } else {
            tm.stretch_rate = r;
            tm.end_pos = tm.start_pos + (stretch_len + head_len) * in.head_velocity * r;
        }
        tm.head_rate = r * in.head_velocity;
        tm.tail_rate = r;
    } else if (cons == 0) {
        // A tail without a consonant: the region is anchored at its end.
        if (stretch_len > 0) {
            tm.start_pos = tm.end_pos - r * stretch_len - tail;
        } else {
            tm.start_pos = tm.end_pos - (tail_len + head_len) * in.tail_velocity * r;
        }
        tm.stretch_rate = r;
        tm.head_rate = r;
        tm.tail_rate = r * in.tail_velocity;
    } else {
        // The stretch region never gets fewer than 256 output samples: both
        // fixed regions shrink by the same factor to make room.
        if (stretch_len < 256) {
            const double s = (in.outlen - 256) / (tail_len + head_len);
            head_len *= s;
            tail_len *= s;
            stretch_len = 256;
        }
        tm.stretch_rate = (region_len - cons - tail) / stretch_len;
        // With a note of exactly 256 samples both fixed regions shrink to
        // nothing; their rate is then the region's natural one, which keeps
        // the rates finite (a region of length 0 plays at most one sample).
        tm.head_rate = head_len > 0 ? cons / head_len : r * in.head_velocity;
        tm.tail_rate = tail_len > 0 ? tail / tail_len : r * in.tail_velocity;
    }
    tm.head_len = head_len;
    tm.stretch_len = stretch_len;
    tm.tail_len = tail_len;

    if (in.reverse) {
        // Read backward from the end of the used region: the tail comes
        // first and the consonant last, both reversed.
        const double head_rate = tm.head_rate;
        tm.start_pos = tm.end_pos;
        tm.head_len = tail_len;
        tm.tail_len = head_len;
        tm.head_rate = -tm.tail_rate;
        tm.stretch_rate = -tm.stretch_rate;
        tm.tail_rate = -head_rate;
    }
    return tm;
}

namespace {

// The walk's position at the samples where its rate changes, and at both
// ends: the position is linear between them.
int walk_corners(const TimeMap& tm, int outlen, double* x) {
    const auto samples_upto = [outlen](double len) {
        if (!(len >= 0)) return 0;
        return len >= outlen - 1 ? outlen : static_cast<int>(std::floor(len)) + 1;
    };
    const int n1 = samples_upto(tm.head_len);
    const int n2 = std::max(samples_upto(tm.head_len + tm.stretch_len), n1);
    int k = 0;
    x[k++] = tm.start_pos;
    const double x1 = tm.start_pos + n1 * tm.head_rate;
    const double x2 = x1 + (n2 - n1) * tm.stretch_rate;
    if (n1 < outlen) x[k++] = x1;
    if (n2 < outlen) x[k++] = x2;
    x[k++] = n2 < outlen   ? x2 + (outlen - 1 - n2) * tm.tail_rate
             : n1 < outlen ? x1 + (outlen - 1 - n1) * tm.stretch_rate
                           : tm.start_pos + (outlen - 1) * tm.head_rate;
    return k;
}

}  // namespace

double walk_floor(const TimeMap& tm, int outlen) {
    if (outlen < 1) return tm.start_pos;
    double x[4];
    const int k = walk_corners(tm, outlen, x);
    double low = x[0];
    for (int i = 1; i < k; ++i) low = std::min(low, x[i]);
    const double size = std::fabs(tm.start_pos) + std::fabs(low) + 1.0;
    low -= 2.0 + 1e-12 * outlen * size;
    return std::isfinite(low) ? low : std::numeric_limits<double>::quiet_NaN();
}

double walk_reach(const TimeMap& tm, int outlen) {
    if (outlen < 1) return tm.start_pos;
    // Samples that advance at each rate (time_map_rate's ranges), so the
    // position is linear between these samples and the largest is one of them.
    const auto samples_upto = [outlen](double len) {
        if (!(len >= 0)) return 0;
        return len >= outlen - 1 ? outlen : static_cast<int>(std::floor(len)) + 1;
    };
    const int n1 = samples_upto(tm.head_len);
    const int n2 = std::max(samples_upto(tm.head_len + tm.stretch_len), n1);
    const double x1 = tm.start_pos + n1 * tm.head_rate;
    const double x2 = x1 + (n2 - n1) * tm.stretch_rate;
    const double x3 = x2 + (outlen - 1 - n2) * tm.tail_rate;
    const double last = n2 >= outlen ? (n1 >= outlen ? tm.start_pos + (outlen - 1) * tm.head_rate
                                                     : x1 + (outlen - 1 - n1) * tm.stretch_rate)
                                     : x3;
    double reach = tm.start_pos;
    if (n1 < outlen) reach = std::max(reach, x1);
    if (n2 < outlen) reach = std::max(reach, x2);
    reach = std::max(reach, last);
    const double size = std::fabs(tm.start_pos) + std::fabs(reach) + 1.0;
    reach += 2.0 + 1e-12 * outlen * size;
    return std::isfinite(reach) ? reach : std::numeric_limits<double>::quiet_NaN();
}

namespace {

// As it goes the walk also maps the pages of the buffers the passes add into,
// by writing zeros over them (they are zeroed already), unless the caller
// mapped them in bulk before (map_pages false): a page first read and then written
// faults twice, and the second fault, taken under the buffer's lock, makes the
// kernel flush the other processors' address caches while the other workers
// wait for the lock. The grain of the unit at j adds into datbuf j - 64 ..
// j + 63, so the walk at j writes datbuf j + 128 .. j + 191, where no unit
// made so far adds; outbuf is not touched before the second pass.
void map_pages_ahead(const TimeWalk& w, int j) {
    const RenderShared& sh = *w.sh;
    const int n = sh.outlen;
    std::fill(sh.datbuf + std::min(n, j + 2 * first_pass_hop),
              sh.datbuf + std::min(n, j + 3 * first_pass_hop), 0.0);
    if (w.map_outbuf) std::fill(sh.outbuf + j, sh.outbuf + std::min(n, j + first_pass_hop), 0.0);
}

}  // namespace

TimeWalk time_walk_start(const RenderShared& sh, const TimeMap& tm, double modulation,
                         double* genposs, FirstPassUnit* units, bool map_pages, bool map_outbuf) {
    TimeWalk w;
    w.sh = &sh;
    w.tm = &tm;
    w.modulation = modulation;
    w.rules = pitch_rules(sh, modulation);
    w.genposs = genposs;
    w.units = units;
    w.x = tm.start_pos;
    w.map_pages = map_pages;
    w.map_outbuf = map_outbuf;
    return w;
}

// One hop at a time: the source positions of the hop first (a running sum),
// then their frequencies side by side, then the phase (another running sum).
// Each value is the one the walk sample by sample gives.
void time_walk_until(void* ctx, int end) {
    TimeWalk& w = *static_cast<TimeWalk*>(ctx);
    const RenderShared& sh = *w.sh;
    const double lead = 0.25 * sh.freq_step;
    while (w.made < end && w.j < sh.outlen) {
        const int j0 = w.j;
        const int n = std::min(sh.outlen, (j0 / first_pass_hop + 1) * first_pass_hop) - j0;
        double s[first_pass_hop], f[first_pass_hop], dphase[first_pass_hop];
        double x = w.x;
        for (int i = 0; i < n; ++i) {
            s[i] = x + 0.5 - lead;
            x += time_map_rate(*w.tm, j0 + i);
        }
        lane_kernels(sh.lanes).target_frequencies(w.rules, j0, n, s, f, dphase);
        if (j0 % first_pass_hop == 0) {
            if (w.map_pages) map_pages_ahead(w, j0);
            if (j0 % second_pass_hop == 0) w.genposs[j0 / second_pass_hop] = s[0];
            FirstPassUnit& u = w.units[w.made++];
            u.out_index = j0;
            u.src_pos = s[0];
            u.out_phase = w.phase;
            u.target_freq = f[0];
            u.modulation = w.modulation;
        }
        for (int i = 0; i < n; ++i) w.phase += dphase[i];
        w.x = x;
        w.j = j0 + n;
    }
}

}  // namespace velorin
