// The blocked sweep and the lane projection (blocked_projection.h) on AVX2 lanes, samples fetched
// with hardware gathers.
#include "avx2_lanes.h"
#include "blocked_projection.h"
#include "blocked_sweep.h"

namespace quelmor::detail {

const KernelSet avx2Kernels{blockedSweepKernel<Avx2Lanes>(), laneProjectionKernel<Avx2Lanes>()};

}  // namespace quelmor::detail
