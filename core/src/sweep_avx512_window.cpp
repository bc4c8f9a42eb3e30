// The blocked sweep and the lane projection (blocked_projection.h) on AVX-512 lanes, samples picked
// from 16-sample windows with one permute where the view allows and gathered where it does not.
// Gathers are slow on AMD Zen 4 (9 cycles for eight lanes, against 2 for two
// loads and a permute).
#include "sweep_avx512_window.h"

#include "blocked_projection.h"

namespace quelmor::detail {

const KernelSet avx512windowKernels{windowedSweepKernel<Avx512FmaLanes>(),
                                    laneProjectionKernel<Avx512FmaLanes>()};

}  // namespace quelmor::detail
