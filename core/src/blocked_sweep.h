// The SIMD sweep, written once over a vector Lanes type (BlockLanes in
// lanes.h) and compiled once per instruction set.
//
// Lanes hold neighbouring columns at the same row. A pass takes one block of
// `width` columns through a few consecutive views at once: each view keeps its
// own stepped coordinate vector, and each pixel receives the pass's views in
// increasing order, so every pixel sum and every coordinate chain is the
// reference sweep's. The block's pixels move between column-major storage and
// row vectors through square in-register transposes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "geometry.h"
#include "lanes.h"
#include "samplers.h"
#include "variant_entries.h"

namespace quelmor::detail {
namespace {

// Not std::min: an out-of-line copy of a standard template is a weak symbol
// that the linker may take from a wider instruction set's object and run on
// the baseline path. Everything these units compile has internal linkage.
template <class T>
T smaller(T a, T b) {
    return b < a ? b : a;
}

template <BlockLanes Lanes, class Sampler, int Views>
struct ViewPass {
    using Real = typename Lanes::Real;
    static constexpr int width = Lanes::width;

    DetectorColumn views[Views];
    Real coordinates[Views];
    Real steps[Views];

    ViewPass(const SweepJob& job, std::int32_t firstColumn, std::int32_t firstView) {
        const double centerOffset = centerOffsetOf(job.imageSize);
        const Real column =
            Lanes::add(Lanes::splat(static_cast<double>(firstColumn)), Lanes::laneIndex());
        for (int g = 0; g < Views; ++g) {
            const std::int32_t v = firstView + g;
            views[g] = detectorColumn(job, v);
            coordinates[g] = columnTop<Lanes>(column, -centerOffset, job.cosines[v],
                                              centerOffset * job.sines[v]);
            steps[g] = Lanes::splat(job.sines[v]);
        }
    }

    // One row of the block: add each view's sample, then step its coordinate.
    Real accumulateRow(Real pixels) {
        for (int g = 0; g < Views; ++g) {
            pixels = Lanes::add(pixels, Sampler::template sample<Lanes>(views[g], coordinates[g]));
            coordinates[g] = Lanes::sub(coordinates[g], steps[g]);
        }
        return pixels;
    }

    // Columns [firstColumn, firstColumn + columns) of the image, all rows.
    void run(double* blockTop, std::ptrdiff_t imageSize, std::int32_t columns) {
        std::int32_t k = 0;
        if (columns == width) {
            for (; k + width <= imageSize; k += width) {
                Real pixels[width];
                for (int lane = 0; lane < width; ++lane) {
                    pixels[lane] = Lanes::load(blockTop + lane * imageSize + k);
                }
                Lanes::transpose(pixels);
                for (int row = 0; row < width; ++row) pixels[row] = accumulateRow(pixels[row]);
                Lanes::transpose(pixels);
                for (int lane = 0; lane < width; ++lane) {
                    Lanes::store(blockTop + lane * imageSize + k, pixels[lane]);
                }
            }
        }
        // The last rows, and a block narrower than a vector, go through a
        // staging square; its spare lanes are never written back.
        for (; k < imageSize; k += width) {
            const std::int32_t rows =
                static_cast<std::int32_t>(smaller<std::ptrdiff_t>(width, imageSize - k));
            alignas(64) double staged[width][width] = {};
            for (int lane = 0; lane < columns; ++lane) {
                for (int row = 0; row < rows; ++row)
                    staged[row][lane] = blockTop[lane * imageSize + k + row];
            }
            for (int row = 0; row < rows; ++row) {
                Lanes::store(staged[row], accumulateRow(Lanes::load(staged[row])));
            }
            for (int lane = 0; lane < columns; ++lane) {
                for (int row = 0; row < rows; ++row)
                    blockTop[lane * imageSize + k + row] = staged[row][lane];
            }
        }
    }
};

template <BlockLanes Lanes>
void blockedSweepColumns(const SweepJob& job, std::int32_t firstColumn, std::int32_t endColumn) {
    constexpr int width = Lanes::width;
    constexpr int viewsPerPass = Lanes::ViewsPerPass;
    const std::ptrdiff_t imageSize = job.imageSize;
    withSampler(job.interpCode, [&](auto sampler) {
        using Sampler = decltype(sampler);
        // Column blocks outermost: a block's pixels stay in cache while every
        // view passes over them.
        for (std::int32_t j = firstColumn; j < endColumn; j += width) {
            const std::int32_t columns = smaller(width, endColumn - j);
            double* blockTop = job.image + j * imageSize;
            std::int32_t v = 0;
            for (; v + viewsPerPass <= job.viewCount; v += viewsPerPass) {
                ViewPass<Lanes, Sampler, viewsPerPass>(job, j, v).run(blockTop, imageSize, columns);
            }
            for (; v < job.viewCount; ++v) {
                ViewPass<Lanes, Sampler, 1>(job, j, v).run(blockTop, imageSize, columns);
            }
        }
    });
}

// A variant's entry: the blocked sweep on its lanes.
template <BlockLanes Lanes>
constexpr SweepKernel blockedSweepKernel() {
    return SweepKernel{blockedSweepColumns<Lanes>, Lanes::width};
}

}  // namespace
}  // namespace quelmor::detail
