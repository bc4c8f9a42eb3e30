// The windowed AVX2 sweep (sweep_avx2_window.cpp) for processors with AVX2 and
// FMA: the same windows, picks and order of sums, with the pixel sums and the
// coordinate steps on the multiply-add pipes (SumsOnMultiplier, blocked_sweep.h).
#include "avx2_lanes.h"
#include "blocked_projection.h"
#include "blocked_sweep.h"

namespace quelmor::detail {
namespace {

struct Avx2FmaLanes : SumsOnMultiplier<Avx2Lanes> {
    static constexpr int viewsPerPass = 32;
    static constexpr int blocksPerGroup = 2;
};

}  // namespace

const KernelSet avx2fmawindowKernels{windowedSweepKernel<Avx2FmaLanes>(),
                                     laneProjectionKernel<Avx2FmaLanes>()};

}  // namespace quelmor::detail
