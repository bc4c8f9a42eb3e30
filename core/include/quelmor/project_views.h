// Forward projection of a square image into parallel-beam views: the exact
// transpose of accumulateViews (core/README.md, "The projection").
#pragma once

#include <cstdint>

#include "quelmor/accumulate_views.h"

namespace quelmor {

// The arguments of one projectViews call.
struct ProjectionJob {
    double* sinogram;     // detectorCount x viewCount, column-major; sums are added into it
    const double* image;  // imageSize x imageSize, column-major
    std::int32_t detectorCount;
    const double* cosines;
    const double* sines;
    std::int32_t viewCount;
    std::int32_t imageSize;
    std::int32_t interpCode;
};

// Adds every pixel into the samples of every view that the backprojection
// would read for it, weighted as the backprojection weighs them, so that
// probing both with unit inputs gives transposed matrices bit for bit. Each
// view's column receives the pixels in storage order. A sample off the
// detector, or at a coordinate that is not finite, receives nothing, so no
// input makes the kernel touch memory outside the view's own column; a code
// other than InterpNearest or InterpLinear adds nothing.
//
// Single-threaded; picks the fastest kernel variant the processor supports.
void projectViews(const ProjectionJob& job);

}  // namespace quelmor
