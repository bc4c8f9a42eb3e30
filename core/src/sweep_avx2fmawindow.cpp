// The windowed AVX2 sweep (sweep_avx2_window.cpp) for processors with AVX2 and
// FMA: the same windows, picks and order of sums, with the pixel sums and the
// coordinate steps on the multiply-add pipes (SumsOnMultiplier, blocked_sweep.h).
#include "avx2_lanes.h"
#include "blocked_projection.h"
#include "blocked_sweep.h"

namespace quelmor::detail {

const KernelSet avx2fmawindowKernels{
    windowedSweepKernel<WindowedPasses<SumsOnMultiplier<Avx2Lanes>>>(),
    laneProjectionKernel<WindowedPasses<SumsOnMultiplier<Avx2Lanes>>>()};

}  // namespace quelmor::detail
