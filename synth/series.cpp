// synth/series.cpp: frame-series lookups out of line.
#include "synth/series.h"

namespace velorin {

double series_at(const SeriesReader& s, double x) { return s.at(x); }

}  // namespace velorin
