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
#include <utility>

#include "geometry.h"
#include "lanes.h"
#include "samplers.h"
#include "variant_entries.h"

namespace quelmor::detail {
namespace {

// What the projection adds to BlockLanes: whole numbers (|x| < 2^31) stored
// as 32-bit integers, lanes that differ, a mask stored as doubles' bits, and
// a load where such a mask is set.
template <class L>
concept ProjectionLanes = BlockLanes<L> &&
    requires(std::int32_t* out, double* flags, typename L::Real x, typename L::Mask m) {
    L::storeWholeNumbers(out, x);
    { L::allLanes() } -> std::same_as<typename L::Mask>;
    { L::differs(x, x) } -> std::same_as<typename L::Mask>;
    L::storeMask(flags, m);
    { L::loadWhere(flags, x, flags) } -> std::same_as<typename L::Real>;
};

// Rows of a column whose landings are worked out before they are added. Few,
// so that the processor works out the next tile's landings while this
// tile's additions wait on their loads and stores (AMD Zen 4, 512 x 360,
// against 32 rows: one image nearest 1.16x with AVX-512, 1.14x with AVX2,
// 1.51x with SSE4.1, 1.38x with SSE2, linear 1.07x to 1.12x; a stack of 16
// 1.11x / 1.16x; 4 rows slower again).
inline constexpr int tileRows = 8;
// Groups of `width` views that one chunk carries.
inline constexpr int groupsPerChunk = 4;

// Slices per pack: one vector per sample. (Two vectors, so that each
// landing's address and flags serve twice the slices, halved the views a
// chunk holds in the cache and measured slower on AMD Zen 5.)
template <ProjectionLanes Lanes>
inline constexpr int packSlices = Lanes::width;
// Where sample 0 sits in a pack's interleaved view column (sliceColumnSlots).
inline constexpr int firstSampleSlot = 2;

// Where one tile's pixels land, per row and lane: the spread() target,
// `part` counting the landings of one pixel (lo, then hi), with the weight
// for the linear sampler. One image takes the sample index (-1 where nothing
// lands). A pack of slices takes offsets into a view's interleaved column
// (sliceColumnSlots) to store its running sum at, and to load it from where
// the landing moved since the row before (`moved`; the never-stored slot 0
// elsewhere).
template <ProjectionLanes Lanes, bool weighted, bool slices>
struct TileLandings {
    using Real = typename Lanes::Real;
    static constexpr int width = Lanes::width;
    static constexpr int parts = weighted ? 2 : 1;
    alignas(64) std::int32_t index[slices ? 1 : tileRows][parts][width];
    alignas(64) std::int32_t storeAt[slices ? tileRows : 1][parts][width];
    alignas(64) std::int32_t loadAt[slices ? tileRows : 1][parts][width];
    alignas(64) double moved[slices ? tileRows : 1][parts][width];
    alignas(64) double weight[weighted ? tileRows : 1][parts][width];
    Real center;

    // One row's landings: spread()'s target. Its row, part and the slots of
    // the row before are its own values, apart from the arrays, so that they
    // stay in registers while the arrays are written.
    struct Row {
        TileLandings& tile;
        Real (&previous)[parts];
        int row;
        int part = 0;

