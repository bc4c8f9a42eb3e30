// The SIMD sweep, written once over a vector Lanes type (BlockLanes in
// lanes.h) and compiled once per instruction set.
//
// Lanes hold neighbouring columns at the same row. A pass takes one block of
// `width` columns through up to viewsPerPass consecutive views: the block goes
// down in square tiles of width rows, and the pass's views cross each tile in
// order, a few abreast, row by row. Each view keeps its own stepped coordinate
// vector and each pixel receives the pass's views in increasing order, so
// every pixel sum and every coordinate chain is the reference sweep's. A
// tile's pixels move between column-major storage and row vectors through
// square in-register transposes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "geometry.h"
#include "lanes.h"
#include "samplers.h"
#include "sliced_backprojection.h"
#include "variant_entries.h"
#include "windowed_samples.h"

namespace quelmor::detail {
namespace {

// The pixel sum and the coordinate step, on the multiply-add pipes where the
// lanes offer it (the same rounding: see the lanes).
template <class Lanes>
typename Lanes::Real accumulate(typename Lanes::Real a, typename Lanes::Real b) {
    if constexpr (requires { Lanes::addOnMultiplier(a, b); }) return Lanes::addOnMultiplier(a, b);
    return Lanes::add(a, b);
}
template <class Lanes>
typename Lanes::Real stepDown(typename Lanes::Real a, typename Lanes::Real b) {
    if constexpr (requires { Lanes::subOnMultiplier(a, b); }) return Lanes::subOnMultiplier(a, b);
    return Lanes::sub(a, b);
}

// x * 1 is exact, so fma(x, 1, y) rounds exactly as x + y does (and
// fnmadd(y, 1, x) as x - y): lanes with multiplyAdd put the pixel sums and
// the coordinate steps on the multiply-add pipes, never fusing a real product
// with an addition. The sampler's additions stay on the adders.
template <class Lanes>
struct SumsOnMultiplier : Lanes {
    using Real = typename Lanes::Real;
    static Real addOnMultiplier(Real a, Real b) {
        return Lanes::multiplyAdd(a, Lanes::splat(1.0), b);
    }
    static Real subOnMultiplier(Real a, Real b) {
        return Lanes::negatedMultiplyAdd(b, Lanes::splat(1.0), a);
    }
};

// The windowed variants' passes: 32 views over two blocks side by side.
// Each tile's two transposes cost a pass as much as a view or two do, so
// passes are long; at 64 views they carry more sample streams than the cache
// keeps. Two blocks per group share each pass's samples in the cache.
template <class Lanes>
struct WindowedPasses : Lanes {
    static constexpr int viewsPerPass = 32;
    static constexpr int blocksPerGroup = 2;
};

// A view's samples for the tiles: source(view) gives the samples of its next
// rowsPerSource rows (GatheredSamples' interface). This one gathers them from
// the view's column, lane by lane.
template <BlockLanes Lanes, class Sampler>
struct GatheredView {
    static constexpr int rowsPerSource = 1;
    GatheredView() = default;
    GatheredView(const BackprojectionJob&, std::int32_t, std::int32_t) {}
    GatheredSamples<Lanes> source(const DetectorColumn& view) const {
        return GatheredSamples<Lanes>{view};
    }
};

// Views that cross a tile side by side: their coordinate chains are
// independent, so the processor overlaps them. As many as the vector
// registers hold beside the tile's rows (windows take several each), at
// most four; two where samples are gathered.
template <class Lanes, class ViewSamples>
constexpr int viewsAbreastFor() {
    if constexpr (Lanes::viewsPerPass < 2) {
        return 1;
    } else if constexpr (requires { ViewSamples::registersPerView; }) {
        constexpr int fit = (Lanes::registers - 2 - Lanes::width) / ViewSamples::registersPerView;
        return fit >= 4 ? 4 : fit >= 2 ? 2 : 1;
    } else {
        return 2;
    }
}

template <BlockLanes Lanes, class Sampler, template <class, class> class ViewSamples = GatheredView>
struct ViewPass {
    using Real = typename Lanes::Real;
    static constexpr int width = Lanes::width;
    static constexpr int maxViews = Lanes::viewsPerPass;
    static constexpr int rowsPerSource = ViewSamples<Lanes, Sampler>::rowsPerSource;
    static constexpr int viewsAbreast = viewsAbreastFor<Lanes, ViewSamples<Lanes, Sampler>>();

    int views;
    // Every view's column has the same shape; only where it starts differs.
    DetectorColumn shape;
    const double* columnStarts[maxViews];
    Real coordinates[maxViews];
    double sines[maxViews];
    ViewSamples<Lanes, Sampler> samples[maxViews];

