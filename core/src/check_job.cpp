#include "quelmor/check_job.h"

#include <cmath>
#include <limits>

namespace quelmor {
namespace {

constexpr std::uint64_t largestCount = std::numeric_limits<std::int32_t>::max();

bool allFinite(const double* values, std::uint64_t count) {
    for (std::uint64_t i = 0; i < count; ++i) {
        if (!std::isfinite(values[i])) return false;
    }
    return true;
}

}  // namespace

JobProblem checkJob(const JobRequest& request) {
    if (request.imageSize < 0) return JobProblem::negativeImageSize;
    // Bounded before it is squared, so the square cannot wrap.
    const auto imageSize = static_cast<std::uint64_t>(request.imageSize);
    if (imageSize > largestCount || imageSize * imageSize > largestCount) {
        return JobProblem::imageTooLarge;
    }
    if (request.detectorCount > largestCount) return JobProblem::tooManyDetectorSamples;
    if (request.viewCount > largestCount) return JobProblem::tooManyViews;
    if (request.projectionColumns < request.viewCount) return JobProblem::tooFewProjectionColumns;
    if (request.detectorCount * request.viewCount > largestCount) return JobProblem::tooManySamples;
    if (request.sineCount < request.viewCount) return JobProblem::tooFewSines;
    if (!allFinite(request.cosines, request.viewCount) ||
        !allFinite(request.sines, request.viewCount)) {
        return JobProblem::nonFiniteCoefficients;
    }
    return JobProblem::none;
}

}  // namespace quelmor
