// The blocked sweep and the lane projection (blocked_projection.h) on AVX2 lanes for processors
// with AVX2 and no AVX-512: samples picked from 8-sample windows where the view allows, gathered
// where it does not.
#include "avx2_lanes.h"
#include "blocked_projection.h"
#include "blocked_sweep.h"

namespace quelmor::detail {
namespace {

// Longer passes share each tile's transposes among more views; two blocks
// per group share each pass's samples in the cache.
struct Avx2WindowLanes : Avx2Lanes {
    static constexpr int viewsPerPass = 32;
    static constexpr int blocksPerGroup = 2;
};

}  // namespace

const KernelSet avx2windowKernels{windowedSweepKernel<Avx2WindowLanes>(),
                                  laneProjectionKernel<Avx2WindowLanes>()};

}  // namespace quelmor::detail
