// The blocked sweep on SSE2 lanes.
#include "blocked_sweep.h"
#include "sse2_lanes.h"

namespace quelmor::detail {

const SweepKernel sse2SweepKernel = blockedSweepKernel<Sse2Lanes>();

}  // namespace quelmor::detail