    // Views [firstView, firstView + views) through the block at firstColumn.
    ViewPass(const BackprojectionJob& job, std::int32_t firstColumn, std::int32_t firstView,
             int views)
        : views(views), shape(detectorColumn(job, firstView)) {
        const double centerOffset = centerOffsetOf(job.imageSize);
        const Real column =
            Lanes::add(Lanes::splat(static_cast<double>(firstColumn)), Lanes::laneIndex());
        for (int g = 0; g < views; ++g) {
            const std::int32_t v = firstView + g;
            columnStarts[g] = detectorColumn(job, v).samples;
            coordinates[g] = columnTop<Lanes>(column, -centerOffset, job.cosines[v],
                                              centerOffset * job.sines[v]);
            sines[g] = job.sines[v];
            samples[g] = ViewSamples<Lanes, Sampler>(job, v, firstColumn);
        }
    }

    // Views g .. g + n - 1 down `rows` rows of a tile (at most width): each
    // row receives them in order, and each view's coordinate steps row by row.
    template <int n>
    [[gnu::always_inline]] void viewsDownTile(int g, Real* pixels, int rows) {
        DetectorColumn views[n];
        Real t[n], step[n];
        for (int i = 0; i < n; ++i) {
            views[i] = shape;
            views[i].samples = columnStarts[g + i];
            t[i] = coordinates[g + i];
            step[i] = Lanes::splat(sines[g + i]);
        }
        using Source = decltype(samples[g].source(views[0]));
        Source sources[n];
#pragma GCC unroll 16
        for (int row = 0; row < rows; ++row) {
            if (row % rowsPerSource == 0) {
                for (int i = 0; i < n; ++i) sources[i] = samples[g + i].source(views[i]);
            }
            for (int i = 0; i < n; ++i) {
                pixels[row] = accumulate<Lanes>(
                    pixels[row], Sampler::template sample<Lanes>(views[i], t[i], sources[i]));
                t[i] = stepDown<Lanes>(t[i], step[i]);
            }
        }
        for (int i = 0; i < n; ++i) coordinates[g + i] = t[i];
    }
    [[gnu::always_inline]] void allViewsDownTile(Real* pixels, int rows) {
        int g = 0;
        for (; g + viewsAbreast <= views; g += viewsAbreast)
            viewsDownTile<viewsAbreast>(g, pixels, rows);
        if constexpr (viewsAbreast > 2) {
            if (g + 2 <= views) {
                viewsDownTile<2>(g, pixels, rows);
                g += 2;
            }
        }
        if constexpr (viewsAbreast > 1) {
            if (g < views) viewsDownTile<1>(g, pixels, rows);
        }
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
                allViewsDownTile(pixels, width);
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
            Real pixels[width];
            for (int row = 0; row < width; ++row) pixels[row] = Lanes::load(staged[row]);
            allViewsDownTile(pixels, rows);
            for (int row = 0; row < width; ++row) Lanes::store(staged[row], pixels[row]);
            for (int lane = 0; lane < columns; ++lane) {
                for (int row = 0; row < rows; ++row)
                    blockTop[lane * imageSize + k + row] = staged[row][lane];
            }
        }
    }
};

// How a view's samples reach the lanes: an index into the lanes' window
// plans (windowPlans), or gathered.
using ViewKind = int;
template <class Lanes>
inline constexpr auto plansOf = windowPlans<Lanes::width>();
template <class Lanes>
inline constexpr ViewKind gatheredKind = static_cast<ViewKind>(plansOf<Lanes>.size());

template <BlockLanes Lanes, class Sampler, bool windows>
ViewKind viewKind(const BackprojectionJob& job, std::int32_t view) {
    if constexpr (windows) {
        ViewKind kind = gatheredKind<Lanes>;
        // The first plan that covers the view.
        [&]<std::size_t... i>(std::index_sequence<i...>) {
            (void)((windowsCover<Lanes, Sampler, plansOf<Lanes>[i].rows, plansOf<Lanes>[i].parts>(
                        job, view) &&
                    (kind = static_cast<ViewKind>(i), true)) ||
                   ...);
        }
        (std::make_index_sequence<plansOf<Lanes>.size()>());
        return kind;
    }
    (void)job;
    (void)view;
    return gatheredKind<Lanes>;
}

// Views from `first` on of one kind, at most `limit` of them.
template <class KindOf>
std::int32_t runOfViews(std::int32_t first, std::int32_t viewCount, std::int32_t limit,
                        ViewKind kind, KindOf&& kindOf) {
    std::int32_t count = 0;
    while (count < limit && first + count < viewCount && kindOf(first + count) == kind) ++count;
    return count;
}

// One pass of `views` views of one kind from `firstView` through a block.
template <BlockLanes Lanes, class Sampler, bool windows>
void runPass(const BackprojectionJob& job, std::int32_t firstColumn, std::int32_t firstView,
             int views, ViewKind kind, double* blockTop, std::ptrdiff_t imageSize,
             std::int32_t columns) {
    if constexpr (windows) {
        const bool windowed = [&]<std::size_t... i>(std::index_sequence<i...>) {
            return ((kind == static_cast<ViewKind>(i) &&
                     (ViewPass<Lanes, Sampler, PlannedWindows<plansOf<Lanes>[i]>::template View>(
                          job, firstColumn, firstView, views)
                          .run(blockTop, imageSize, columns),
                      true)) ||
                    ...);
        }
        (std::make_index_sequence<plansOf<Lanes>.size()>());
        if (windowed) return;
    }
    ViewPass<Lanes, Sampler>(job, firstColumn, firstView, views).run(blockTop, imageSize, columns);
}

template <class Lanes>
constexpr int blocksPerGroup() {
    if constexpr (requires { Lanes::blocksPerGroup; }) return Lanes::blocksPerGroup;
    return 1;
}

// Views that a chunk holds: their columns together stay within chunkBytes,
// half a core's L2 on current x86 processors (1 MiB on Zen 4; the README's
// speed section has the measurements), so that every column group of the
// image reads them from the cache; at least one pass, and whole passes.
inline constexpr std::int64_t chunkBytes = std::int64_t{512} << 10;
template <class Lanes>
std::int32_t viewsPerChunk(std::int32_t detectorCount) {
    constexpr std::int64_t pass = Lanes::viewsPerPass;
    const std::int64_t column =
        8 * static_cast<std::int64_t>(detectorCount > 0 ? detectorCount : 1);
    const std::int64_t views = chunkBytes / column / pass * pass;
    return static_cast<std::int32_t>(views < pass ? pass : views > (1 << 30) ? (1 << 30) : views);
}

// Views in chunks, and within each chunk column blocks outermost: a block's
// pixels stay in cache while the chunk's views pass over them, and the
// chunk's samples stay in cache while every block takes them. With
// `windows`, each view's samples are picked from windows where its
// coefficients allow (windowed_samples.h) and gathered where they do not; a
// pass carries views of one kind, and views still reach each pixel in order.
template <BlockLanes Lanes, bool windows>
void blockedSweepColumns(const BackprojectionJob& job, std::int32_t firstColumn,
                         std::int32_t endColumn) {
    constexpr int width = Lanes::width;
    const std::ptrdiff_t imageSize = job.imageSize;
    const std::int32_t chunkViews = viewsPerChunk<Lanes>(job.detectorCount);
    withSampler(job.interpCode, [&](auto sampler) {
        using Sampler = decltype(sampler);
        auto kindOf = [&job](std::int32_t view) {
            return viewKind<Lanes, Sampler, windows>(job, view);
        };
        // Blocks side by side take each pass of views in turn: their
        // samples lie close together, so a pass's samples come from the cache
        // once for the whole group.
        constexpr std::int32_t groupWidth = width * blocksPerGroup<Lanes>();
        for (std::int32_t chunk = 0, chunkEnd; chunk < job.viewCount; chunk = chunkEnd) {
            chunkEnd = static_cast<std::int32_t>(
                smaller<std::int64_t>(job.viewCount, std::int64_t{chunk} + chunkViews));
            for (std::int32_t group = firstColumn; group < endColumn; group += groupWidth) {
                const std::int32_t groupEnd = smaller(endColumn, group + groupWidth);
                for (std::int32_t v = chunk; v < chunkEnd;) {
                    const ViewKind kind = kindOf(v);
                    const std::int32_t run =
                        runOfViews(v, chunkEnd, Lanes::viewsPerPass, kind, kindOf);
                    for (std::int32_t j = group; j < groupEnd; j += width) {
                        runPass<Lanes, Sampler, windows>(job, j, v, run, kind,
                                                         job.image + j * imageSize, imageSize,
                                                         smaller(width, groupEnd - j));
                    }
                    v += run;
                }
            }
        }
    });
}

// A variant's entry: the blocked sweep on its lanes, and its lanes across
// slices for stacks.
template <BlockLanes Lanes, bool windowed>
constexpr BackprojectionKernel sweepKernel() {
    return BackprojectionKernel{blockedSweepColumns<Lanes, windowed>, Lanes::width,
                                backprojectSlicesInLanes<Lanes>,
                                backprojectionSliceScratchSize<Lanes>, Lanes::width};
}
template <BlockLanes Lanes>
constexpr BackprojectionKernel blockedSweepKernel() {
    return sweepKernel<Lanes, false>();
}
template <WindowLanes Lanes>
constexpr BackprojectionKernel windowedSweepKernel() {
    return sweepKernel<Lanes, true>();
}

}  // namespace
}  // namespace quelmor::detail
