// Whether a call can be made: its sizes first, then its coefficients.
#pragma once

#include <cstdint>

namespace quelmor {

// Each problem checkJob finds, in the order it looks for them.
enum class JobProblem : int {
    none,
    negativeImageSize,
    imageTooLarge,           // more than 2^31 - 1 pixels
    tooManyDetectorSamples,  // more than 2^31 - 1 rows
    tooManyViews,            // more than 2^31 - 1 coefficients
    tooFewProjectionColumns,
    tooManySamples,  // detector samples times views above 2^31 - 1
    tooFewSines,
    nonFiniteCoefficients,
};

// A call as its caller holds it, in counts nothing has narrowed yet.
struct JobRequest {
    std::int64_t imageSize;
    std::uint64_t detectorCount;
    std::uint64_t viewCount;  // the cosines' count; UINT64_MAX where it overflowed
    std::uint64_t projectionColumns;
    std::uint64_t sineCount;
    const double* cosines;  // read only once the counts pass
    const double* sines;
};

// The first problem with `request`, or JobProblem::none when a BackprojectionJob may
// be made from it. Allocates nothing and throws nothing, so a host may call it
// with an error jump pending.
JobProblem checkJob(const JobRequest& request);

}  // namespace quelmor
