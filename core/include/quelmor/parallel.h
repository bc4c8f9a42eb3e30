// Threaded backprojection: the image's columns are split between threads.
// Each pixel still receives its views in increasing order on one thread, so
// the image is bit-identical to the single-threaded one.
#pragma once

#include <span>

#include "quelmor/kernel_variants.h"

namespace quelmor {

// threadCount 0 means one thread per hardware core; variant nullptr means
// bestKernelVariant().
void accumulateViewsParallel(const BackprojectionJob& job, unsigned threadCount = 0,
                             const KernelVariant* variant = nullptr);

// What the stack entry finds in each job's image before it adds the views.
enum class ImageStart {
    asGiven,  // earlier sums (or zeros) to add to
    // Anything: each thread sets the images it sweeps to zero first. Pages of
    // a fresh allocation (calloc, numpy.zeros) are then first touched by a
    // write: reading them first maps the shared zero page, and the write
    // after it must flush that mapping from every core the process runs on,
    // which in a virtual machine cost one thread of two most of its speed.
    zeroed,
};

// Runs every job of a stack (slices of a volume, say), each image exactly as
// accumulateViews would make it. With at least as many jobs as threads each
// thread takes whole jobs in turn; with fewer, the jobs run one after another,
// each split across all the threads. The images must not overlap.
void accumulateStackParallel(std::span<const BackprojectionJob> jobs, unsigned threadCount = 0,
                             const KernelVariant* variant = nullptr,
                             ImageStart start = ImageStart::asGiven);

}  // namespace quelmor
