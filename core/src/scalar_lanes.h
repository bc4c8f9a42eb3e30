// One lane: plain doubles, the arithmetic of the reference sweep.
#pragma once

#include <cmath>
#include <cstddef>

namespace quelmor::detail {
namespace {

struct ScalarLanes {
    using Real = double;
    using Mask = bool;

    static Real splat(double x) { return x; }
    static Real add(Real a, Real b) { return a + b; }
    static Real sub(Real a, Real b) { return a - b; }
    static Real mul(Real a, Real b) { return a * b; }
    static Real floor(Real x) { return std::floor(x); }
    static Mask within(Real x, double lo, double hi) { return lo <= x && x < hi; }
    static Mask maskOr(Mask a, Mask b) { return a || b; }
    static Real select(Mask mask, Real x) { return mask ? x : 0.0; }
    // The index is converted only where the mask holds, so it is a whole
    // number inside the detector.
    static Real gather(const double* samples, Real index, Mask mask) {
        return mask ? samples[static_cast<std::ptrdiff_t>(index)] : 0.0;
    }
};

}  // namespace
}  // namespace quelmor::detail
