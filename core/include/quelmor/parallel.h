// Threaded backprojection: the image's columns are split between threads.
// Each pixel still receives its views in increasing order on one thread, so
// the image is bit-identical to the single-threaded one.
#pragma once

#include "quelmor/kernel_variants.h"

namespace quelmor {

// threadCount 0 means one thread per hardware core; variant nullptr means
// bestKernelVariant().
void accumulateViewsParallel(const SweepJob& job, unsigned threadCount = 0,
                             const KernelVariant* variant = nullptr);

}  // namespace quelmor
