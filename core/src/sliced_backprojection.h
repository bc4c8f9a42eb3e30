// The backprojection of a pack of slices that share one geometry, one slice
// per lane, written once over a Lanes type and compiled once per
// instruction set. Every slice reads the same sample index with the same
// weight, so a vector of slices needs no window and no permute at any pixel
// size: one load per pixel and view (two for the linear sampler) from the
// interleaved sinograms (interleaved_sinograms.h).
//
// A tile of two columns' rows, a vector of slices per pixel, stays in
// registers while every view adds into it in order, so each pixel's sum is
// the reference's. The views' sample slots for the tile are worked out a
// group of `width` views ahead of their additions, one view per lane, each
// lane its own stepped chain through the samplers' spread(). The chains go
// down a block of columns tile by tile, kept between tiles. Views go in
// chunks whose samples for one tile stay in the cache until the next
// column's tile reads them again; a tile's sums go back to the images
// between chunks, which leaves each pixel's additions as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "geometry.h"
#include "interleaved_sinograms.h"
#include "lanes.h"
#include "samplers.h"
#include "variant_entries.h"

namespace quelmor::detail {
namespace {

// What the slice path adds to BlockLanes: whole numbers (|x| < 2^31) stored
// as 32-bit integers.
template <class L>
concept SliceLanes = BlockLanes<L> && requires(std::int32_t* out, typename L::Real x) {
    L::storeWholeNumbers(out, x);
};

// Pixels per tile: half the registers hold the tile's sums.
template <SliceLanes Lanes>
inline constexpr int sliceTilePixels = Lanes::registers / 2;
// Columns whose chains go down together (measured on AMD Zen 4: 16 to 128
// within a few percent on the unit grid; 64 best with pixels 2 and 4
// detector spacings wide).
inline constexpr int sliceBlockColumns = 64;
// Columns per tile: a view's samples for the second column are mostly the
// first one's (AMD Zen 4, a stack of 16 at 512 x 360: against one column of
// 16 rows, 1.15x to 1.35x with pixels 4 detector spacings wide, 1.04x on
// the unit grid; four columns of four rows, 0.88x to 1.0x of two). One
// where the registers hold a single square of slices (32-bit AVX2).
template <SliceLanes Lanes>
inline constexpr int sliceTileColumns = sliceTilePixels<Lanes> >= 2 * Lanes::width ? 2 : 1;
// The samples one tile reads from a chunk of views, in bytes: they
// stay in the L2 cache until the next column's tile reads most of them
// again. (AMD Zen 4, a stack of 16 at 512 x 360: from one chunk of all views
// to 128 KiB chunks, pixels 4 detector spacings wide 1.1x to 1.35x faster
// and the unit grid within the noise; 32 KiB to 512 KiB within the noise.)
inline constexpr double sliceChunkBytes = 128 * 1024;

// Where a tile's pixels read, per pixel and view: spread()'s target. The slot
// is counted in doubles from the view's interleaved column, slot 0 (zero)
// where no sample is read; the linear sampler's weight is f, 0 where no
// sample is read.
template <SliceLanes Lanes, bool weighted>
struct SliceLandings {
    using Real = typename Lanes::Real;
    static constexpr int width = Lanes::width;
    static constexpr int tilePixels = sliceTilePixels<Lanes>;
    alignas(64) std::int32_t slot[tilePixels][width];
    alignas(64) double weight[weighted ? tilePixels : 1][width];

    struct Row {
        SliceLandings& tile;
        Real firstSlot;  // where offset 0 sits, in slots
        int row;
        Real lo{};
        typename Lanes::Mask loOnDetector{};
        bool hasLo = false;

