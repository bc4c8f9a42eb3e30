// Samples for one view, picked from a window of consecutive samples instead
// of gathered lane by lane.
//
// Within one view the coordinates of a row's lanes and of a column's rows
// are monotone (each chain is the same rounded operations on ordered
// inputs): neighbouring lanes differ by about the cosine c, neighbouring rows
// by about the sine s. So every sample index that `rows` rows of a block can
// use lies within
//   start = floor(lowest coordinate + lowShift - margin) + center
//   ... start + floor((width - 1)|c| + (rows - 1)|s| + 2 margin) + 1,
// one window of `parts` x windowSize samples while that span stays below
// parts x windowSize - 1 - 2 margin. The linear sampler's next sample comes
// from a second window one sample later, which holds each sample's rise to
// the next (hi - lo). A view takes the cheapest window that serves it: one
// per square tile of the block (rows = width) where its coefficients allow,
// one per fewer rows, or one twice as wide (pixels wider than a detector
// spacing); other views are gathered. A window holds +0.0 for samples off
// the detector, so no lane needs asking whether it is on it.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iterator>

#include "geometry.h"
#include "lanes.h"
#include "scalar_lanes.h"

namespace quelmor::detail {
namespace {

// A window holds windowSize consecutive samples in two vectors, `low` and
// `high`. loadWindow(first) reads them all; loadWindowMasked(address, bits)
// reads element i from address + 8i where bit i of `bits` is set, and never
// touches the others (+0.0 there). pick(window, position) takes lane i's
// sample from window place p mod windowSize, where p is the integer in the
// low mantissa bits of position (an integer plus positionBias), from a
// window that forPicking(), where the lanes define it, has rearranged.
template <class L>
concept WindowLanes = BlockLanes<L> &&
    requires(const double* samples, std::uintptr_t address, unsigned bits, typename L::Real x,
             typename L::Window window) {
    requires L::windowSize > L::width + 2 && L::windowSize <= 16;
    { L::loadWindow(samples) } -> std::same_as<typename L::Window>;
    { L::loadWindowMasked(address, bits) } -> std::same_as<typename L::Window>;
    { L::pick(window, x) } -> std::same_as<typename L::Real>;
    { L::pickEither(x, x, x) } -> std::same_as<typename L::Real>;
    { L::allLanes() } -> std::same_as<typename L::Mask>;
    { window.low } -> std::convertible_to<typename L::Real>;
    { window.high } -> std::convertible_to<typename L::Real>;
};

// Covers every deviation of the coordinates from exact steps of c and s
// (their rounding and the drift of their stepped chains over 46341 rows at
// |t| < 2^27), of u = t + 0.5 from its exact value, and of the fixed-point
// estimate of a window's lowest coordinate (its start's rounding, and 2^-33
// per row from the rounded step), all together below 2^-9.
inline constexpr double windowMargin = 1.0 / 64;
// Coordinates stay below 2^27 in magnitude, where chains drift little.
inline constexpr double largestWindowedSine = 1024.0;

// Whether windows of `parts` x windowSize samples, one per `rows` rows,
// hold every sample this view's lanes use. Lanes may leave a sampler to the
// gathers where its windows measured slower (a `windowed<Sampler>` constant
// says which samplers they window).
template <WindowLanes Lanes, class Sampler, int rows, int parts>
bool windowsCover(const BackprojectionJob& job, std::int32_t view) {
    if constexpr (requires { Lanes::template windowed<Sampler>; }) {
        if (!Lanes::template windowed<Sampler>) return false;
    }
    const double c = std::fabs(job.cosines[view]);
    const double s = std::fabs(job.sines[view]);
    // False for NaN and infinite coefficients as well.
    return s <= largestWindowedSine && (Lanes::width - 1) * c + (rows - 1) * s <
                                           parts * Lanes::windowSize - 1 - 2 * windowMargin;
}

// An integer p with |p| < 2^51, plus 1.5 * 2^52, keeps p in its low mantissa
// bits (as two's complement), negative p included: the sum stays in [2^52, 2^53).
inline constexpr double positionBias = 6755399441055744.0;

// One window's samples for the samplers (see GatheredSamples). Every lane's
// index lies in the window and off-detector samples read +0.0 there, so
// within() holds everywhere and select() keeps everything: the masks the
// gathered samples would apply change nothing.
template <WindowLanes Lanes, int parts>
struct WindowedSamples {
    using Real = typename Lanes::Real;
    using Mask = typename Lanes::Mask;
    // parts x windowSize consecutive samples.
    struct Window {
        typename Lanes::Window part[parts];
        Real pick(Real position) const {
            const Real first = Lanes::pick(part[0], position);
            if constexpr (parts == 1) {
                return first;
            } else {
                return Lanes::pickEither(position, first, Lanes::pick(part[1], position));
            }
        }
    };