        void add(Real offset, typename Lanes::Mask onDetector) {
            // index + 1 on the detector, +0.0 elsewhere: whole numbers, exact.
            const Real one = Lanes::splat(1.0);
            const Real shifted =
                Lanes::select(onDetector, Lanes::add(Lanes::add(offset, tile.center), one));
            if constexpr (slices) {
                // Slot index + firstSampleSlot (1 where nothing lands), in doubles of the column.
                const Real slot =
                    Lanes::mul(Lanes::add(shifted, Lanes::splat(firstSampleSlot - 1.0)),
                               Lanes::splat(packSlices<Lanes>));
                const typename Lanes::Mask fresh =
                    row == 0 ? Lanes::allLanes() : Lanes::differs(slot, previous[part]);
                previous[part] = slot;
                Lanes::storeWholeNumbers(tile.storeAt[row][part], slot);
                Lanes::storeWholeNumbers(tile.loadAt[row][part], Lanes::select(fresh, slot));
                Lanes::storeMask(tile.moved[row][part], fresh);
            } else {
                Lanes::storeWholeNumbers(tile.index[row][part], Lanes::sub(shifted, one));
            }
        }
        void add(Real offset, typename Lanes::Mask onDetector, Real scale) {
            Lanes::store(tile.weight[row][part], scale);
            add(offset, onDetector);
            ++part;
        }
    };
};

// Views [firstView, endView) in chunks of chunkViews (at most groupsPerChunk
// groups): startChunk(first, end), then for every column, group and tile of
// rows addTile(group, landings, firstPixel, rows), then endChunk(first, end).
template <ProjectionLanes Lanes, class Sampler, bool slices, class StartChunk, class AddTile,
          class EndChunk>
void landViews(const ProjectionJob& job, std::int32_t firstView, std::int32_t endView,
               std::int32_t chunkViews, StartChunk&& startChunk, AddTile&& addTile,
               EndChunk&& endChunk) {
    constexpr int width = Lanes::width;
    constexpr bool weighted = std::is_same_v<Sampler, LinearSampler>;
    const double centerOffset = centerOffsetOf(job.imageSize);
    const std::ptrdiff_t imageSize = job.imageSize;
    const DetectorColumn shape = detectorColumn(job.sinogram, job.detectorCount, 0);
    using Landings = TileLandings<Lanes, weighted, slices>;
    Landings landings;
    landings.center = Lanes::splat(shape.center);
    typename Lanes::Real previous[Landings::parts];
    for (std::int32_t chunk = firstView, chunkEnd; chunk < endView; chunk = chunkEnd) {
        chunkEnd = static_cast<std::int32_t>(
            smaller<std::int64_t>(endView, std::int64_t{chunk} + chunkViews));
        ViewGroup<Lanes> groups[groupsPerChunk];
        int groupCount = 0;
        for (std::int32_t v = chunk; v < chunkEnd; v += width)
            groups[groupCount++] =
                ViewGroup<Lanes>(job, v, smaller(width, chunkEnd - v), centerOffset);
        startChunk(chunk, chunkEnd);
        for (std::ptrdiff_t j = 0; j < imageSize; ++j) {
            const auto column = Lanes::splat(static_cast<double>(j));
            for (int g = 0; g < groupCount; ++g) {
                auto t = columnTop<Lanes>(column, -centerOffset, groups[g].cosines,
                                          groups[g].scaledSines);
                for (std::ptrdiff_t k = 0; k < imageSize; k += tileRows) {
                    const int rows =
                        static_cast<int>(smaller<std::ptrdiff_t>(tileRows, imageSize - k));
                    for (int r = 0; r < rows; ++r) {
                        typename Landings::Row target{landings, previous, r};
                        Sampler::template spread<Lanes>(shape, t, target);
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
                if constexpr (parts == 2) {
                    // The row's weighted pixels for every view at once, and
                    // one branch per view where both samples are on the
                    // detector (the products as the reference rounds them).
                    alignas(64) double products[parts][width];
                    for (int part = 0; part < parts; ++part)
                        Lanes::store(
                            products[part],
                            Lanes::mul(Lanes::load(landings.weight[r][part]), Lanes::splat(pixel)));
                    for (int i = 0; i < width; ++i) {
                        const std::int32_t lo = landings.index[r][0][i];
                        const std::int32_t hi = landings.index[r][1][i];
                        double* column = columns[g][i];
                        if ((lo | hi) >= 0) {
                            column[lo] = column[lo] + products[0][i];
                            column[hi] = column[hi] + products[1][i];
                        } else {
                            if (lo >= 0) column[lo] = column[lo] + products[0][i];
                            if (hi >= 0) column[hi] = column[hi] + products[1][i];
                        }
                    }
                } else {
                    for (int i = 0; i < width; ++i) {
                        const std::int32_t b = landings.index[r][0][i];
                        if (b >= 0) columns[g][i][b] = columns[g][i][b] + pixel;
                    }
                }
            }
        };
        landViews<Lanes, Sampler, false>(job, firstView, endView, groupsPerChunk * width,
                                         startChunk, addTile, [](std::int32_t, std::int32_t) {});
    });
}

// Slots of one view's interleaved column (packSlices doubles each): slot 0 is
// never stored, slot 1 takes what lands nowhere, slot b + firstSampleSlot is
// sample b.
inline std::ptrdiff_t sliceColumnSlots(std::int32_t detectorCount) {
    return (detectorCount > 0 ? detectorCount : 0) + firstSampleSlot;
}

// Views per chunk of the slice path: their interleaved columns within a
// megabyte, the L2 of recent processors, since each chunk reads the whole
// pack of images once; at least one group.
template <ProjectionLanes Lanes>
std::int32_t sliceChunkViews(std::int32_t detectorCount) {
    constexpr std::int64_t width = Lanes::width;
    const std::int64_t column = 8 * packSlices<Lanes> * sliceColumnSlots(detectorCount);
    const std::int64_t views = (std::int64_t{1} << 20) / column / width * width;
    return static_cast<std::int32_t>(views < width                    ? width
                                     : views > groupsPerChunk * width ? groupsPerChunk * width
                                                                      : views);
}

template <ProjectionLanes Lanes>
std::size_t sliceScratchSize(const ProjectionJob& shape) {
    return static_cast<std::size_t>(sliceChunkViews<Lanes>(shape.detectorCount)) *
           static_cast<std::size_t>(sliceColumnSlots(shape.detectorCount)) * packSlices<Lanes>;
}

// Calls f(i) for i = 0 .. count - 1, unrolled, so arrays indexed by i can
// live in registers. (Plain ints: an integral_constant's conversion would be
// a shared weak symbol in every instruction set's object at -O0.)
template <int count, class F>
[[gnu::always_inline]] inline void forEachLane(F&& f) {
    [&]<int... i>(std::integer_sequence<int, i...>) { (f(i), ...); }
    (std::make_integer_sequence<int, count>{});
}

// A pack of slices: each chunk's columns are interleaved into `scratch`
// (sample b of view v, slice i at ((v - first) slots + b + firstSampleSlot)
// packSlices + i),
// take one vector per landing, and go back to their sinograms.
//
// Down one column of the image a view's coordinate moves one way, so each
// sample's pixels arrive one after another. The running sum of the sample a
// view's pixel lands on stays in a register while the next pixel lands
// there too, and is stored every row; a sample is loaded only where a
// landing moves onto it, which no store of the tile has touched since, so no
// load waits for a store. Either way each sum takes the same additions in
// the same order as in memory.
template <ProjectionLanes Lanes>
void projectSlicesInLanes(const ProjectionJob* slices, std::int32_t count,
                          const double* interleaved, std::int32_t firstView, std::int32_t endView,
                          double* scratch) {
    constexpr int width = Lanes::width;
    constexpr int pack = packSlices<Lanes>;
    using Real = typename Lanes::Real;
    const ProjectionJob& job = slices[0];
    const std::ptrdiff_t detectorCount = job.detectorCount > 0 ? job.detectorCount : 0;
    const std::ptrdiff_t slots = sliceColumnSlots(job.detectorCount);
    auto interleavedColumns = [&](std::int32_t first, std::int32_t end, auto&& move) {
        for (std::int32_t v = first; v < end; ++v) {
            double* lanes = scratch + ((v - first) * slots + firstSampleSlot) * pack;
            for (std::ptrdiff_t b = 0; b < detectorCount; ++b) {
                for (int i = 0; i < pack; ++i) {
                    move(lanes[b * pack + i],
                         i < count ? slices[i].sinogram + v * detectorCount + b : nullptr);
                }
            }
        }
    };
    auto startChunk = [&](std::int32_t first, std::int32_t end) {
        for (std::int32_t v = first; v < end; ++v) {
            double* unused = scratch + (v - first) * slots * pack;
            // Not std::fill: at -O0 its out-of-line copy is a weak symbol
            // another instruction set's object could supply.
            for (int i = 0; i < firstSampleSlot * pack; ++i) unused[i] = 0.0;
        }
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
        // A tile's pixels into its views' columns, row by row.
        auto addTile = [&](int g, const auto& landings, std::ptrdiff_t firstPixel, int rows) {
            constexpr int parts = std::remove_cvref_t<decltype(landings)>::parts;
            double* columns[width];
            Real sums[width][parts];
            forEachLane<width>([&](int i) {
                columns[i] = scratch + (g * width + i) * slots * pack;
                // Never kept: the first row of a tile loads every sum.
                for (int part = 0; part < parts; ++part) sums[i][part] = Lanes::splat(0.0);
            });
            for (int r = 0; r < rows; ++r) {
                const Real pixel = Lanes::load(interleaved + (firstPixel + r) * pack);
                forEachLane<width>([&](int i) {
                    for (int part = 0; part < parts; ++part) {
                        Real contribution = pixel;
                        if constexpr (parts == 2)
                            contribution =
                                Lanes::mul(Lanes::splat(landings.weight[r][part][i]), pixel);
                        const Real sum =
                            Lanes::loadWhere(&landings.moved[r][part][i], sums[i][part],
                                             columns[i] + landings.loadAt[r][part][i]);
                        sums[i][part] = Lanes::add(sum, contribution);
                        Lanes::store(columns[i] + landings.storeAt[r][part][i], sums[i][part]);
                    }
                });
            }
        };
        landViews<Lanes, Sampler, true>(job, firstView, endView,
                                        sliceChunkViews<Lanes>(job.detectorCount), startChunk,
                                        addTile, endChunk);
    });
}

// A variant's projection entries on its lanes.
template <ProjectionLanes Lanes>
constexpr ProjectionKernel laneProjectionKernel() {
    return ProjectionKernel{projectViewsInLanes<Lanes>, projectSlicesInLanes<Lanes>,
                            sliceScratchSize<Lanes>, packSlices<Lanes>};
}

}  // namespace
}  // namespace quelmor::detail
