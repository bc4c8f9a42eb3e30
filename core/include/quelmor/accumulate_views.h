// Backprojection of parallel-beam views into a square image.
#pragma once

#include <cstdint>

namespace quelmor {

// Sampling codes. Any other code makes no view contribute.
enum InterpCode : std::int32_t {
    InterpNearest = 0,  // nearest detector sample, ties rounded up
    InterpLinear = 1,   // linear interpolation between the two samples around t
};

// The arguments of one accumulateViews call.
struct BackprojectionJob {
    double* image;
    const double* projections;
    std::int32_t detectorCount;
    const double* cosines;
    const double* sines;
    std::int32_t viewCount;
    std::int32_t imageSize;
    std::int32_t interpCode;
};

// Adds, view by view in increasing order, each view's sample at every pixel's
// detector coordinate into `job.image` (imageSize x imageSize doubles,
// column-major).
//
// `projections` holds one column of `detectorCount` samples per view; view v
// uses cosines[v], sines[v] and column v. Samples beyond the detector read as
// 0.0, and a coordinate that is not finite reads as off the detector, so no
// input makes the kernel touch memory outside the view's own column.
//
// Single-threaded; picks the fastest kernel variant the processor supports.
void accumulateViews(const BackprojectionJob& job);

}  // namespace quelmor
