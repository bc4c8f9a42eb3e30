// The blocked sweep on AVX-512 lanes, samples fetched with hardware gathers.
#include "avx512_lanes.h"
#include "blocked_sweep.h"

namespace quelmor::detail {

const SweepKernel avx512SweepKernel = blockedSweepKernel<Avx512Lanes>();

}  // namespace quelmor::detail
