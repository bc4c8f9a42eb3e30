// The lanes of the windowed AVX-512 sweep (sweep_avx512_window.cpp), shared
// with the benchmark's register-level loop over the same views.
#pragma once

#include "avx512_lanes.h"
#include "blocked_sweep.h"

namespace quelmor::detail {
namespace {

// The pixel sums and the coordinate steps on the multiply-add pipes
// (measured fastest on AMD Zen 4).
using Avx512FmaLanes = WindowedPasses<SumsOnMultiplier<Avx512Lanes>>;

}  // namespace
}  // namespace quelmor::detail
