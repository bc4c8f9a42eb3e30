// The plain sweep: views outermost, one cursor walking the image in storage
// order, the coordinate stepped down each column by repeated subtraction.
// It is the oracle every faster variant is compared with.
#include "geometry.h"
#include "samplers.h"
#include "scalar_lanes.h"
#include "variant_entries.h"

namespace quelmor::detail {
namespace {

void referenceSweepColumns(const BackprojectionJob& job, std::int32_t firstColumn, std::int32_t endColumn) {
    const double centerOffset = centerOffsetOf(job.imageSize);
    const std::ptrdiff_t imageSize = job.imageSize;
    withSampler(job.interpCode, [&](auto sampler) {
        using Sampler = decltype(sampler);
        for (std::int32_t v = 0; v < job.viewCount; ++v) {
            const double c = job.cosines[v];
            const double s = job.sines[v];
            const double q = centerOffset * s;
            const DetectorColumn view = detectorColumn(job, v);
            double* cursor = job.image + firstColumn * imageSize;
            for (std::int32_t j = firstColumn; j < endColumn; ++j) {
                double t = columnTop<ScalarLanes>(j, -centerOffset, c, q);
                for (std::int32_t k = 0; k < job.imageSize; ++k) {
                    *cursor = *cursor + Sampler::template sample<ScalarLanes>(view, t);
                    ++cursor;
                    t = t - s;
                }
            }
        }
    });
}

}  // namespace

const SweepKernel referenceSweepKernel{referenceSweepColumns, 1};

}  // namespace quelmor::detail
