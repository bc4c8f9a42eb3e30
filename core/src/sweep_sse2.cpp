// The blocked sweep and the lane projection (blocked_projection.h) on SSE2 lanes.
#include "blocked_projection.h"
#include "blocked_sweep.h"
#include "sse2_lanes.h"

namespace quelmor::detail {

const KernelSet sse2Kernels{blockedSweepKernel<Sse2Lanes>(), laneProjectionKernel<Sse2Lanes>()};

}  // namespace quelmor::detail
