// synth/series.cpp: frame-series lookups one at a time.
#include "synth/series.h"

#include "simd/lanes.h"
#include "synth/series_lanes.h"

namespace velorin {

// With a power-of-two step, the lookup of the lanes at one lane: a
// multiplication by the reciprocal and a floor by integer conversion, the
// same doubles as series_value_at's division and floor.
double SeriesReader::at(double x) const {
    if (inv > 0) return series::lookup(*this, lanes::Scalar::splat(x)).v[0];
    return series_value_at(x, values, count, step, lo, bad, fallback);
}

}  // namespace velorin
