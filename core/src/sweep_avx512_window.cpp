// The blocked sweep and the lane projection (blocked_projection.h) on AVX-512 lanes, samples picked
// from 16-sample windows with one permute where the view allows and gathered where it does not.
// Gathers are slow on AMD Zen 4 (9 cycles for eight lanes, against 2 for two
// loads and a permute).
#include "avx512_lanes.h"
#include "blocked_projection.h"
#include "blocked_sweep.h"

namespace quelmor::detail {
namespace {

// The pixel sums and the coordinate steps go to the multiply-add pipes
// (SumsOnMultiplier, blocked_sweep.h; measured fastest on AMD Zen 4). Each
// tile's two transposes cost a pass as much as a view or two do, so passes are
// long; at 64 views they carry more sample streams than the cache keeps.
struct Avx512FmaLanes : SumsOnMultiplier<Avx512Lanes> {
    static constexpr int viewsPerPass = 32;
    static constexpr int blocksPerGroup = 2;
};

}  // namespace

const KernelSet avx512windowKernels{windowedSweepKernel<Avx512FmaLanes>(),
                                    laneProjectionKernel<Avx512FmaLanes>()};

}  // namespace quelmor::detail
