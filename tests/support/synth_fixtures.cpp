// tests/support/synth_fixtures.cpp: transform tables and windows for the
// synthesis tests and benchmarks.
#include "tests/support/synth_fixtures.h"

#include <cmath>

#include "synth/rfft.h"

namespace velorin_test {

RfftTables make_rfft_tables(int n) {
    RfftTables t;
    t.n = n;
    t.twiddles.assign(2 * static_cast<size_t>(n), 0.0);
    // sqrt(n) entries suffice; one more keeps odd powers of two safe.
    t.bitrev.assign(static_cast<size_t>(std::sqrt(static_cast<double>(n))) + 2, 0);
    velorin::build_twiddles(t.twiddles.data(), n);
    velorin::build_bitrev(n, t.bitrev.data());
    return t;
}

Windows make_windows(int n) {
    Windows w;
    w.hann.assign(n, 0.0);
    w.sine.assign(n, 0.0);
    velorin::build_windows(w.hann.data(), w.sine.data(), n);
    return w;
}

}  // namespace velorin_test
