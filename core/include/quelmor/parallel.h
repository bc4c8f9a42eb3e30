// Threaded backprojection and projection. The backprojection splits the
// image's columns between threads, the projection the views: each pixel
// still receives its views in increasing order on one thread, and each view
// its pixels in storage order, so the results are bit-identical to the
// single-threaded ones.
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

// Views split between threads.
void projectViewsParallel(const ProjectionJob& job, unsigned threadCount = 0,
                          const KernelVariant* variant = nullptr);

// Slices of a volume, each sinogram exactly as projectViews would make it:
// jobs that share a geometry (sizes, cosines, sines and code) go through the
// variant's lanes across slices, a pack of up to sliceWidth() at a time. With
// at least as many packs as threads each thread takes whole packs in turn;
// with fewer, each pack's views are split between the threads. The sinograms
// must not overlap.
void projectStackParallel(std::span<const ProjectionJob> jobs, unsigned threadCount = 0,
                          const KernelVariant* variant = nullptr);

}  // namespace quelmor
