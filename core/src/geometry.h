// Image and detector geometry shared by every kernel variant.
//
// Everything here is a template or has internal linkage: the SIMD variants
// include it from translation units built for wider instruction sets, and no
// copy of their code may stand in for the baseline one at link time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "lanes.h"
#include "quelmor/accumulate_views.h"

namespace quelmor::detail {
namespace {

// Pixel (k, j) sits at x = j - centerOffset, y = centerOffset - k; for an even
// side the origin is the upper-left of the four middle pixels.
inline double centerOffsetOf(std::int32_t imageSize) {
    return static_cast<double>((imageSize - 1) / 2);
}

// One view's column of samples. Sample b lies at detector coordinate
// b - center; coordinates in [firstCoordinate, endCoordinate) fall on it.
struct DetectorColumn {
    const double* samples;
    double center;
    double firstCoordinate;
    double endCoordinate;
};

// View `view` of `columns`, one column of `detectorCount` samples per view.
inline DetectorColumn detectorColumn(const double* columns, std::int32_t detectorCount,
                                     std::int32_t view) {
    // Coordinate 0 falls on sample count/2, not (count-1)/2.
    const std::int32_t center = detectorCount / 2;
    return DetectorColumn{
        columns + static_cast<std::ptrdiff_t>(view) * detectorCount,
        static_cast<double>(center),
        -static_cast<double>(center),
        static_cast<double>(detectorCount) - static_cast<double>(center),
    };
}
inline DetectorColumn detectorColumn(const BackprojectionJob& job, std::int32_t view) {
    return detectorColumn(job.projections, job.detectorCount, view);
}

// Coordinate of the top pixel of `column`: a = (-centerOffset) + j, p = a*c,
// t = p + q with q = centerOffset*s, each rounded in turn. The coefficients
// are one view's (double) or one per lane (Lanes::Real).
template <SamplerLanes Lanes, class Coefficient>
typename Lanes::Real columnTop(typename Lanes::Real column, double negatedCenterOffset,
                               Coefficient cosine, Coefficient scaledSine) {
    auto lanes = [](Coefficient x) {
        if constexpr (std::is_same_v<Coefficient, double>) {
            return Lanes::splat(x);
        } else {
            return x;
        }
    };
    const auto a = Lanes::add(Lanes::splat(negatedCenterOffset), column);
    const auto p = Lanes::mul(a, lanes(cosine));
    return Lanes::add(p, lanes(scaledSine));
}

// Up to Lanes::width views side by side, from view `first` of a job's
// coefficients (a backprojection's or a projection's). Lanes without a view
// get a NaN cosine, so their coordinates land nowhere.
template <class Lanes>
struct ViewGroup {
    typename Lanes::Real cosines, scaledSines, sines;

    ViewGroup() = default;
    template <class Job>
    ViewGroup(const Job& job, std::int32_t first, std::int32_t count, double centerOffset) {
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

}  // namespace
}  // namespace quelmor::detail
