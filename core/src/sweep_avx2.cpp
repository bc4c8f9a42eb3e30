// The blocked sweep on AVX2 lanes, samples fetched with hardware gathers.
#include "avx2_lanes.h"
#include "blocked_sweep.h"

namespace quelmor::detail {

const SweepKernel avx2SweepKernel = blockedSweepKernel<Avx2Lanes>();

}  // namespace quelmor::detail
