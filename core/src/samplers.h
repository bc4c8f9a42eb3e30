// The two detector samplers, written once over a Lanes type (lanes.h) so the
// reference sweep (one double) and the SIMD variants (a vector of columns)
// run the same operations in the same order. spread() is each sampler's
// transpose for the projection: a target told, per coordinate t, which
// sample offsets (from the center sample) receive the pixel and with what
// weight: add(offset, mask) the pixel itself, add(offset, mask, weight)
// fl(weight * pixel), nothing where the mask does not hold.
#pragma once

#include "geometry.h"
#include "lanes.h"
#include "quelmor/accumulate_views.h"

namespace quelmor::detail {
namespace {

// Where a sampler's samples come from: at(offset, mask) is the sample
// `offset` places from the detector's center sample, +0.0 where the mask does
// not hold; atFloor(x, mask) is at(floor(x), mask); rise(offset, lo, mask) is
// the sample after at(offset) (+0.0 where the mask does not hold) minus lo.
// within(x, lo, hi) says which lanes fall on the detector and select(mask, x)
// keeps those. These read the view's column itself and ask every lane.
template <SamplerLanes Lanes>
struct GatheredSamples {
    DetectorColumn view;

    static typename Lanes::Mask within(typename Lanes::Real x, double lo, double hi) {
        return Lanes::within(x, lo, hi);
    }
    static typename Lanes::Real select(typename Lanes::Mask mask, typename Lanes::Real x) {
        return Lanes::select(mask, x);
    }

    typename Lanes::Real index(typename Lanes::Real offset) const {
        return Lanes::add(offset, Lanes::splat(view.center));
    }
    typename Lanes::Real at(typename Lanes::Real offset, typename Lanes::Mask mask) const {
        return Lanes::gather(view.samples, index(offset), mask);
    }
    typename Lanes::Real atFloor(typename Lanes::Real x, typename Lanes::Mask mask) const {
        return at(Lanes::floor(x), mask);
    }
    typename Lanes::Real rise(typename Lanes::Real offset, typename Lanes::Real lo,
                              typename Lanes::Mask mask) const {
        const auto hi =
            Lanes::gather(view.samples, Lanes::add(index(offset), Lanes::splat(1.0)), mask);
        return Lanes::sub(hi, lo);
    }
};

// u = t + 0.5 is rounded before the floor, so ties go up for either sign and
// t = 0.49999999999999994 takes offset 1.
struct NearestSampler {
    // The lowest sample index a coordinate t can take, as floor(t + lowShift) + center.
    static constexpr double lowShift = 0.5;
    static constexpr bool readsNextSample = false;

    template <SamplerLanes Lanes, class Source>
    static typename Lanes::Real sample(const DetectorColumn& view, typename Lanes::Real t,
                                       const Source& source) {
        const auto u = Lanes::add(t, Lanes::splat(0.5));
        const auto onDetector = source.within(u, view.firstCoordinate, view.endCoordinate);
        return source.atFloor(u, onDetector);
    }
    template <SamplerLanes Lanes>
    static typename Lanes::Real sample(const DetectorColumn& view, typename Lanes::Real t) {
        return sample<Lanes>(view, t, GatheredSamples<Lanes>{view});
    }
    // The projection's side: the sample read above receives the pixel itself.
    template <SamplerLanes Lanes, class Target>
    static void spread(const DetectorColumn& view, typename Lanes::Real t, Target& target) {
        const auto u = Lanes::add(t, Lanes::splat(0.5));
        target.add(Lanes::floor(u), Lanes::within(u, view.firstCoordinate, view.endCoordinate));
    }
};

// sample = f*(hi - lo) + lo with f = t - floor(t). A sample off the detector
// reads as 0.0, so the edges blend toward zero. Both neighbours are read even
// when f is 0, so an infinite or NaN neighbour makes the sample NaN.
struct LinearSampler {
    static constexpr double lowShift = 0.0;
    static constexpr bool readsNextSample = true;

    template <SamplerLanes Lanes, class Source>
    static typename Lanes::Real sample(const DetectorColumn& view, typename Lanes::Real t,
                                       const Source& source) {
        const auto whole = Lanes::floor(t);
        const auto weight = Lanes::sub(t, whole);
        const auto loOnDetector = source.within(t, view.firstCoordinate, view.endCoordinate);
        const auto hiOnDetector =
            source.within(t, view.firstCoordinate - 1.0, view.endCoordinate - 1.0);
        const auto lo = source.at(whole, loOnDetector);
        const auto difference = source.rise(whole, lo, hiOnDetector);  // hi - lo
        // A coordinate with neither neighbour on the detector (or not finite)
        // contributes nothing, whatever its weight.
        return source.select(Lanes::maskOr(loOnDetector, hiOnDetector),
                             blend<Lanes>(weight, lo, difference));
    }
    // f*(hi - lo) + lo from lo and hi - lo.
    template <SamplerLanes Lanes>
    static typename Lanes::Real blend(typename Lanes::Real weight, typename Lanes::Real lo,
                                      typename Lanes::Real difference) {
        return Lanes::add(Lanes::mul(weight, difference), lo);
    }
    template <SamplerLanes Lanes>
    static typename Lanes::Real sample(const DetectorColumn& view, typename Lanes::Real t) {
        return sample<Lanes>(view, t, GatheredSamples<Lanes>{view});
    }
    // The projection's side: each of the two samples receives the pixel times
    // what sample() makes of a unit sample there, f*(0 - 1) + 1 = fl(1 - f) at
    // lo and f*(1 - 0) + 0 = f at hi; lo first.
    template <SamplerLanes Lanes, class Target>
    static void spread(const DetectorColumn& view, typename Lanes::Real t, Target& target) {
        const auto whole = Lanes::floor(t);
        const auto weight = Lanes::sub(t, whole);
        const auto loOnDetector = Lanes::within(t, view.firstCoordinate, view.endCoordinate);
        const auto hiOnDetector =
            Lanes::within(t, view.firstCoordinate - 1.0, view.endCoordinate - 1.0);
        target.add(whole, loOnDetector, Lanes::sub(Lanes::splat(1.0), weight));
        target.add(Lanes::add(whole, Lanes::splat(1.0)), hiOnDetector, weight);
    }
};

// Runs `body` with the sampler that `interpCode` selects; other codes run nothing.
template <class Body>
void withSampler(std::int32_t interpCode, Body&& body) {
    if (interpCode == InterpNearest) {
        body(NearestSampler{});
    } else if (interpCode == InterpLinear) {
        body(LinearSampler{});
    }
}

}  // namespace
}  // namespace quelmor::detail