    Window window;
    // Each window sample's successor minus it: the linear sampler's hi - lo.
    Window rises;
    // positionBias + center - start: added to an offset from the center
    // sample, it gives the offset's place in the window.
    Real toPosition;

    static Mask within(Real, double, double) { return Lanes::allLanes(); }
    static Real select(Mask, Real x) { return x; }

    Real at(Real offset, Mask) const { return window.pick(Lanes::add(offset, toPosition)); }
    // Rounding the sum toward -infinity lands on floor(x) + the whole-number
    // toPosition exactly (its spacing there is 1), without a separate floor.
    Real atFloor(Real x, Mask mask) const {
        if constexpr (requires { Lanes::addRoundingDown(x, x); }) {
            return window.pick(Lanes::addRoundingDown(x, toPosition));
        }
        return at(Lanes::floor(x), mask);
    }
    Real rise(Real offset, Real, Mask) const { return rises.pick(Lanes::add(offset, toPosition)); }
};

// The integer arithmetic on the bits of toPosition (within [2^52, 2^53) the
// bits count whole numbers). The builtin, not std::bit_cast: no out-of-line
// copy can leave this unit.
inline double toWindowPosition(std::int64_t biasedCenterBits, std::int64_t start) {
    return __builtin_bit_cast(double, biasedCenterBits - start);
}

// Samples [start, start + windowSize) of a detector of `count`, +0.0 for
// those off it. Addresses off the column are formed as integers, and only
// elements on the detector are read.
template <WindowLanes Lanes>
typename Lanes::Window windowWithin(const double* samples, std::int64_t start, std::int64_t count) {
    constexpr std::int64_t size = Lanes::windowSize;
    const std::int64_t first = start < 0 ? (-start < size ? -start : size) : 0;
    const std::int64_t end = count - start < size ? (count - start > 0 ? count - start : 0) : size;
    if (first >= end) return {Lanes::splat(0.0), Lanes::splat(0.0)};
    const unsigned present = ((1u << end) - 1) & ~((1u << first) - 1);
    const std::uintptr_t address =
        reinterpret_cast<std::uintptr_t>(samples) + static_cast<std::uintptr_t>(start) * 8;
    return Lanes::loadWindowMasked(address, present);
}

template <WindowLanes Lanes, class Window>
Window risesOf(const Window& next, const Window& window) {
    Window rises;
    for (int i = 0; i < static_cast<int>(std::size(window.part)); ++i) {
        rises.part[i] = {Lanes::sub(next.part[i].low, window.part[i].low),
                         Lanes::sub(next.part[i].high, window.part[i].high)};
    }
    return rises;
}

// A window's samples as pick() takes them: lanes may hold them in another
// layout for picking (forPicking) than for arithmetic.
template <WindowLanes Lanes, class Window>
Window forPicking(const Window& window) {
    if constexpr (requires { Lanes::forPicking(window.part[0]); }) {
        Window picking;
        for (int i = 0; i < static_cast<int>(std::size(window.part)); ++i)
            picking.part[i] = Lanes::forPicking(window.part[i]);
        return picking;
    }
    return window;
}

// One windowed view through a block, one window of `parts` x windowSize
// samples per `rowsPerWindow` rows. A fixed-point estimate of each window's
// lowest index (32 fraction bits, stepped by the rounded sine) places it; it
// runs apart from the coordinates, so loads need not wait for them. (Placing
// a whole tile's windows for all of a pass's views before the tile measured
// slower: the scalar work then no longer overlaps the vector work.)
template <WindowLanes Lanes, class Sampler, int rowsPerWindow, int parts>
struct WindowedView {
    static constexpr int rowsPerSource = rowsPerWindow;
    // Vector registers a view holds while it crosses a tile: its window (and
    // rises), coordinate, step, position and the sampler's intermediates.
    static constexpr int registersPerView =
        2 * parts * (Sampler::readsNextSample ? 2 : 1) + (Sampler::readsNextSample ? 5 : 3);
    static constexpr double fixedOne = 4294967296.0;
    // Windows from here on lie wholly on the detector (for linear, their
    // rises too).
    static constexpr std::int64_t insideExtent =
        parts * Lanes::windowSize + (Sampler::readsNextSample ? 1 : 0);

