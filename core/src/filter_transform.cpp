#include "filter_transform.h"

#include <algorithm>
#include <cassert>
#include <cstring>
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
    std::int64_t n;
    std::int64_t s;
    std::int64_t twiddleStep;  // L / n: w^t is table entry t * twiddleStep
    const double* cosTable;
    const double* sinTable;
    std::int64_t length;  // L, the table's size
};

// Two lanes of one entry: GCC's and Clang's vector extension, each operation
// the lanes' own IEEE operation, in the registers every x86-64 (SSE2) and
// ARM64 processor has.
constexpr int rowLanes = 2;
typedef double LaneRow
    __attribute__((vector_size(rowLanes * sizeof(double)), aligned(alignof(double))));
LaneRow load(const double* from) {
    LaneRow row;
    std::memcpy(&row, from, sizeof row);
    return row;
}
void store(double* to, const LaneRow& row) { std::memcpy(to, &row, sizeof row); }

// The butterfly: inputs a_j at in[j * stride], outputs b_k. Radix 4 and 2
// as their butterflies; 3, 5 and 7 as the sums written out, term j = 0 first.
template <int radix>
struct Butterfly {
    double rootCos[radix], rootSin[radix];  // w_radix^t

    explicit Butterfly(const Stage& stage) {
        for (int t = 0; t < radix; ++t) {
            rootCos[t] = stage.cosTable[t * (stage.length / radix)];
            rootSin[t] = stage.sinTable[t * (stage.length / radix)];
        }
    }

    void operator()(const double* inR, const double* inI, std::int64_t stride, LaneRow* br,
                    LaneRow* bi) const {
        LaneRow ar[radix], ai[radix];
        for (int j = 0; j < radix; ++j) {
            ar[j] = load(inR + j * stride);
            ai[j] = load(inI + j * stride);
        }
        if constexpr (radix == 4) {
            const LaneRow t0r = ar[0] + ar[2], t0i = ai[0] + ai[2];
            const LaneRow t1r = ar[0] - ar[2], t1i = ai[0] - ai[2];
            const LaneRow t2r = ar[1] + ar[3], t2i = ai[1] + ai[3];
            const LaneRow t3r = ar[1] - ar[3], t3i = ai[1] - ai[3];
            br[0] = t0r + t2r;
            bi[0] = t0i + t2i;
            br[2] = t0r - t2r;
            bi[2] = t0i - t2i;
            // w_4 = -i: b1 = t1 - i t3, b3 = t1 + i t3.
            br[1] = t1r + t3i;
            bi[1] = t1i - t3r;
            br[3] = t1r - t3i;
            bi[3] = t1i + t3r;
        } else if constexpr (radix == 2) {
            br[0] = ar[0] + ar[1];
            bi[0] = ai[0] + ai[1];
            br[1] = ar[0] - ar[1];
            bi[1] = ai[0] - ai[1];
        } else {
            for (int k = 0; k < radix; ++k) {
                LaneRow sumR = ar[0], sumI = ai[0];
                for (int j = 1; j < radix; ++j) {
                    const int power = (j * k) % radix;
                    if (power == 0) {
                        sumR += ar[j];
                        sumI += ai[j];
                    } else {
                        sumR += ar[j] * rootCos[power] - ai[j] * rootSin[power];
                        sumI += ar[j] * rootSin[power] + ai[j] * rootCos[power];
                    }
                }
                br[k] = sumR;
                bi[k] = sumI;
            }
        }
    }
};

// One stage, every butterfly, two lanes at a time.
template <int radix>
void runStage(const Stage& stage, const double* xr, const double* xi, double* yr, double* yi) {
    const std::int64_t m = stage.n / radix, s = stage.s;
    const std::int64_t inStride = s * m * lanes, outStride = s * lanes;
    const Butterfly<radix> butterfly(stage);
    for (std::int64_t p = 0; p < m; ++p) {
        double c[radix], sn[radix];
        for (int k = 0; k < radix; ++k) {
            c[k] = stage.cosTable[k * p * stage.twiddleStep];
            sn[k] = stage.sinTable[k * p * stage.twiddleStep];
        }
        for (std::int64_t q = 0; q < s; ++q) {
            for (int b = 0; b < lanes; b += rowLanes) {
                LaneRow br[radix], bi[radix];
                butterfly(xr + (q + s * p) * lanes + b, xi + (q + s * p) * lanes + b, inStride, br,
                          bi);
                double* outR = yr + (q + s * radix * p) * lanes + b;
                double* outI = yi + (q + s * radix * p) * lanes + b;
                store(outR, br[0]);
                store(outI, bi[0]);
                for (int k = 1; k < radix; ++k) {
                    if (p == 0) {
                        store(outR + k * outStride, br[k]);
                        store(outI + k * outStride, bi[k]);
                    } else {
                        store(outR + k * outStride, br[k] * c[k] - bi[k] * sn[k]);
                        store(outI + k * outStride, br[k] * sn[k] + bi[k] * c[k]);
                    }
                }
            }
        }
    }
}

