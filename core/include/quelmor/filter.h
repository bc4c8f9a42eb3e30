// The projection filter of filtered backprojection: every view convolved
// with the discrete ramp kernel, its spectrum shaped by one of the usual
// windows, through FFTW. Callers run it before accumulateViews; the module
// itself neither links nor calls it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace quelmor {

// Windows on the ramp's spectrum, with x the frequency as a fraction of the
// cutoff (x = 1 at cutoff x Nyquist; nothing passes above it):
//   ramp 1 (Ram-Lak), shepp-logan sin(pi x / 2) / (pi x / 2),
//   cosine cos(pi x / 2), hamming 0.54 + 0.46 cos(pi x), hann 0.5 + 0.5 cos(pi x).
enum class FilterWindow { ramp, sheppLogan, cosine, hamming, hann };

// The windows' names, as callers spell them: "ramp", "shepp-logan", ...
std::span<const std::string_view> filterWindowNames();
std::optional<FilterWindow> filterWindowNamed(std::string_view name);

// The transform length for views of `detectorCount` samples shifted by up
// to `largestShift` samples: an even number of at least
// 2 detectorCount - 1 + 2 ceil(largestShift), so that the transform's
// circular convolution is the linear one wherever the result is read, whose
// only factors are 2, 3, 5 and 7, the cheapest of those up to twice that by
// a fixed cost per factor (core/README.md, "The projection filter").
std::int64_t filterLength(std::int32_t detectorCount, double largestShift = 0);

struct FilterJob {
    const double* views;  // viewCount views of detectorCount contiguous samples
    double* filtered;     // the same layout; may be `views` itself
    std::int32_t detectorCount;
    std::int64_t viewCount;
    FilterWindow window = FilterWindow::ramp;
    double cutoff = 1.0;   // fraction of the Nyquist frequency, in (0, 1]
    double spacing = 1.0;  // detector spacing: results are in units of 1/spacing
    // Per view, or nullptr: view v's result at sample b is its filtered
    // signal at b + shifts[v], between samples interpolated band-limited
    // (through the transform's phase), the detector zero beyond its ends.
    const double* shifts = nullptr;
};

// Filters every view, the views shared among threadCount threads (0: one
// per core); each view's result does not depend on the thread count. The
// kernel is the ramp's, 1/4 at 0, -1/(pi n)^2 at odd n, 0 at even n, out to
// every offset the result needs (|n| < detectorCount + the largest shift),
// and the detector reads zero beyond its ends. Throws std::invalid_argument for a
// cutoff outside (0, 1], a spacing that is not positive and finite, or a
// shift that is not finite or is larger than 2^20 samples.
void filterViews(const FilterJob& job, unsigned threadCount = 0);

}  // namespace quelmor
