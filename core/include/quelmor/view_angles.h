// View angles to the kernels' coefficients, with the same bits on every
// platform: the C libraries' cos and sin differ in the last bits (glibc,
// MinGW, Octave's), so these never call them.
#pragma once

#include <cstdint>

namespace quelmor {

struct SineCosine {
    double sine;
    double cosine;
};

// sin(theta) and cos(theta) from plain double operations in a fixed order:
// reduction by pi/2 in three-part Cody-Waite steps, then fdlibm's minimax
// polynomials on the remainder (core/README.md, "View angles"). Within one
// unit in the last place for |theta| < 1.6e6; deterministic but less
// accurate beyond; NaN for a non-finite theta.
SineCosine viewSineCosine(double theta);

// cosines[v] = cos(theta[v]) / spacing and sines[v] = sin(theta[v]) / spacing:
// fbp's coefficients for a detector spacing of `spacing` pixel widths.
void viewCoefficients(const double* theta, std::int64_t count, double spacing, double* cosines,
                      double* sines);

// The samples each view's data sits off the kernels' geometry when the axis
// falls on detector position `center` and pixel index `origin` (fbp's
// center and origin): shifts[v] = (center - detectorCount / 2) +
// ((imageSize - 1) / 2 - origin) * (cos - sin) / spacing, integer halves,
// evaluated in that order. The kernels read view v's sample b where the
// data holds it at b + shifts[v].
void viewShifts(const double* theta, std::int64_t count, std::int32_t detectorCount,
                std::int32_t imageSize, double spacing, double center, double origin,
                double* shifts);

}  // namespace quelmor