// The time of one stage per point of the half-length transform, in
// nanoseconds per eight views, fitted to this code's transforms of 750 to 1600 points
// on one AMD Zen 5 core: radix 3 costs about what 4 does, 5 twice that and
// 7 five times. Fixed here, so the length (and so the bits) never depend on
// the machine that runs it.
std::int64_t stageCost(int radix) {
    switch (radix) {
        case 4: return 19;
        case 2: return 9;
        case 3: return 18;
        case 5: return 39;
        default: return 100;
    }
}

std::int64_t transformCost(std::int64_t length) {
    std::int64_t perPoint = 0;
    for (const int radix : radicesOf(length / 2)) perPoint += stageCost(radix);
    return length / 2 * perPoint;
}

}  // namespace

std::int64_t cheapestFilterTransformLength(std::int64_t least) {
    least = std::max<std::int64_t>(least, 2);
    const std::int64_t most = 2 * least;  // holds a power of two
    std::int64_t best = 0, bestCost = 0;
    for (std::int64_t p7 = 1; p7 <= most; p7 *= 7) {
        for (std::int64_t p5 = p7; p5 <= most; p5 *= 5) {
            for (std::int64_t p3 = p5; p3 <= most; p3 *= 3) {
                for (std::int64_t length = 2 * p3; length <= most; length *= 2) {
                    if (length < least) continue;
                    const std::int64_t cost = transformCost(length);
                    if (best == 0 || cost < bestCost || (cost == bestCost && length < best)) {
                        best = length;
                        bestCost = cost;
                    }
                }
            }
        }
    }
    return best;
}

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
        const Stage stage{n, s, length_ / n, twiddleCos_.data(), twiddleSin_.data(), length_};
        switch (radix) {
            case 4: runStage<4>(stage, xr, xi, yr, yi); break;
            case 2: runStage<2>(stage, xr, xi, yr, yi); break;
            case 3: runStage<3>(stage, xr, xi, yr, yi); break;
            case 5: runStage<5>(stage, xr, xi, yr, yi); break;
            default: runStage<7>(stage, xr, xi, yr, yi); break;
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
        const std::int64_t at = k == h ? 0 : k, mirror = k == 0 ? 0 : h - k;
        const double wc = twiddleCos_[k], ws = twiddleSin_[k];
        for (int b = 0; b < lanes; b += rowLanes) {
            const LaneRow ar = load(zr + at * lanes + b), ai = load(zi + at * lanes + b);
            const LaneRow cr = load(zr + mirror * lanes + b), ci = load(zi + mirror * lanes + b);
            const LaneRow er = ar + cr, ei = ai - ci;
            const LaneRow orr = ai + ci, oi = cr - ar;
            store(real + k * lanes + b, (er + (orr * wc - oi * ws)) * 0.5);
            store(imaginary + k * lanes + b, (ei + (orr * ws + oi * wc)) * 0.5);
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
        const double* realRow = real + k * lanes;
        const double* imaginaryRow = k == 0 ? zeros : imaginary + k * lanes;
        const double* mirrorReal = real + (h - k) * lanes;
        const double* mirrorImaginary = k == 0 ? zeros : imaginary + (h - k) * lanes;
        const double wc = twiddleCos_[k], ws = twiddleSin_[k];
        for (int b = 0; b < lanes; b += rowLanes) {
            const LaneRow ar = load(realRow + b), ai = load(imaginaryRow + b);
            const LaneRow cr = load(mirrorReal + b), ci = load(mirrorImaginary + b);
            const LaneRow er = ar + cr, ei = ai - ci;
            const LaneRow dr = ar - cr, di = ai + ci;
            const LaneRow orr = dr * wc + di * ws, oi = di * wc - dr * ws;
            store(zr + k * lanes + b, er - oi);
            store(zi + k * lanes + b, -(ei + orr));  // conjugated for the forward transform
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
