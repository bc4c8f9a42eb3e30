// The two detector samplers, written once over a Lanes type (lanes.h) so the
// reference sweep (one double) and the SIMD variants (a vector of columns)
// run the same operations in the same order.
#pragma once

#include "geometry.h"
#include "lanes.h"
#include "quelmor/accumulate_views.h"

namespace quelmor::detail {
namespace {

// u = t + 0.5 is rounded before the floor, so ties go up for either sign and
// t = 0.49999999999999994 takes offset 1.
struct NearestSampler {
    template <SamplerLanes Lanes>
    static typename Lanes::Real sample(const DetectorColumn& view, typename Lanes::Real t) {
        const auto u = Lanes::add(t, Lanes::splat(0.5));
        const auto offset = Lanes::floor(u);
        const auto onDetector = Lanes::within(u, view.firstCoordinate, view.endCoordinate);
        return Lanes::gather(view.samples, Lanes::add(offset, Lanes::splat(view.center)),
                             onDetector);
    }
};

// sample = f*(hi - lo) + lo with f = t - floor(t). A sample off the detector
// reads as 0.0, so the edges blend toward zero. Both neighbours are read even
// when f is 0, so an infinite or NaN neighbour makes the sample NaN.
struct LinearSampler {
    template <SamplerLanes Lanes>
    static typename Lanes::Real sample(const DetectorColumn& view, typename Lanes::Real t) {
        const auto whole = Lanes::floor(t);
        const auto weight = Lanes::sub(t, whole);
        const auto index = Lanes::add(whole, Lanes::splat(view.center));
        const auto loOnDetector = Lanes::within(t, view.firstCoordinate, view.endCoordinate);
        const auto hiOnDetector =
            Lanes::within(t, view.firstCoordinate - 1.0, view.endCoordinate - 1.0);
        const auto lo = Lanes::gather(view.samples, index, loOnDetector);
        const auto hi =
            Lanes::gather(view.samples, Lanes::add(index, Lanes::splat(1.0)), hiOnDetector);
        const auto difference = Lanes::sub(hi, lo);
        const auto scaled = Lanes::mul(weight, difference);
        // A coordinate with neither neighbour on the detector (or not finite)
        // contributes nothing, whatever its weight.
        return Lanes::select(Lanes::maskOr(loOnDetector, hiOnDetector), Lanes::add(scaled, lo));
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
