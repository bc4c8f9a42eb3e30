// The blocked sweep and the lane projection (blocked_projection.h) on AVX2 lanes for processors
// with AVX2 and no AVX-512: samples picked from 8-sample windows where the view allows, gathered
// where it does not.
#include "avx2_lanes.h"
#include "blocked_projection.h"
#include "blocked_sweep.h"

namespace quelmor::detail {

const KernelSet avx2windowKernels{windowedSweepKernel<WindowedPasses<Avx2Lanes>>(),
                                  laneProjectionKernel<WindowedPasses<Avx2Lanes>>()};

}  // namespace quelmor::detail