        void add(Real offset, typename Lanes::Mask onDetector) { storeSlot(offset, onDetector); }
        // The linear sampler's lo then hi: hi's weight is f, and a sample is
        // read where either is on the detector.
        void add(Real offset, typename Lanes::Mask onDetector, Real scale) {
            if (!hasLo) {
                lo = offset;
                loOnDetector = onDetector;
                hasLo = true;
                return;
            }
            const auto either = Lanes::maskOr(loOnDetector, onDetector);
            storeSlot(lo, either);
            Lanes::store(tile.weight[row], Lanes::select(either, scale));
        }
        void storeSlot(Real offset, typename Lanes::Mask read) {
            const Real slot = Lanes::mul(Lanes::add(offset, firstSlot), Lanes::splat(width));
            Lanes::storeWholeNumbers(tile.slot[row], Lanes::select(read, slot));
        }
    };
};

template <SliceLanes Lanes>
std::int32_t sliceViewGroups(const BackprojectionJob& shape) {
    return shape.viewCount > 0 ? (shape.viewCount + Lanes::width - 1) / Lanes::width : 0;
}

// The chains of a block's columns and the groups' coefficients, in doubles
// (the largest size_t where that does not fit in one, which no allocation
// grants).
template <SliceLanes Lanes>
std::size_t backprojectionSliceScratchSize(const BackprojectionJob& shape) {
    const std::uint64_t doubles =
        static_cast<std::uint64_t>(sliceViewGroups<Lanes>(shape)) *
        (sliceBlockColumns + sizeof(ViewGroup<Lanes>) / sizeof(typename Lanes::Real)) *
        Lanes::width;
    return doubles > SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(doubles);
}

// Image columns [firstColumn, endColumn) of `count` slices (1 <= count <=
// width), their sinograms interleaved; `scratch` holds
// backprojectionSliceScratchSize doubles, 64-byte aligned.
template <SliceLanes Lanes>
void backprojectSlicesInLanes(const BackprojectionJob* slices, std::int32_t count,
                              const double* sinograms, std::int32_t firstColumn,
                              std::int32_t endColumn, double* scratch) {
    using Real = typename Lanes::Real;
    constexpr int width = Lanes::width;
    constexpr int tilePixels = sliceTilePixels<Lanes>;
    constexpr int tileColumns = sliceTileColumns<Lanes>;
    constexpr int columnRows = tilePixels / tileColumns;
    static_assert(columnRows % width == 0, "a tile's columns are whole squares of slices");
    static_assert(sliceBlockColumns % tileColumns == 0, "blocks hold whole tiles");
    const BackprojectionJob& job = slices[0];
    if (job.imageSize <= 0 || job.viewCount <= 0) return;
    const std::ptrdiff_t imageSize = job.imageSize;
    const double centerOffset = centerOffsetOf(job.imageSize);
    const DetectorColumn shape = detectorColumn(job.projections, job.detectorCount, 0);
    const std::ptrdiff_t slots = sinogramSlots(job.detectorCount);
    const std::int32_t groupCount = sliceViewGroups<Lanes>(job);
    auto* groups = reinterpret_cast<ViewGroup<Lanes>*>(scratch);
    auto* chains = reinterpret_cast<Real*>(groups + groupCount);
    for (std::int32_t g = 0; g < groupCount; ++g)
        groups[g] = ViewGroup<Lanes>(job, g * width, smaller(width, job.viewCount - g * width),
                                     centerOffset);
    withSampler(job.interpCode, [&](auto sampler) {
        using Sampler = decltype(sampler);
        constexpr bool weighted = Sampler::readsNextSample;
        using Landings = SliceLandings<Lanes, weighted>;
        const Real firstSlot = Lanes::splat(shape.center + firstSinogramSlot);
        Landings landings[2];
        // Group g's slots for the tile below its chains `chain` (one per
        // column of the tile), the tile's columns one after another.
        auto land = [&](std::int32_t g, Real* chain) {
            Landings& tile = landings[g & 1];
            for (int column = 0; column < tileColumns; ++column) {
                Real t = chain[column];
                for (int r = 0; r < columnRows; ++r) {
                    typename Landings::Row target{tile, firstSlot, column * columnRows + r};
                    Sampler::template spread<Lanes>(shape, t, target);
                    t = Lanes::sub(t, groups[g].sines);
                }
                chain[column] = t;
            }
        };
        // The groups from `chunk` on whose samples for one tile fit
        // the budget (at least one): a view's coordinate moves |s| slots a
        // row, at most one slot a row is read, and the linear sampler reads
        // the next slot too.
        auto chunkEndOf = [&](std::int32_t chunk) {
            double bytes = 0;
            std::int32_t end = chunk;
            while (end < groupCount) {
                double groupBytes = 0;
                for (int i = 0; i < width; ++i) {
                    const std::int32_t v = end * width + i;
                    if (v >= job.viewCount) break;
                    // smaller() reads NaN as no bound; not std::fmin, whose
                    // mixed-type template would be a weak symbol at -O0.
                    const double slotsRead =
                        smaller<double>(tilePixels, tilePixels * __builtin_fabs(job.sines[v]) + 2);
                    groupBytes += slotsRead * width * sizeof(double);
                }
                if (end > chunk && bytes + groupBytes > sliceChunkBytes) break;
                bytes += groupBytes;
                ++end;
            }
            return end;
        };
        for (std::int32_t block = firstColumn; block < endColumn; block += sliceBlockColumns) {
            const int columns = smaller(sliceBlockColumns, endColumn - block);
            const int roundedColumns = (columns + tileColumns - 1) / tileColumns * tileColumns;
            for (std::int32_t chunk = 0, chunkEnd; chunk < groupCount; chunk = chunkEnd) {
                chunkEnd = chunkEndOf(chunk);
                // A last tile's missing columns get chains too (never stored).
                for (int c = 0; c < roundedColumns; ++c) {
                    const Real column = Lanes::splat(static_cast<double>(block + c));
                    for (std::int32_t g = chunk; g < chunkEnd; ++g)
                        chains[g * sliceBlockColumns + c] = columnTop<Lanes>(
                            column, -centerOffset, groups[g].cosines, groups[g].scaledSines);
                }
                for (std::ptrdiff_t top = 0; top < imageSize; top += columnRows) {
                    const int tileRows =
                        static_cast<int>(smaller<std::ptrdiff_t>(columnRows, imageSize - top));
                    for (int c = 0; c < columns; c += tileColumns) {
                        const int tileColumnCount = smaller(tileColumns, columns - c);
                        // Where tile pixel p sits in each slice's image.
                        auto pixelAt = [&](int p) {
                            return (block + c + p / columnRows) * imageSize + top + p % columnRows;
                        };
                        Real sums[tilePixels];
                        const bool whole = count == width && tileRows == columnRows &&
                                           tileColumnCount == tileColumns;
                        alignas(64) double values[tilePixels][width];
                        if (whole) {
                            // Each slice's column in vectors, turned into each pixel's slices.
                            for (int square = 0; square < tilePixels; square += width) {
                                Real part[width];
                                for (int i = 0; i < width; ++i)
                                    part[i] = Lanes::load(slices[i].image + pixelAt(square));
                                Lanes::transpose(part);
                                for (int r = 0; r < width; ++r) sums[square + r] = part[r];
                            }
                        } else {
                            for (int r = 0; r < tilePixels; ++r) {
                                const bool inImage =
                                    r % columnRows < tileRows && r / columnRows < tileColumnCount;
                                for (int i = 0; i < width; ++i)
                                    values[r][i] =
                                        i < count && inImage ? slices[i].image[pixelAt(r)] : 0.0;
                            }
                            for (int r = 0; r < tilePixels; ++r) sums[r] = Lanes::load(values[r]);
                        }
                        land(chunk, chains + chunk * sliceBlockColumns + c);
                        for (std::int32_t g = chunk; g < chunkEnd; ++g) {
                            if (g + 1 < chunkEnd)
                                land(g + 1, chains + (g + 1) * sliceBlockColumns + c);
                            const Landings& tile = landings[g & 1];
                            const int views = smaller(width, job.viewCount - g * width);
                            for (int i = 0; i < views; ++i) {
                                const double* column = sinograms + (g * width + i) * slots * width;
                                for (int r = 0; r < tilePixels; ++r) {
                                    const double* at = column + tile.slot[r][i];
                                    Real value = Lanes::load(at);
                                    if constexpr (weighted) {
                                        value = Sampler::template blend<Lanes>(
                                            Lanes::splat(tile.weight[r][i]), value,
                                            Lanes::sub(Lanes::load(at + width), value));
                                    }
                                    sums[r] = Lanes::add(sums[r], value);
                                }
                            }
                        }
                        if (whole) {
                            for (int square = 0; square < tilePixels; square += width) {
                                Real part[width];
                                for (int r = 0; r < width; ++r) part[r] = sums[square + r];
                                Lanes::transpose(part);
                                for (int i = 0; i < width; ++i)
                                    Lanes::store(slices[i].image + pixelAt(square), part[i]);
                            }
                        } else {
                            for (int r = 0; r < tilePixels; ++r) Lanes::store(values[r], sums[r]);
                            for (int r = 0; r < tilePixels; ++r) {
                                if (r % columnRows >= tileRows || r / columnRows >= tileColumnCount)
                                    continue;
                                for (int i = 0; i < count; ++i)
                                    slices[i].image[pixelAt(r)] = values[r][i];
                            }
                        }
                    }
                }
            }
        }
    });
}

}  // namespace
}  // namespace quelmor::detail
