// The projection on vector lanes, written once over a Lanes type
// (ProjectionLanes) and compiled once per instruction set.
//
// The coordinates of `width` views are worked out together, one view per
// lane, each lane its own stepped chain (the reference's operations, through
// the samplers' spread()), for a tile of rows of one column; then the tile's
// pixels are added into each view's samples in row order. Columns go in
// order, so each view's column receives the pixels in storage order, as in
// the reference. A single image adds its pixels one view at a time, because
// neighbouring pixels share samples and lanes across pixels would collide. A
// pack of slices of one geometry adds one vector per sample, the slices
// interleaved, because every slice shares the view's index and weight.
// Views go in chunks whose columns stay in the cache while the whole image
// passes.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "geometry.h"
#include "lanes.h"
#include "samplers.h"
#include "variant_entries.h"

namespace quelmor::detail {
namespace {

// What the projection adds to BlockLanes: whole numbers (|x| < 2^31) stored
// as 32-bit integers.
template <class L>
concept ProjectionLanes = BlockLanes<L> && requires(std::int32_t* out, typename L::Real x) {
    L::storeWholeNumbers(out, x);
};

// Rows of a column whose landings are worked out before they are added.
inline constexpr int tileRows = 32;
// Groups of `width` views that one chunk carries.
inline constexpr int groupsPerChunk = 4;

// Where one tile's pixels land, per row and lane: the sample index (-1 where
// nothing lands) and, for the linear sampler, the weight; the spread()
// target, `part` counting the landings of one pixel (lo, then hi).
template <ProjectionLanes Lanes, bool weighted>
struct TileLandings {
    using Real = typename Lanes::Real;
    static constexpr int width = Lanes::width;
    static constexpr int parts = weighted ? 2 : 1;
    alignas(64) std::int32_t index[tileRows][parts][width];
    alignas(64) double weight[weighted ? tileRows : 1][parts][width];
    Real center;
    int row = 0;
    int part = 0;

    void add(Real offset, typename Lanes::Mask onDetector) {
        // index + 1 on the detector, +0.0 elsewhere, less 1: whole numbers, exact.
        const Real one = Lanes::splat(1.0);
        const Real shifted = Lanes::select(onDetector, Lanes::add(Lanes::add(offset, center), one));
        Lanes::storeWholeNumbers(index[row][part], Lanes::sub(shifted, one));
    }
    void add(Real offset, typename Lanes::Mask onDetector, Real scale) {
        Lanes::store(weight[row][part], scale);
        add(offset, onDetector);
        ++part;
    }
};

// Up to `width` views side by side. Lanes without a view get a NaN cosine,
// so their coordinates land nowhere.
template <ProjectionLanes Lanes>
struct ViewGroup {
    typename Lanes::Real cosines, scaledSines, sines;

