// SSE2 lanes with SSE4.1's rounding instruction for the floor: the same
// two columns per vector, for processors without AVX2 (and 32-bit builds).
#include <smmintrin.h>

#include "blocked_projection.h"
#include "blocked_sweep.h"
#include "sse2_lanes.h"

namespace quelmor::detail {
namespace {

struct Sse41Lanes : Sse2Lanes {
    static Real floor(Real x) { return _mm_floor_pd(x); }
};

}  // namespace

const KernelSet sse41Kernels{blockedSweepKernel<Sse41Lanes>(), laneProjectionKernel<Sse41Lanes>()};

}  // namespace quelmor::detail
