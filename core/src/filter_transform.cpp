#include "filter_transform.h"

#include <algorithm>
#include <cassert>
#include <numbers>

#include "quelmor/view_angles.h"

namespace quelmor {
namespace {

constexpr int lanes = filterLanes;

// The stages' radices for n points: fours while they divide, then a two,
// threes, fives and sevens.
std::vector<int> radicesOf(std::int64_t n) {
    std::vector<int> radices;
    while (n % 4 == 0) {
        radices.push_back(4);
        n /= 4;
    }
    for (const int radix : {2, 3, 5, 7}) {
        while (n % radix == 0) {
            radices.push_back(radix);
            n /= radix;
        }
    }
    assert(n == 1);
    return radices;
}

// One Stockham stage of a transform of n points over s interleaved
// sequences: y[q + s (radix p + k)] = w^(k p) sum_j x[q + s (p + j m)] w_radix^(j k),
// with m = n / radix, w = e^(-2 pi i / n) and w_radix = e^(-2 pi i / radix).
// A product of two complex numbers is (ac - bd) + i (ad + bc), each product
// rounded; multiplications by 1 (k = 0, p = 0 or j k = 0 mod radix) are not made.
struct Stage {
    int radix;
    std::int64_t n;
    std::int64_t s;
    std::int64_t twiddleStep;  // L / n: w^t is table entry t * twiddleStep
    const double* cosTable;
    const double* sinTable;
    std::int64_t length;  // L, the table's size
};

// Writes output k of a butterfly, times w^(k p).
void twiddled(const Stage& stage, std::int64_t p, std::int64_t q, int k, const double* sumR,
              const double* sumI, double* __restrict yr, double* __restrict yi) {
    double* outR = yr + (q + stage.s * (stage.radix * p + k)) * lanes;
    double* outI = yi + (q + stage.s * (stage.radix * p + k)) * lanes;
    if (k == 0 || p == 0) {
        for (int b = 0; b < lanes; ++b) {
            outR[b] = sumR[b];
            outI[b] = sumI[b];
        }
        return;
    }
    const std::int64_t t = k * p * stage.twiddleStep;
    const double c = stage.cosTable[t], sn = stage.sinTable[t];
    for (int b = 0; b < lanes; ++b) {
        outR[b] = sumR[b] * c - sumI[b] * sn;
        outI[b] = sumR[b] * sn + sumI[b] * c;
    }
}

void radixTwo(const Stage& stage, std::int64_t p, std::int64_t q, const double* __restrict xr,
              const double* __restrict xi, double* __restrict yr, double* __restrict yi) {
    const std::int64_t m = stage.n / 2, s = stage.s;
    const double* a0r = xr + (q + s * p) * lanes;
    const double* a0i = xi + (q + s * p) * lanes;
    const double* a1r = a0r + s * m * lanes;
    const double* a1i = a0i + s * m * lanes;
    double br[2][lanes], bi[2][lanes];
    for (int b = 0; b < lanes; ++b) {
        br[0][b] = a0r[b] + a1r[b];
        bi[0][b] = a0i[b] + a1i[b];
        br[1][b] = a0r[b] - a1r[b];
        bi[1][b] = a0i[b] - a1i[b];
    }
    for (int k = 0; k < 2; ++k) twiddled(stage, p, q, k, br[k], bi[k], yr, yi);
}

void radixFour(const Stage& stage, std::int64_t p, std::int64_t q, const double* __restrict xr,
               const double* __restrict xi, double* __restrict yr, double* __restrict yi) {
    const std::int64_t m = stage.n / 4, s = stage.s;
    const double* a0r = xr + (q + s * p) * lanes;
    const double* a0i = xi + (q + s * p) * lanes;
    const double* a1r = a0r + s * m * lanes;
    const double* a1i = a0i + s * m * lanes;
    const double* a2r = a1r + s * m * lanes;
    const double* a2i = a1i + s * m * lanes;
    const double* a3r = a2r + s * m * lanes;
    const double* a3i = a2i + s * m * lanes;
    double br[4][lanes], bi[4][lanes];
    for (int b = 0; b < lanes; ++b) {
        const double t0r = a0r[b] + a2r[b], t0i = a0i[b] + a2i[b];
        const double t1r = a0r[b] - a2r[b], t1i = a0i[b] - a2i[b];
        const double t2r = a1r[b] + a3r[b], t2i = a1i[b] + a3i[b];
        const double t3r = a1r[b] - a3r[b], t3i = a1i[b] - a3i[b];
        br[0][b] = t0r + t2r;
        bi[0][b] = t0i + t2i;
        br[2][b] = t0r - t2r;
        bi[2][b] = t0i - t2i;
        // w_4 = -i: b1 = t1 - i t3, b3 = t1 + i t3.
        br[1][b] = t1r + t3i;
        bi[1][b] = t1i - t3r;
        br[3][b] = t1r - t3i;
        bi[3][b] = t1i + t3r;
    }
    for (int k = 0; k < 4; ++k) twiddled(stage, p, q, k, br[k], bi[k], yr, yi);
}

// Radices 3, 5 and 7: the sums written out, term j = 0 first.
void radixOdd(const Stage& stage, std::int64_t p, std::int64_t q, const double* __restrict xr,
              const double* __restrict xi, double* __restrict yr, double* __restrict yi) {
    const int radix = stage.radix;
    const std::int64_t m = stage.n / radix, s = stage.s;
    const std::int64_t rootStep = stage.length / radix;  // w_radix's table step
    for (int k = 0; k < radix; ++k) {
        double sumR[lanes], sumI[lanes];
        const double* a0r = xr + (q + s * p) * lanes;
        const double* a0i = xi + (q + s * p) * lanes;
        for (int b = 0; b < lanes; ++b) {
            sumR[b] = a0r[b];
            sumI[b] = a0i[b];
        }
        for (int j = 1; j < radix; ++j) {
            const double* ar = xr + (q + s * (p + j * m)) * lanes;
            const double* ai = xi + (q + s * (p + j * m)) * lanes;
            const int power = (j * k) % radix;
            if (power == 0) {
                for (int b = 0; b < lanes; ++b) {
                    sumR[b] += ar[b];
                    sumI[b] += ai[b];
                }
                continue;
            }
            const double c = stage.cosTable[power * rootStep];
            const double sn = stage.sinTable[power * rootStep];
            for (int b = 0; b < lanes; ++b) {
                sumR[b] += ar[b] * c - ai[b] * sn;
                sumI[b] += ar[b] * sn + ai[b] * c;
            }
        }
        twiddled(stage, p, q, k, sumR, sumI, yr, yi);
    }
}

}  // namespace

bool filterTransformLength(std::int64_t length) {
    if (length < 2 || length % 2 != 0) return false;
    for (const std::int64_t factor : {2, 3, 5, 7}) {
        while (length % factor == 0) length /= factor;
    }
    return length == 1;
}

FilterTransform::FilterTransform(std::int64_t length)
    : length_(length), half_(length / 2), radices_(radicesOf(length / 2)) {
    assert(filterTransformLength(length));
    twiddleCos_.resize(length);
    twiddleSin_.resize(length);
    for (std::int64_t j = 0; j < length; ++j) {
        const SineCosine root = viewSineCosine(2 * std::numbers::pi * double(j) / double(length));
        twiddleCos_[j] = root.cosine;
        twiddleSin_[j] = -root.sine;
    }
}

void FilterTransform::complexForward(double* re, double* im, double* re2, double* im2) const {
    double *xr = re, *xi = im, *yr = re2, *yi = im2;
    std::int64_t s = 1;
    for (const int radix : radices_) {
        const std::int64_t n = half_ / s;
        const Stage stage{radix,  n, s, length_ / n, twiddleCos_.data(), twiddleSin_.data(),
                          length_};
        for (std::int64_t p = 0; p < n / radix; ++p) {
            for (std::int64_t q = 0; q < s; ++q) {
                if (radix == 4) {
                    radixFour(stage, p, q, xr, xi, yr, yi);
                } else if (radix == 2) {
                    radixTwo(stage, p, q, xr, xi, yr, yi);
                } else {
                    radixOdd(stage, p, q, xr, xi, yr, yi);
                }
            }
        }
        std::swap(xr, yr);
        std::swap(xi, yi);
        s *= radix;
    }
    if (xr != re) {
        std::copy(xr, xr + half_ * lanes, re);
        std::copy(xi, xi + half_ * lanes, im);
    }
}

// With z[n] = x[2n] + i x[2n+1] and Z its transform of h = L/2 points,
// X[k] = (E + w^k O) / 2 where E = Z[k] + conj Z[h-k] and
// O = (Z[k] - conj Z[h-k]) / i, w = e^(-2 pi i / L), Z[h] = Z[0].
void FilterTransform::forward(const double* signal, double* real, double* imaginary,
                              std::vector<double>& work) const {
    const std::int64_t h = half_;
    work.resize(4 * h * lanes);
    double* zr = work.data();
    double* zi = zr + h * lanes;
    for (std::int64_t n = 0; n < h; ++n) {
        for (int b = 0; b < lanes; ++b) {
            zr[n * lanes + b] = signal[(2 * n) * lanes + b];
            zi[n * lanes + b] = signal[(2 * n + 1) * lanes + b];
        }
    }
    complexForward(zr, zi, zi + h * lanes, zi + 2 * h * lanes);
    for (std::int64_t k = 0; k <= h; ++k) {
        const double* ar = zr + (k % h) * lanes;
        const double* ai = zi + (k % h) * lanes;
        const double* cr = zr + ((h - k) % h) * lanes;
        const double* ci = zi + ((h - k) % h) * lanes;
        const double wc = twiddleCos_[k], ws = twiddleSin_[k];
        for (int b = 0; b < lanes; ++b) {
            const double er = ar[b] + cr[b], ei = ai[b] - ci[b];
            const double orr = ai[b] + ci[b], oi = cr[b] - ar[b];
            real[k * lanes + b] = (er + (orr * wc - oi * ws)) * 0.5;
            imaginary[k * lanes + b] = (ei + (orr * ws + oi * wc)) * 0.5;
        }
    }
}

// The inverse of forward, times L: z[k] = E + i O with E = X[k] + conj X[h-k]
// and O = (X[k] - conj X[h-k]) conj(w^k) is the transform of 2 (x[2n] +
// i x[2n+1]); its inverse transform, conj(transform(conj z)), has h times that.
void FilterTransform::backward(const double* real, const double* imaginary, double* signal,
                               std::vector<double>& work) const {
    const std::int64_t h = half_;
    work.resize(4 * h * lanes);
    double* zr = work.data();
    double* zi = zr + h * lanes;
    // A real signal's bins 0 and L/2 are real: their imaginary parts are
    // read as zeros (a shifted view's phase leaves some at L/2).
    const double zeros[lanes] = {};
    for (std::int64_t k = 0; k < h; ++k) {
        const double* ar = real + k * lanes;
        const double* ai = k == 0 ? zeros : imaginary + k * lanes;
        const double* cr = real + (h - k) * lanes;
        const double* ci = k == 0 ? zeros : imaginary + (h - k) * lanes;
        const double wc = twiddleCos_[k], ws = twiddleSin_[k];
        for (int b = 0; b < lanes; ++b) {
            const double er = ar[b] + cr[b], ei = ai[b] - ci[b];
            const double dr = ar[b] - cr[b], di = ai[b] + ci[b];
            const double orr = dr * wc + di * ws, oi = di * wc - dr * ws;
            zr[k * lanes + b] = er - oi;
            zi[k * lanes + b] = -(ei + orr);  // conjugated for the forward transform
        }
    }
    complexForward(zr, zi, zi + h * lanes, zi + 2 * h * lanes);
    for (std::int64_t n = 0; n < h; ++n) {
        for (int b = 0; b < lanes; ++b) {
            signal[(2 * n) * lanes + b] = zr[n * lanes + b];
            signal[(2 * n + 1) * lanes + b] = -zi[n * lanes + b];
        }
    }
}

}  // namespace quelmor
