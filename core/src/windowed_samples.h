// Samples for one view and one row of a block, picked from a window of
// consecutive samples instead of gathered lane by lane.
//
// Across the lanes of one row the coordinates are monotone (each lane's chain
// is the same rounded operations on ordered inputs), and neighbouring lanes
// differ by about the view's cosine c. So every sample index the row can use,
// the linear sampler's next sample included, lies within
//   start = floor(lowest coordinate + lowShift - margin) + center, clamped to the detector
//   ... start + floor((width - 1)|c| + 2 margin) + 2,
// which for |c| < maxLaneStep stays inside one window of windowSize samples. Views beyond it are
// gathered (windowQualifies), and so is every view of a detector shorter than
// a window.
#pragma once

#include <cmath>
#include <cstdint>

#include "geometry.h"
#include "lanes.h"
#include "scalar_lanes.h"

namespace quelmor::detail {
namespace {

// A window holds windowSize consecutive samples from a first index `start`;
// pick(window, position, mask) takes lane i's sample from window place
// p mod windowSize, where p is the integer in the low mantissa bits of
// position (an integer plus positionBias), +0.0 where the mask does not hold.
template <class L>
concept WindowLanes = BlockLanes<L> &&
    requires(const double* samples, typename L::Real x, typename L::Mask m, std::int64_t start,
             const typename L::Window& window) {
    requires L::windowSize > L::width + 2;
    { L::loadWindow(samples) } -> std::same_as<typename L::Window>;
    { L::pick(window, x, m) } -> std::same_as<typename L::Real>;
    { L::allLanes() } -> std::same_as<typename L::Mask>;
};

// Covers every deviation of the lanes from exact steps of c (their rounding
// and the drift of their stepped chains over 46341 rows at |t| < 2^27) and
// of the fixed-point estimate of a row's lowest coordinate from lane 0's
// (its start's rounding, and 2^-33 per row from the rounded step), all
// together below 2^-9.
inline constexpr double windowMargin = 1.0 / 64;
// Coordinates stay below 2^27 in magnitude, where chains drift little.
inline constexpr double largestWindowedSine = 1024.0;

template <WindowLanes Lanes>
constexpr double maxLaneStep() {
    return (Lanes::windowSize - 2 - 2 * windowMargin) / (Lanes::width - 1);
}

// Lanes may leave a sampler to the gathers where its windows measured slower
// (a `windowed<Sampler>` constant says which samplers they window).
template <WindowLanes Lanes, class Sampler>
bool windowQualifies(const SweepJob& job, std::int32_t view) {
    if constexpr (requires { Lanes::template windowed<Sampler>; }) {
        if (!Lanes::template windowed<Sampler>) return false;
    }
    return job.detectorCount >= Lanes::windowSize &&
           std::fabs(job.cosines[view]) < maxLaneStep<Lanes>() &&
           std::fabs(job.sines[view]) <= largestWindowedSine;
}

// An integer p with |p| < 2^51, plus 1.5 * 2^52, keeps p in its low mantissa
// bits (as two's complement), negative p included: the sum stays in [2^52, 2^53).
inline constexpr double positionBias = 6755399441055744.0;

// A row's window. Inside the detector (`inside`: the window's samples all
// lie on it) every lane's index lies in the window and so on the detector,
// and no lane needs asking.
template <WindowLanes Lanes, bool inside>
struct WindowedSamples {
    typename Lanes::Window window;
    // Added to an offset from the center sample: positionBias + the offset's
    // place in the window, and the same for the sample after it.
    typename Lanes::Real toPosition;
    typename Lanes::Real toNextPosition;

    static typename Lanes::Mask within(typename Lanes::Real x, double lo, double hi) {
        if constexpr (inside) return Lanes::allLanes();
        return Lanes::within(x, lo, hi);
    }
    static typename Lanes::Real select(typename Lanes::Mask mask, typename Lanes::Real x) {
        if constexpr (inside) return x;
        return Lanes::select(mask, x);
    }
    typename Lanes::Real at(typename Lanes::Real offset, typename Lanes::Mask mask) const {
        return Lanes::pick(window, Lanes::add(offset, toPosition), mask);
    }
    typename Lanes::Real next(typename Lanes::Real offset, typename Lanes::Mask mask) const {
        return Lanes::pick(window, Lanes::add(offset, toNextPosition), mask);
    }
};

// positionBias + center - start: within [2^52, 2^53) the bits count whole
// numbers, so it is made by integer arithmetic on the bits.
// (The builtin, not std::bit_cast: no out-of-line copy can leave this unit.)
inline double toWindowPosition(std::int64_t biasedCenterBits, std::int64_t start) {
    return __builtin_bit_cast(double, biasedCenterBits - start);
}

// One windowed view through a block. A fixed-point estimate of each row's
// lowest index (32 fraction bits, stepped by the rounded sine) places the
// row's window; it runs apart from the coordinates, so loads need not wait.
template <WindowLanes Lanes, class Sampler>
struct WindowedView {
    static constexpr double fixedOne = 4294967296.0;

    std::int64_t lowestFixed;  // floor(lowest coordinate + lowShift - margin) + center
    std::int64_t stepFixed;

    WindowedView() = default;
    WindowedView(const SweepJob& job, std::int32_t view, std::int32_t firstColumn)
        : lowestFixed(static_cast<std::int64_t>(std::floor(
                          (columnTop<ScalarLanes>(static_cast<double>(firstColumn),
                                                  -centerOffsetOf(job.imageSize), job.cosines[view],
                                                  centerOffsetOf(job.imageSize) * job.sines[view]) +
                           Sampler::lowShift +
                           std::fmin(0.0, (Lanes::width - 1) * job.cosines[view]) - windowMargin) *
                          fixedOne)) +
                      (static_cast<std::int64_t>(job.detectorCount / 2) << 32)),
          stepFixed(static_cast<std::int64_t>(std::nearbyint(job.sines[view] * fixedOne))) {}

    // Runs sample(source) on the current row's window, its start clamped to
    // [0, lastStart]; then moves to the next row.
    template <class Sample>
    auto withRow(const DetectorColumn& view, typename Lanes::Real, std::int64_t lastStart,
                 Sample&& sample) {
        const std::int64_t start = lowestFixed >> 32;
        lowestFixed -= stepFixed;
        const std::int64_t biasedCenterBits =
            __builtin_bit_cast(std::int64_t, positionBias + view.center);
        if (start >= 0 && start <= lastStart) {
            return sample(WindowedSamples<Lanes, true>{
                Lanes::loadWindow(view.samples + start),
                Lanes::splat(toWindowPosition(biasedCenterBits, start)),
                Lanes::splat(toWindowPosition(biasedCenterBits, start - 1))});
        }
        const std::int64_t clamped = start < 0 ? 0 : lastStart;
        return sample(WindowedSamples<Lanes, false>{
            Lanes::loadWindow(view.samples + clamped),
            Lanes::splat(toWindowPosition(biasedCenterBits, clamped)),
            Lanes::splat(toWindowPosition(biasedCenterBits, clamped - 1))});
    }
};

}  // namespace
}  // namespace quelmor::detail
