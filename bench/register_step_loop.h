// The windowed AVX-512 sweep's own loop of views down 8 x 8 tiles, with the
// tiles held in registers: no tile loads, transposes or stores, so it runs
// at the limit that the sweep's instruction mix sets on this processor.
#pragma once

#include "quelmor/accumulate_views.h"

namespace quelmor::bench {

// Runs the loop over the job's whole image (every block of eight columns,
// every pass of 32 views) and adds the tiles' sums into `checksum`, so that
// nothing is optimised away. False, and nothing run, where a view takes
// another plan than one window per tile (the unit grid's plan).
bool avx512RegisterStepLoop(const BackprojectionJob& job, double& checksum);

}  // namespace quelmor::bench
