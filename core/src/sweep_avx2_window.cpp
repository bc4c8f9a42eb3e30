// The blocked sweep on AVX2 lanes, samples picked from 8-sample windows
// where the view allows and gathered where it does not: for processors with
// AVX2 and no AVX-512, where a 4-lane gather costs about 5 cycles.
#include "avx2_lanes.h"
#include "blocked_sweep.h"

namespace quelmor::detail {

const SweepKernel avx2windowSweepKernel = windowedSweepKernel<Avx2Lanes>();

}  // namespace quelmor::detail