    ViewGroup() = default;
    ViewGroup(const ProjectionJob& job, std::int32_t first, std::int32_t count,
              double centerOffset) {
        alignas(64) double c[Lanes::width], s[Lanes::width];
        for (int i = 0; i < Lanes::width; ++i) {
            // Not numeric_limits: at -O0 its out-of-line copy is a weak
            // symbol that another instruction set's object could supply.
            c[i] = i < count ? job.cosines[first + i] : __builtin_nan("");
            s[i] = i < count ? job.sines[first + i] : 0.0;
        }
        cosines = Lanes::load(c);
        sines = Lanes::load(s);
        scaledSines = Lanes::mul(Lanes::splat(centerOffset), sines);
    }
};

template <class T>
T fewer(T a, T b) {
    return b < a ? b : a;
}

// Views [firstView, endView) in chunks of chunkViews (at most groupsPerChunk
// groups): startChunk(first, end), then for every column, group and tile of
// rows addTile(group, landings, firstPixel, rows), then endChunk(first, end).
template <ProjectionLanes Lanes, class Sampler, class StartChunk, class AddTile, class EndChunk>
void landViews(const ProjectionJob& job, std::int32_t firstView, std::int32_t endView,
               std::int32_t chunkViews, StartChunk&& startChunk, AddTile&& addTile,
               EndChunk&& endChunk) {
    constexpr int width = Lanes::width;
    constexpr bool weighted = std::is_same_v<Sampler, LinearSampler>;
    const double centerOffset = centerOffsetOf(job.imageSize);
    const std::ptrdiff_t imageSize = job.imageSize;
    const DetectorColumn shape = detectorColumn(job.sinogram, job.detectorCount, 0);
    TileLandings<Lanes, weighted> landings;
    landings.center = Lanes::splat(shape.center);
    for (std::int32_t chunk = firstView, chunkEnd; chunk < endView; chunk = chunkEnd) {
        chunkEnd = static_cast<std::int32_t>(
            fewer<std::int64_t>(endView, std::int64_t{chunk} + chunkViews));
        ViewGroup<Lanes> groups[groupsPerChunk];
        int groupCount = 0;
        for (std::int32_t v = chunk; v < chunkEnd; v += width)
            groups[groupCount++] =
                ViewGroup<Lanes>(job, v, fewer(width, chunkEnd - v), centerOffset);
        startChunk(chunk, chunkEnd);
        for (std::ptrdiff_t j = 0; j < imageSize; ++j) {
            const auto column = Lanes::splat(static_cast<double>(j));
            for (int g = 0; g < groupCount; ++g) {
                auto t = columnTop<Lanes>(column, -centerOffset, groups[g].cosines,
                                          groups[g].scaledSines);
                for (std::ptrdiff_t k = 0; k < imageSize; k += tileRows) {
                    const int rows =
                        static_cast<int>(fewer<std::ptrdiff_t>(tileRows, imageSize - k));
                    for (int r = 0; r < rows; ++r) {
                        landings.row = r;
                        landings.part = 0;
                        Sampler::template spread<Lanes>(shape, t, landings);
                        t = Lanes::sub(t, groups[g].sines);
                    }
                    addTile(g, landings, j * imageSize + k, rows);
                }
            }
        }
        endChunk(chunk, chunkEnd);
    }
}

// One image: each lane's view takes the tile's pixels in row order.
template <ProjectionLanes Lanes>
void projectViewsInLanes(const ProjectionJob& job, std::int32_t firstView, std::int32_t endView) {
    constexpr int width = Lanes::width;
    const std::ptrdiff_t detectorCount = job.detectorCount;
    withSampler(job.interpCode, [&](auto sampler) {
        using Sampler = decltype(sampler);
        double* columns[groupsPerChunk][width];
        auto startChunk = [&](std::int32_t first, std::int32_t end) {
            for (int g = 0; g < groupsPerChunk; ++g) {
                for (int i = 0; i < width; ++i) {
                    const std::int32_t v = first + g * width + i;
                    columns[g][i] = job.sinogram + (v < end ? v * detectorCount : 0);
                }
            }
        };
        auto addTile = [&](int g, const auto& landings, std::ptrdiff_t firstPixel, int rows) {
            constexpr int parts = std::remove_cvref_t<decltype(landings)>::parts;
            const double* pixels = job.image + firstPixel;
            for (int r = 0; r < rows; ++r) {
                const double pixel = pixels[r];
                for (int i = 0; i < width; ++i) {
                    for (int part = 0; part < parts; ++part) {
                        const std::int32_t b = landings.index[r][part][i];
                        if (b < 0) continue;
                        double& sample = columns[g][i][b];
                        if constexpr (parts == 2) {
                            sample = sample + landings.weight[r][part][i] * pixel;
                        } else {
                            sample = sample + pixel;
                        }
                    }
                }
            }
        };
        landViews<Lanes, Sampler>(job, firstView, endView, groupsPerChunk * width, startChunk,
                                  addTile, [](std::int32_t, std::int32_t) {});
    });
}

// Views per chunk of the slice path: their interleaved columns (width
// doubles per sample) within a quarter of a megabyte, so they stay in L2
// beside the image columns passing through; at least one group.
template <ProjectionLanes Lanes>
std::int32_t sliceChunkViews(std::int32_t detectorCount) {
    constexpr std::int64_t width = Lanes::width;
    const std::int64_t column = 8 * width * (detectorCount > 0 ? detectorCount : 1);
    const std::int64_t views = (std::int64_t{256} << 10) / column / width * width;
    return static_cast<std::int32_t>(views < width                    ? width
                                     : views > groupsPerChunk * width ? groupsPerChunk * width
                                                                      : views);
}

template <ProjectionLanes Lanes>
std::size_t sliceScratchSize(const ProjectionJob& shape) {
    const std::size_t detectorCount = shape.detectorCount > 0 ? shape.detectorCount : 0;
    return static_cast<std::size_t>(sliceChunkViews<Lanes>(shape.detectorCount)) * detectorCount *
           Lanes::width;
}

// A pack of slices: each chunk's columns are interleaved into `scratch`
// (sample b of view v, slice i at ((v - first) detectorCount + b) width + i),
// take one vector per landing, and go back to their sinograms.
template <ProjectionLanes Lanes>
void projectSlicesInLanes(const ProjectionJob* slices, std::int32_t count,
                          const double* interleaved, std::int32_t firstView, std::int32_t endView,
                          double* scratch) {
    constexpr int width = Lanes::width;
    const ProjectionJob& job = slices[0];
    const std::ptrdiff_t detectorCount = job.detectorCount > 0 ? job.detectorCount : 0;
    auto interleavedColumns = [&](std::int32_t first, std::int32_t end, auto&& move) {
        for (std::int32_t v = first; v < end; ++v) {
            double* lanes = scratch + (v - first) * detectorCount * width;
            for (std::ptrdiff_t b = 0; b < detectorCount; ++b) {
                for (int i = 0; i < width; ++i) {
                    move(lanes[b * width + i],
                         i < count ? slices[i].sinogram + v * detectorCount + b : nullptr);
                }
            }
        }
    };
    auto startChunk = [&](std::int32_t first, std::int32_t end) {
        interleavedColumns(first, end,
                           [](double& lane, double* sample) { lane = sample ? *sample : 0.0; });
    };
    auto endChunk = [&](std::int32_t first, std::int32_t end) {
        interleavedColumns(first, end, [](double& lane, double* sample) {
            if (sample) *sample = lane;
        });
    };
    withSampler(job.interpCode, [&](auto sampler) {
        using Sampler = decltype(sampler);
        auto addTile = [&](int g, const auto& landings, std::ptrdiff_t firstPixel, int rows) {
            constexpr int parts = std::remove_cvref_t<decltype(landings)>::parts;
            double* groupColumns = scratch + g * width * detectorCount * width;
            for (int r = 0; r < rows; ++r) {
                const auto pixel = Lanes::load(interleaved + (firstPixel + r) * width);
                for (int i = 0; i < width; ++i) {
                    for (int part = 0; part < parts; ++part) {
                        const std::int32_t b = landings.index[r][part][i];
                        if (b < 0) continue;
                        double* sample = groupColumns + (i * detectorCount + b) * width;
                        if constexpr (parts == 2) {
                            const auto scaled =
                                Lanes::mul(Lanes::splat(landings.weight[r][part][i]), pixel);
                            Lanes::store(sample, Lanes::add(Lanes::load(sample), scaled));
                        } else {
                            Lanes::store(sample, Lanes::add(Lanes::load(sample), pixel));
                        }
                    }
                }
            }
        };
        landViews<Lanes, Sampler>(job, firstView, endView,
                                  sliceChunkViews<Lanes>(job.detectorCount), startChunk, addTile,
                                  endChunk);
    });
}

// A variant's projection entries on its lanes.
template <ProjectionLanes Lanes>
constexpr ProjectionKernel laneProjectionKernel() {
    return ProjectionKernel{projectViewsInLanes<Lanes>, projectSlicesInLanes<Lanes>,
                            sliceScratchSize<Lanes>, Lanes::width};
}

}  // namespace
}  // namespace quelmor::detail
