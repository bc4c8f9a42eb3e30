// The lanes of the windowed AVX-512 sweep (sweep_avx512_window.cpp), shared
// with the benchmark's register-level loop over the same views.
#pragma once

#include "avx512_lanes.h"
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
}  // namespace quelmor::detail
