// tests/support/synth_reference.h: the two render passes evaluated the
// straightforward way (exact sinc readers, every smoothing weight computed
// where it is used), against which the optimised passes are checked and
// timed.
#pragma once

#include "synth/passes.h"

namespace velorin_test {

void reference_resampling_pass(const velorin::RenderShared& sh, const velorin::FirstPassUnit& u);
// With render_reader the sample is read through sinc_read_render, as the
// fast pass reads it: then every other step is the fast pass's own
// arithmetic, and the two give the same bits.
void reference_envelope_breath_pass(const velorin::RenderShared& sh,
                                    const velorin::SecondPassUnit& u, bool render_reader = false);

// Smoothed spectrum written as the sum over t for each bin in turn.
void reference_smoothed_spectrum(const double* p, double width, double* out);

// The transform stages one butterfly at a time (after or before the library's
// bit-reversal permutation, which these leave out): the order of operations
// the fast transforms keep.
void reference_rfft_stages(int n, double* a, const double* twiddles);
void reference_rfft_inverse_stages(int n, double* a, const double* twiddles);

}  // namespace velorin_test
