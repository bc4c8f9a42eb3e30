// fdlibm's (FreeBSD msun) medium argument reduction and kernels, written
// with plain double operations only; -ffp-contract=off keeps each product
// and sum rounded on its own, so the bits are the same wherever it runs.
#include "quelmor/view_angles.h"

#include <bit>
#include <cmath>
#include <cstdint>

namespace quelmor {

namespace {

// pi/2 in three parts of 33 bits each and their tails (fdlibm e_rem_pio2.c).
constexpr double invPio2 = 6.36619772367581382433e-01;
constexpr double pio2Part1 = 1.57079632673412561417e+00;
constexpr double pio2Tail1 = 6.07710050650619224932e-11;
constexpr double pio2Part2 = 6.07710050630396597660e-11;
constexpr double pio2Tail2 = 2.02226624879595063154e-21;
constexpr double pio2Part3 = 2.02226624871116645580e-21;
constexpr double pio2Tail3 = 8.47842766036889956997e-32;
// Adding and subtracting 1.5 * 2^52 rounds to an integer, ties to even.
constexpr double roundingShift = 6755399441055744.0;

int exponentOf(double value) {
    return static_cast<int>((std::bit_cast<std::uint64_t>(value) >> 52) & 0x7ff);
}

// theta - n pi/2 as head + tail, with n's quadrant.
struct Reduced {
    double head;
    double tail;
    int quadrant;
};

Reduced reduce(double theta) {
    const double n = (theta * invPio2 + roundingShift) - roundingShift;
    double r = theta - n * pio2Part1;
    double w = n * pio2Tail1;
    double head = r - w;
    // Cancellation lost more than 16 bits: subtract the next part of pi/2.
    const int exponent = exponentOf(theta);
    if (exponent - exponentOf(head) > 16) {
        double t = r;
        w = n * pio2Part2;
        r = t - w;
        w = n * pio2Tail2 - ((t - r) - w);
        head = r - w;
        if (exponent - exponentOf(head) > 49) {
            t = r;
            w = n * pio2Part3;
            r = t - w;
            w = n * pio2Tail3 - ((t - r) - w);
            head = r - w;
        }
    }
    const double tail = (r - head) - w;
    // n mod 4 in doubles (exact: n is integral), where an integer cast of a
    // huge n would overflow.
    const double quadrant = n - 4.0 * std::floor(n * 0.25);
    return {head, tail, static_cast<int>(quadrant)};
}

// sin(x + y) for |x| <= pi/4 (fdlibm k_sin.c).
double sineKernel(double x, double y) {
    constexpr double s1 = -1.66666666666666324348e-01, s2 = 8.33333333332248946124e-03,
                     s3 = -1.98412698298579493134e-04, s4 = 2.75573137070700676789e-06,
                     s5 = -2.50507602534068634195e-08, s6 = 1.58969099521155010221e-10;
    const double z = x * x;
    const double v = z * x;
    const double r = s2 + z * (s3 + z * (s4 + z * (s5 + z * s6)));
    return x - ((z * (0.5 * y - v * r) - y) - v * s1);
}

// cos(x + y) for |x| <= pi/4 (fdlibm k_cos.c).
double cosineKernel(double x, double y) {
    constexpr double c1 = 4.16666666666666019037e-02, c2 = -1.38888888888741095749e-03,
                     c3 = 2.48015872894767294178e-05, c4 = -2.75573143513906633035e-07,
                     c5 = 2.08757232129817482790e-09, c6 = -1.13596475577881948265e-11;
    const double z = x * x;
    const double zz = z * z;
    const double r = z * (c1 + z * (c2 + z * c3)) + zz * zz * (c4 + z * (c5 + z * c6));
    const double half = 0.5 * z;
    const double w = 1.0 - half;
    return w + (((1.0 - w) - half) + (z * r - x * y));
}

}  // namespace

SineCosine viewSineCosine(double theta) {
    if (exponentOf(theta) == 0x7ff) return {theta - theta, theta - theta};
    const Reduced reduced = reduce(theta);
    const double sine = sineKernel(reduced.head, reduced.tail);
    const double cosine = cosineKernel(reduced.head, reduced.tail);
    switch (reduced.quadrant) {
        case 0: return {sine, cosine};
        case 1: return {cosine, -sine};
        case 2: return {-sine, -cosine};
        default: return {-cosine, sine};
    }
}

void viewCoefficients(const double* theta, std::int64_t count, double spacing, double* cosines,
                      double* sines) {
    for (std::int64_t v = 0; v < count; ++v) {
        const SineCosine angle = viewSineCosine(theta[v]);
        cosines[v] = angle.cosine / spacing;
        sines[v] = angle.sine / spacing;
    }
}

void viewShifts(const double* theta, std::int64_t count, std::int32_t detectorCount,
                std::int32_t imageSize, double spacing, double center, double origin,
                double* shifts) {
    const double detectorShift = center - static_cast<double>(detectorCount / 2);
    // (imageSize - 1) // 2 rounded down, as fbp takes it: -1 for an empty image.
    const double pixelCenter = imageSize > 0 ? (imageSize - 1) / 2 : -1;
    const double pixelShift = pixelCenter - origin;
    for (std::int64_t v = 0; v < count; ++v) {
        const SineCosine angle = viewSineCosine(theta[v]);
        shifts[v] = detectorShift + pixelShift * (angle.cosine - angle.sine) / spacing;
    }
}

}  // namespace quelmor
