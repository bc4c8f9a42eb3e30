#include "quelmor/filter.h"

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quelmor {
namespace {

constexpr std::array<std::string_view, 5> windowNames = {"ramp", "shepp-logan", "cosine", "hamming",
                                                         "hann"};

constexpr double largestFilterShift = 1 << 20;

bool smooth(std::int64_t n) {
    for (const std::int64_t factor : {2, 3, 5, 7}) {
        while (n % factor == 0) n /= factor;
    }
    return n == 1;
}

// Buffers FFTW has aligned as it likes, freed with fftw_free.
struct FftwFree {
    void operator()(void* memory) const { fftw_free(memory); }
};
using RealBuffer = std::unique_ptr<double[], FftwFree>;
using ComplexBuffer = std::unique_ptr<fftw_complex[], FftwFree>;

// A length's transforms, planned once for the process and destroyed when it
// ends. FFTW's planner is not thread-safe, its execution with new arrays
// is: plans are made under a lock, on buffers aligned as every fftw_malloc
// buffer is.
struct Plans {
    fftw_plan forward;
    fftw_plan backward;
};

class PlanCache {
public:
    PlanCache() = default;
    PlanCache(const PlanCache&) = delete;
    PlanCache& operator=(const PlanCache&) = delete;
    ~PlanCache() {
        for (const auto& [length, plans] : plans_) {
            fftw_destroy_plan(plans.forward);
            fftw_destroy_plan(plans.backward);
        }
    }

    const Plans& plansFor(std::int64_t length) {
        const std::lock_guard lock(planning_);
        auto found = plans_.find(length);
        if (found != plans_.end()) return found->second;
        const RealBuffer real(fftw_alloc_real(length));
        const ComplexBuffer spectrum(fftw_alloc_complex(length / 2 + 1));
        const int n = static_cast<int>(length);
        const Plans made{
            fftw_plan_dft_r2c_1d(n, real.get(), spectrum.get(), FFTW_ESTIMATE),
            fftw_plan_dft_c2r_1d(n, spectrum.get(), real.get(), FFTW_ESTIMATE),
        };
        return plans_.emplace(length, made).first->second;
    }

private:
    std::mutex planning_;
    std::map<std::int64_t, Plans> plans_;
};

const Plans& plansFor(std::int64_t length) {
    static PlanCache cache;
    return cache.plansFor(length);
}

double windowAt(FilterWindow window, double x) {
    constexpr double pi = std::numbers::pi;
    switch (window) {
        case FilterWindow::ramp: return 1.0;
        case FilterWindow::sheppLogan: return x == 0 ? 1.0 : std::sin(pi * x / 2) / (pi * x / 2);
        case FilterWindow::cosine: return std::cos(pi * x / 2);
        case FilterWindow::hamming: return 0.54 + 0.46 * std::cos(pi * x);
        case FilterWindow::hann: return 0.5 + 0.5 * std::cos(pi * x);
    }
    return 0.0;
}

// The filter's real spectrum on the length's bins, with FFTW's 1/length and
// the spacing folded in: the transform of the ramp kernel out to offset
// `extent` - 1 (real, the kernel being even) times the window.
std::vector<double> filterSpectrum(const FilterJob& job, std::int64_t length, std::int64_t extent) {
    const Plans& plans = plansFor(length);
    const RealBuffer kernel(fftw_alloc_real(length));
    const ComplexBuffer spectrum(fftw_alloc_complex(length / 2 + 1));
    std::fill(kernel.get(), kernel.get() + length, 0.0);
    kernel[0] = 0.25;
    for (std::int64_t n = 1; n < extent; n += 2) {
        const double value = -1.0 / (std::numbers::pi * std::numbers::pi * double(n) * double(n));
        kernel[n] = value;
        kernel[length - n] = value;
    }
    fftw_execute_dft_r2c(plans.forward, kernel.get(), spectrum.get());
    std::vector<double> response(length / 2 + 1);
    for (std::int64_t k = 0; k < std::ssize(response); ++k) {
        // Bin k is k / length cycles per sample; Nyquist is 1/2.
        const double x = 2.0 * double(k) / double(length) / job.cutoff;
        response[k] =
            x > 1 ? 0.0 : spectrum[k][0] * windowAt(job.window, x) / double(length) / job.spacing;
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
        for (std::int64_t r = 0; r < fineCount; ++r) fine_[r] = std::polar(1.0, step * double(r));
        coarse_.resize(length / fineCount + 1);
        for (std::int64_t q = 0; q < std::ssize(coarse_); ++q)
            coarse_[q] = std::polar(1.0, step * double(q * fineCount));
    }
    std::complex<double> at(std::int64_t k) const {
        return coarse_[k / fineCount] * fine_[k % fineCount];
    }

private:
    static constexpr std::int64_t fineCount = 64;
    std::vector<std::complex<double>> fine_, coarse_;
};

void filterRange(const FilterJob& job, const std::vector<double>& response, std::int64_t length,
                 std::int64_t first, std::int64_t end) {
    const Plans& plans = plansFor(length);
    const RealBuffer signal(fftw_alloc_real(length));
    const ComplexBuffer spectrum(fftw_alloc_complex(length / 2 + 1));
    const std::int64_t count = job.detectorCount;
    PhaseRamp shiftPhases;
    for (std::int64_t view = first; view < end; ++view) {
        const double* in = job.views + view * count;
        std::copy(in, in + count, signal.get());
        std::fill(signal.get() + count, signal.get() + length, 0.0);
        fftw_execute_dft_r2c(plans.forward, signal.get(), spectrum.get());
        if (job.shifts && job.shifts[view] != 0) {
            shiftPhases.prepare(job.shifts[view], length);
            for (std::int64_t k = 0; k < std::ssize(response); ++k) {
                const std::complex<double> shifted =
                    std::complex<double>(spectrum[k][0], spectrum[k][1]) * shiftPhases.at(k);
                spectrum[k][0] = shifted.real() * response[k];
                spectrum[k][1] = shifted.imag() * response[k];
            }
        } else {
            for (std::int64_t k = 0; k < std::ssize(response); ++k) {
                spectrum[k][0] *= response[k];
                spectrum[k][1] *= response[k];
            }
        }
        fftw_execute_dft_c2r(plans.backward, spectrum.get(), signal.get());
        std::copy(signal.get(), signal.get() + count, job.filtered + view * count);
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
    std::int64_t length =
        std::max<std::int64_t>(1, 2 * std::int64_t{detectorCount} - 1 + 2 * reach);
    while (!smooth(length)) ++length;
    return length;
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
    const std::int64_t length = filterLength(job.detectorCount, largestShift);
    const std::vector<double> response = filterSpectrum(
        job, length, job.detectorCount + static_cast<std::int64_t>(std::ceil(largestShift)));
    if (threadCount == 0) threadCount = std::max(1u, std::thread::hardware_concurrency());
    const std::int64_t parts = std::min<std::int64_t>(threadCount, job.viewCount);
    auto partStart = [&](std::int64_t part) { return part * job.viewCount / parts; };
    std::vector<std::jthread> workers;
    for (std::int64_t part = 1; part < parts; ++part) {
        workers.emplace_back([&, part] {
            filterRange(job, response, length, partStart(part), partStart(part + 1));
        });
    }
    filterRange(job, response, length, 0, partStart(1));
}

}  // namespace quelmor
