// The projection filter's discrete Fourier transform, written out so that
// its bits are the same on every processor and platform: a real transform
// of even length L through a complex one of L/2 points (mixed radix 4, 2,
// 3, 5, 7, Stockham order), every twiddle from viewSineCosine. It runs
// `filterLanes` views at once, their samples interleaved, each view's
// arithmetic the same as if it ran alone, so loops over the lanes vectorise
// without changing a bit. core/README.md, "The projection filter", gives the
// order of operations.
#pragma once

#include <cstdint>
#include <vector>

namespace quelmor {

inline constexpr int filterLanes = 8;

// Whether length is even and has no prime factor above 7.
bool filterTransformLength(std::int64_t length);

// The cheapest such length of at least `least` (from least to 2 least, by
// the fixed cost of each stage, filter_transform.cpp; the shorter of equals).
std::int64_t cheapestFilterTransformLength(std::int64_t least);

class FilterTransform {
public:
    // length: filterTransformLength(length) holds.
    explicit FilterTransform(std::int64_t length);

    std::int64_t length() const { return length_; }
    std::int64_t binCount() const { return half_ + 1; }

    // Interleaved storage: entry i of lane b at [i * filterLanes + b].
    // signal: length entries; spectrum: binCount() entries as real and
    // imaginary parts. forward: the spectrum X[k] = sum_n x[n] e^(-2 pi i k n / L)
    // of each real lane. backward: from bins 0 to L/2 of a Hermitian
    // spectrum, L times the real signal it is the spectrum of, the imaginary
    // parts of bins 0 and L/2 read as zeros. Both use
    // `work` (resized as needed) and overwrite their output.
    void forward(const double* signal, double* real, double* imaginary,
                 std::vector<double>& work) const;
    void backward(const double* real, const double* imaginary, double* signal,
                  std::vector<double>& work) const;

private:
    // The complex transform of half_ points, in place in (re, im), with
    // (re2, im2) as the other buffer of each Stockham stage.
    void complexForward(double* re, double* im, double* re2, double* im2) const;

    std::int64_t length_;
    std::int64_t half_;
    std::vector<int> radices_;  // the half-length transform's stages, in order
    // e^(-2 pi i j / L) for j < L: cosines and sines of -2 pi j / L.
    std::vector<double> twiddleCos_, twiddleSin_;
};

}  // namespace quelmor
