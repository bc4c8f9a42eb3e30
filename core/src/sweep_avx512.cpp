// The blocked sweep and the lane projection (blocked_projection.h) on AVX-512 lanes, samples
// fetched with hardware gathers.
#include "avx512_lanes.h"
#include "blocked_projection.h"
#include "blocked_sweep.h"

namespace quelmor::detail {

const KernelSet avx512Kernels{blockedSweepKernel<Avx512Lanes>(),
                              laneProjectionKernel<Avx512Lanes>()};

}  // namespace quelmor::detail