    std::int64_t lowestFixed;  // floor(lowest coordinate + lowShift - margin) + center
    std::int64_t stepFixed;
    std::int64_t biasedCenterBits;
    std::int64_t count;

    WindowedView() = default;
    WindowedView(const BackprojectionJob& job, std::int32_t view, std::int32_t firstColumn)
        : biasedCenterBits(__builtin_bit_cast(
              std::int64_t, positionBias + static_cast<double>(job.detectorCount / 2))),
          count(job.detectorCount) {
        const double centerOffset = centerOffsetOf(job.imageSize);
        const double c = job.cosines[view], s = job.sines[view];
        const double top = columnTop<ScalarLanes>(static_cast<double>(firstColumn), -centerOffset,
                                                  c, centerOffset * s);
        const double lowest = top + Sampler::lowShift + std::fmin(0.0, (Lanes::width - 1) * c) +
                              std::fmin(0.0, -(rowsPerWindow - 1) * s) - windowMargin;
        lowestFixed = static_cast<std::int64_t>(std::floor(lowest * fixedOne)) +
                      (static_cast<std::int64_t>(job.detectorCount / 2) << 32);
        stepFixed = rowsPerWindow * static_cast<std::int64_t>(std::nearbyint(s * fixedOne));
    }

    // The next rowsPerWindow rows' window.
    [[gnu::always_inline]] WindowedSamples<Lanes, parts> source(const DetectorColumn& view) {
        const std::int64_t start = lowestFixed >> 32;
        lowestFixed -= stepFixed;
        const bool inside = start >= 0 && start <= count - insideExtent;
        auto windowFrom = [&](std::int64_t first) {
            typename WindowedSamples<Lanes, parts>::Window window;
            for (int i = 0; i < parts; ++i) {
                const std::int64_t partStart = first + i * Lanes::windowSize;
                window.part[i] = inside ? Lanes::loadWindow(view.samples + partStart)
                                        : windowWithin<Lanes>(view.samples, partStart, count);
            }
            return window;
        };
        WindowedSamples<Lanes, parts> samples;
        samples.window = windowFrom(start);
        if constexpr (Sampler::readsNextSample) {
            samples.rises =
                forPicking<Lanes>(risesOf<Lanes>(windowFrom(start + 1), samples.window));
        }
        samples.window = forPicking<Lanes>(samples.window);
        samples.toPosition = Lanes::splat(toWindowPosition(biasedCenterBits, start));
        return samples;
    }
};

// The windows a view can take, as (parts, rows) pairs, cheapest first:
// fewer rows per window cost a window load more often, and a window twice
// as wide costs a second permute and a blend on every row. So narrow windows
// over two or more rows come first, then wide ones over four or more (which
// measured faster than a narrow window loaded for every row), then the
// rest. For a width of 2^k that is k narrow plans, k - 1 wide ones and three
// more.
struct WindowPlan {
    int parts;
    int rows;
};
template <int width>
constexpr auto windowPlans() {
    constexpr int count = 2 * std::countr_zero(unsigned{width}) + 2;
    std::array<WindowPlan, count> plans{};
    int next = 0;
    for (int rows = width; rows >= 2; rows /= 2) plans[next++] = {1, rows};
    for (int rows = width; rows >= 4; rows /= 2) plans[next++] = {2, rows};
    plans[next++] = {1, 1};
    plans[next++] = {2, 2};
    plans[next++] = {2, 1};
    return plans;
}

template <WindowPlan plan>
struct PlannedWindows {
    template <class Lanes, class Sampler>
    using View = WindowedView<Lanes, Sampler, plan.rows, plan.parts>;
};

}  // namespace
}  // namespace quelmor::detail
