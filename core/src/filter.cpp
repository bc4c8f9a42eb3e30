#include "quelmor/filter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "filter_transform.h"
#include "quelmor/view_angles.h"

namespace quelmor {
namespace {

constexpr std::array<std::string_view, 5> windowNames = {"ramp", "shepp-logan", "cosine", "hamming",
                                                         "hann"};

constexpr double largestFilterShift = 1 << 20;

double sineOf(double x) { return viewSineCosine(x).sine; }
double cosineOf(double x) { return viewSineCosine(x).cosine; }

double windowAt(FilterWindow window, double x) {
    constexpr double pi = std::numbers::pi;
    switch (window) {
        case FilterWindow::ramp: return 1.0;
        case FilterWindow::sheppLogan: return x == 0 ? 1.0 : sineOf(pi * x / 2) / (pi * x / 2);
        case FilterWindow::cosine: return cosineOf(pi * x / 2);
        case FilterWindow::hamming: return 0.54 + 0.46 * cosineOf(pi * x);
        case FilterWindow::hann: return 0.5 + 0.5 * cosineOf(pi * x);
    }
    return 0.0;
}

// The filter's real spectrum on the length's bins, with the backward
// transform's factor 1/length and the spacing folded in: the transform of
// the ramp kernel out to offset `extent` - 1 (real, the kernel being even)
// times the window.
std::vector<double> filterSpectrum(const FilterJob& job, const FilterTransform& transform,
                                   std::int64_t extent) {
    const std::int64_t length = transform.length();
    // The kernel rides in lane 0; the other lanes carry zeros.
    std::vector<double> kernel(length * filterLanes, 0.0);
    kernel[0] = 0.25;
    for (std::int64_t n = 1; n < extent; n += 2) {
        const double value = -1.0 / (std::numbers::pi * std::numbers::pi * double(n) * double(n));
        kernel[n * filterLanes] = value;
        kernel[(length - n) * filterLanes] = value;
    }
    std::vector<double> real(transform.binCount() * filterLanes);
    std::vector<double> imaginary(real.size()), work;
    transform.forward(kernel.data(), real.data(), imaginary.data(), work);
    std::vector<double> response(transform.binCount());
    for (std::int64_t k = 0; k < std::ssize(response); ++k) {
        // Bin k is k / length cycles per sample; Nyquist is 1/2.
        const double x = 2.0 * double(k) / double(length) / job.cutoff;
        response[k] =
            x > 1 ? 0.0
                  : real[k * filterLanes] * windowAt(job.window, x) / double(length) / job.spacing;
    }
    return response;
}

// exp(2 pi i k shift / length) for every bin k, as the product of two
// tables' entries (k = fine + 64 coarse), each evaluated directly: no error
// builds up along the bins as it would with repeated rotation.
class PhaseRamp {
public:
    void prepare(double shift, std::int64_t length) {
        const double step = 2 * std::numbers::pi * shift / double(length);
        fine_.resize(fineCount);
        for (std::int64_t r = 0; r < fineCount; ++r) fine_[r] = viewSineCosine(step * double(r));
        coarse_.resize(length / fineCount + 1);
        for (std::int64_t q = 0; q < std::ssize(coarse_); ++q)
            coarse_[q] = viewSineCosine(step * double(q * fineCount));
    }
    // (c + i s)(f + i g) = (cf - sg) + i (cg + sf), each product rounded.
    SineCosine at(std::int64_t k) const {
        const SineCosine& c = coarse_[k / fineCount];
        const SineCosine& f = fine_[k % fineCount];
        return {c.cosine * f.sine + c.sine * f.cosine, c.cosine * f.cosine - c.sine * f.sine};
    }

private:
    static constexpr std::int64_t fineCount = 64;
    std::vector<SineCosine> fine_, coarse_;
};

// Filters views [first, end), filterLanes at a time; a lane past `end`
// carries zeros and is dropped.
void filterRange(const FilterJob& job, const FilterTransform& transform,
                 const std::vector<double>& response, std::int64_t first, std::int64_t end) {
    const std::int64_t length = transform.length(), bins = transform.binCount();
    const std::int64_t count = job.detectorCount;
    std::vector<double> signal(length * filterLanes), real(bins * filterLanes),
        imaginary(bins * filterLanes), work;
    PhaseRamp shiftPhases;
    for (std::int64_t batch = first; batch < end; batch += filterLanes) {
        const int used = static_cast<int>(std::min<std::int64_t>(filterLanes, end - batch));
        std::fill(signal.begin(), signal.end(), 0.0);
        for (int b = 0; b < used; ++b) {
            const double* in = job.views + (batch + b) * count;
            for (std::int64_t i = 0; i < count; ++i) signal[i * filterLanes + b] = in[i];
        }
        transform.forward(signal.data(), real.data(), imaginary.data(), work);
        // Lanes [first, end) times the response.
        auto timesResponse = [&](int first, int end) {
            for (std::int64_t k = 0; k < bins; ++k) {
                for (int b = first; b < end; ++b) {
                    real[k * filterLanes + b] *= response[k];
                    imaginary[k * filterLanes + b] *= response[k];
                }
            }
        };
        bool anyShifted = false;
        for (int b = 0; b < used; ++b)
            anyShifted = anyShifted || (job.shifts && job.shifts[batch + b] != 0);
        // Unshifted, every lane at once: the lanes' loop vectorises.
        if (!anyShifted) timesResponse(0, filterLanes);
        for (int b = 0; anyShifted && b < used; ++b) {
            const double shift = job.shifts[batch + b];
            if (shift == 0) {
                timesResponse(b, b + 1);
                continue;
            }
            shiftPhases.prepare(shift, length);
            for (std::int64_t k = 0; k < bins; ++k) {
                const SineCosine phase = shiftPhases.at(k);
                const double re = real[k * filterLanes + b], im = imaginary[k * filterLanes + b];
                real[k * filterLanes + b] = (re * phase.cosine - im * phase.sine) * response[k];
                imaginary[k * filterLanes + b] =
                    (re * phase.sine + im * phase.cosine) * response[k];
            }
        }
        transform.backward(real.data(), imaginary.data(), signal.data(), work);
        for (int b = 0; b < used; ++b) {
            double* out = job.filtered + (batch + b) * count;
            for (std::int64_t i = 0; i < count; ++i) out[i] = signal[i * filterLanes + b];
        }
    }
}

}  // namespace

std::span<const std::string_view> filterWindowNames() { return windowNames; }

std::optional<FilterWindow> filterWindowNamed(std::string_view name) {
    for (std::size_t i = 0; i < windowNames.size(); ++i) {
        if (windowNames[i] == name) return static_cast<FilterWindow>(i);
    }
    return std::nullopt;
}

std::int64_t filterLength(std::int32_t detectorCount, double largestShift) {
    const std::int64_t reach = static_cast<std::int64_t>(std::ceil(largestShift));
    return cheapestFilterTransformLength(2 * std::int64_t{detectorCount} - 1 + 2 * reach);
}

void filterViews(const FilterJob& job, unsigned threadCount) {
    if (!(job.cutoff > 0 && job.cutoff <= 1)) {
        throw std::invalid_argument(
            "cutoff must be a fraction of the Nyquist frequency in (0, 1], not " +
            std::to_string(job.cutoff));
    }
    if (!(std::isfinite(job.spacing) && job.spacing > 0)) {
        throw std::invalid_argument("spacing must be positive and finite, not " +
                                    std::to_string(job.spacing));
    }
    if (job.detectorCount <= 0 || job.viewCount <= 0) return;
    double largestShift = 0;
    for (std::int64_t v = 0; job.shifts && v < job.viewCount; ++v) {
        if (!(std::fabs(job.shifts[v]) <= largestFilterShift)) {
            throw std::invalid_argument("shifts must be finite and at most 2^20 samples, not " +
                                        std::to_string(job.shifts[v]));
        }
        largestShift = std::max(largestShift, std::fabs(job.shifts[v]));
    }
    // A result read up to S samples beyond the detector's ends needs the
    // kernel S offsets further out, and the transform 2 S samples longer.
    const FilterTransform transform(filterLength(job.detectorCount, largestShift));
    const std::vector<double> response = filterSpectrum(
        job, transform, job.detectorCount + static_cast<std::int64_t>(std::ceil(largestShift)));
    if (threadCount == 0) threadCount = std::max(1u, std::thread::hardware_concurrency());
    const std::int64_t parts = std::min<std::int64_t>(threadCount, job.viewCount);
    auto partStart = [&](std::int64_t part) { return part * job.viewCount / parts; };
    std::vector<std::jthread> workers;
    for (std::int64_t part = 1; part < parts; ++part) {
        workers.emplace_back([&, part] {
            filterRange(job, transform, response, partStart(part), partStart(part + 1));
        });
    }
    filterRange(job, transform, response, 0, partStart(1));
}

}  // namespace quelmor
