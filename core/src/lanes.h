// What the samplers and the blocked sweep ask of a "Lanes" type: one or more
// image columns side by side, operated on together. The reference sweep uses
// one plain double; each SIMD variant a vector of neighbouring columns.
#pragma once

#include <concepts>

namespace quelmor::detail {
namespace {

// Not std::min: an out-of-line copy of a standard template is a weak symbol
// that the linker may take from a wider instruction set's object and run on
// the baseline path. Everything these units compile has internal linkage.
template <class T>
T smaller(T a, T b) {
    return b < a ? b : a;
}

}  // namespace

// The operations of the geometry and the samplers. Every one is a single IEEE
// double operation per lane, rounded to nearest, so any Lanes type gives the
// reference sweep's numbers.
//   floor(x)                 exact for |x| < 2^31, any value elsewhere
//   within(x, lo, hi)        lo <= x < hi; false for NaN
//   gather(samples, i, m)    samples[i] where m holds, +0.0 elsewhere; never
//                            reads an element whose mask does not hold
//   select(m, x)             x where m holds, +0.0 elsewhere
template <class L>
concept SamplerLanes = requires(typename L::Real x, typename L::Mask m, double d,
                                const double* samples) {
    { L::splat(d) } -> std::same_as<typename L::Real>;
    { L::add(x, x) } -> std::same_as<typename L::Real>;
    { L::sub(x, x) } -> std::same_as<typename L::Real>;
    { L::mul(x, x) } -> std::same_as<typename L::Real>;
    { L::floor(x) } -> std::same_as<typename L::Real>;
    { L::within(x, d, d) } -> std::same_as<typename L::Mask>;
    { L::maskOr(m, m) } -> std::same_as<typename L::Mask>;
    { L::select(m, x) } -> std::same_as<typename L::Real>;
    { L::gather(samples, x, m) } -> std::same_as<typename L::Real>;
};

// What the blocked sweep adds: `width` columns per vector (a power of two),
// viewsPerPass views carried through a block at once, `registers` vector
// registers, lane numbers 0..width-1,
// unaligned load and store of `width` consecutive doubles, and an in-place
// transpose of a width x width square of vectors.
template <class L>
concept BlockLanes = SamplerLanes<L> &&
    requires(typename L::Real x, double* pixels, typename L::Real (&square)[L::width]) {
    requires L::width >= 2 && (L::width & (L::width - 1)) == 0;
    requires L::viewsPerPass >= 1;
    requires L::registers >= 8;
    { L::laneIndex() } -> std::same_as<typename L::Real>;
    { L::load(pixels) } -> std::same_as<typename L::Real>;
    L::store(pixels, x);
    L::transpose(square);
};

}  // namespace quelmor::detail
