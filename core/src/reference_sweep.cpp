// The plain sweep and the plain projection: views outermost, one cursor
// walking the image in storage order, the coordinate stepped down each column
// by repeated subtraction. They are the oracles every faster variant is
// compared with.
#include "geometry.h"
#include "samplers.h"
#include "scalar_lanes.h"
#include "variant_entries.h"

namespace quelmor::detail {
namespace {

void referenceSweepColumns(const BackprojectionJob& job, std::int32_t firstColumn,
                           std::int32_t endColumn) {
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

// Where the projection's pixel lands in one view's column: the samples
// spread() names receive it, in the order it names them.
struct ColumnTarget {
    double* samples;
    double center;
    double pixel;

    double& at(double offset) const {
        return samples[static_cast<std::ptrdiff_t>(offset + center)];
    }
    void add(double offset, bool onDetector) const {
        if (onDetector) at(offset) = at(offset) + pixel;
    }
    void add(double offset, bool onDetector, double weight) const {
        if (onDetector) at(offset) = at(offset) + weight * pixel;
    }
};

void referenceProjectViews(const ProjectionJob& job, std::int32_t firstView, std::int32_t endView) {
    const double centerOffset = centerOffsetOf(job.imageSize);
    withSampler(job.interpCode, [&](auto sampler) {
        using Sampler = decltype(sampler);
        for (std::int32_t v = firstView; v < endView; ++v) {
            const double c = job.cosines[v];
            const double s = job.sines[v];
            const double q = centerOffset * s;
            const DetectorColumn view = detectorColumn(job.sinogram, job.detectorCount, v);
            // The view's own column, writable: view.samples is the same address.
            ColumnTarget target{job.sinogram + static_cast<std::ptrdiff_t>(v) * job.detectorCount,
                                view.center, 0.0};
            const double* cursor = job.image;
            for (std::int32_t j = 0; j < job.imageSize; ++j) {
                double t = columnTop<ScalarLanes>(j, -centerOffset, c, q);
                for (std::int32_t k = 0; k < job.imageSize; ++k) {
                    target.pixel = *cursor;
                    Sampler::template spread<ScalarLanes>(view, t, target);
                    ++cursor;
                    t = t - s;
                }
            }
        }
    });
}

// Slices go one by one: the reference has no lanes.
void referenceProjectSlices(const ProjectionJob* slices, std::int32_t count, const double*,
                            std::int32_t firstView, std::int32_t endView, double*) {
    for (std::int32_t i = 0; i < count; ++i) referenceProjectViews(slices[i], firstView, endView);
}

// The same for the backprojection, whose sinograms come interleaved one per
// lane: with one lane, the slice's own.
void referenceSweepSlices(const BackprojectionJob* slices, std::int32_t count, const double*,
                          std::int32_t firstColumn, std::int32_t endColumn, double*) {
    for (std::int32_t i = 0; i < count; ++i)
        referenceSweepColumns(slices[i], firstColumn, endColumn);
}

std::size_t noScratch(const ProjectionJob&) { return 0; }
std::size_t noSweepScratch(const BackprojectionJob&) { return 0; }

}  // namespace

const KernelSet referenceKernels{
    {referenceSweepColumns, 1, referenceSweepSlices, noSweepScratch, 1},
    {referenceProjectViews, referenceProjectSlices, noScratch, 1}};

}  // namespace quelmor::detail
