// SIRT and CGLS in lockstep over a stack: each iteration projects and
// backprojects every active slice through the threaded stack entries, and
// runs the elementwise steps and reductions one slice per thread, each
// reduction in the defined block order.
#include "quelmor/solvers.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>
#include <vector>

#include "quelmor/check_job.h"
#include "quelmor/parallel.h"

namespace quelmor {

void dotBlockSums(const double* a, const double* b, std::size_t n, std::size_t firstBlock,
                  std::size_t endBlock, double* sums) {
    for (std::size_t block = firstBlock; block < endBlock; ++block) {
        const std::size_t end = std::min(n, (block + 1) * reductionBlock);
        double sum = 0.0;
        for (std::size_t k = block * reductionBlock; k < end; ++k) sum = sum + a[k] * b[k];
        sums[block - firstBlock] = sum;
    }
}

double pairwiseTotal(std::span<double> sums) {
    if (sums.empty()) return 0.0;
    std::size_t count = sums.size();
    while (count > 1) {
        const std::size_t pairs = count / 2;
        for (std::size_t i = 0; i < pairs; ++i) sums[i] = sums[2 * i] + sums[2 * i + 1];
        if (count % 2 == 1) sums[pairs] = sums[count - 1];
        count = pairs + count % 2;
    }
    return sums[0];
}

double orderedDot(const double* a, const double* b, std::size_t n) {
    const std::size_t blocks = (n + reductionBlock - 1) / reductionBlock;
    // 2^31 elements make 2^21 blocks: small enough for a buffer per call.
    std::vector<double> sums(blocks);
    dotBlockSums(a, b, n, 0, blocks, sums.data());
    return pairwiseTotal(sums);
}

const char* solverOptionsProblem(const SolverOptions& options) {
    if (options.method != SolverMethod::sirt && options.method != SolverMethod::cgls)
        return "unknown solver method";
    if (options.iterations < 0) return "iterations must be at least 0";
    if (!std::isfinite(options.tolerance) || options.tolerance < 0.0)
        return "tolerance must be finite and at least 0";
    if (options.method == SolverMethod::sirt &&
        !(options.relaxation > 0.0 && options.relaxation < 2.0))
        return "relaxation must lie in (0, 2)";
    if (options.method == SolverMethod::cgls && (options.relaxation != 1.0 || options.nonnegative))
        return "relaxation and nonnegativity are SIRT's options, not CGLS's";
    return nullptr;
}

namespace {

// Runs work(0) ... work(count - 1), spread over up to `threads` threads.
template <typename Work>
void runAcross(std::size_t count, unsigned threads, const Work& work) {
    const std::size_t used = std::min<std::size_t>(threads, count);
    if (used <= 1) {
        for (std::size_t i = 0; i < count; ++i) work(i);
        return;
    }
    std::atomic<std::size_t> next{0};
    const auto loop = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < count;) work(i);
    };
    std::vector<std::jthread> pool;
    for (std::size_t t = 1; t < used; ++t) pool.emplace_back(loop);
    loop();
}

double norm(const std::vector<double>& values) {
    return std::sqrt(orderedDot(values.data(), values.data(), values.size()));
}

// Each slice's state; the vectors are its images and sinograms.
struct SliceState {
    const double* data;  // y: the sinogram, or its shifted copy
    double* image;       // x
    std::vector<double> shifted, residual, projected, backprojected, direction;
    double dataNorm = 0.0, residualNorm = 0.0, gamma = 0.0;
    std::int32_t iterations = 0;
    bool active = true;
    bool updated = false;  // in this iteration
};

// View v's sample b read at b + shift, linearly between the two samples
// around it; a whole shift copies exactly.
void shiftViews(const SolverGeometry& geometry, const double* sinogram, double* shifted) {
    const std::int64_t m = geometry.detectorCount;
    for (std::int64_t v = 0; v < geometry.viewCount; ++v) {
        const double* view = sinogram + v * m;
        for (std::int64_t b = 0; b < m; ++b) {
            const double position = static_cast<double>(b) + geometry.viewShifts[v];
            const double below = std::floor(position);
            const double weight = position - below;
            double value = 0.0;
            if (below >= -1.0 && below < static_cast<double>(m)) {
                const auto lo = static_cast<std::int64_t>(below);
                if (lo >= 0) value = (1.0 - weight) * view[lo];
                if (lo + 1 < m) value = value + weight * view[lo + 1];
            }
            shifted[v * m + b] = value;
        }
    }
}

class Solver {
public:
    Solver(const SolverGeometry& geometry, std::span<const SolverSlice> slices,
           const SolverOptions& options, const SolverReport& report)
        : geometry_(geometry),
          options_(options),
          report_(report),
          threads_(options.threadCount ? options.threadCount
                                       : std::max(1u, std::thread::hardware_concurrency())),
          pixels_(std::size_t(geometry.imageSize) * std::size_t(geometry.imageSize)),
          samples_(std::size_t(geometry.detectorCount) * std::size_t(geometry.viewCount)),
          states_(slices.size()) {
        for (std::size_t s = 0; s < slices.size(); ++s) {
            states_[s].data = slices[s].sinogram;
            states_[s].image = slices[s].image;
        }
    }

    void run(std::span<SolverOutcome> outcomes) {
        if (options_.method == SolverMethod::sirt) {
            sirt();
        } else {
            cgls();
        }
        for (std::size_t s = 0; s < outcomes.size(); ++s)
            outcomes[s] = {states_[s].iterations, states_[s].residualNorm};
    }

private:
    ProjectionJob projection(double* sinogram, const double* image) const {
        return {sinogram,
                image,
                geometry_.detectorCount,
                geometry_.cosines,
                geometry_.sines,
                geometry_.viewCount,
                geometry_.imageSize,
                geometry_.interpCode};
    }
    BackprojectionJob backprojection(double* image, const double* sinogram) const {
        return {image,
                sinogram,
                geometry_.detectorCount,
                geometry_.cosines,
                geometry_.sines,
                geometry_.viewCount,
                geometry_.imageSize,
                geometry_.interpCode};
    }

    template <typename Work>
    void eachActive(const Work& work) {
        std::vector<SliceState*> active;
        for (SliceState& state : states_)
            if (state.active) active.push_back(&state);
        runAcross(active.size(), threads_, [&](std::size_t i) { work(*active[i]); });
    }

    // into(state) = A from(state), for every active slice; `into` zeroed first.
    template <typename Into, typename From>
    void project(Into into, From from) {
        std::vector<ProjectionJob> jobs;
        for (SliceState& state : states_)
            if (state.active) jobs.push_back(projection(into(state), from(state)));
        projectStackParallel(jobs, threads_);
    }
    template <typename Into, typename From>
    void backproject(Into into, From from) {
        std::vector<BackprojectionJob> jobs;
        for (SliceState& state : states_)
            if (state.active) jobs.push_back(backprojection(into(state), from(state)));
        accumulateStackParallel(jobs, threads_, nullptr, ImageStart::zeroed);
    }

    bool reachedTolerance(const SliceState& state) const {
        return state.residualNorm == 0.0 ||
               (options_.tolerance > 0.0 &&
                state.residualNorm <= options_.tolerance * state.dataNorm);
    }

    // y, x and r = y - A x for every slice, and the tolerance at x.
    void start() {
        eachActive([&](SliceState& state) {
            if (geometry_.viewShifts) {
                state.shifted.resize(samples_);
                shiftViews(geometry_, state.data, state.shifted.data());
                state.data = state.shifted.data();
            }
            if (!options_.startFromImage) std::fill_n(state.image, pixels_, 0.0);
            state.residual.assign(samples_, 0.0);
        });
        // A zero start's residual is y itself: no projection needed.
        if (options_.startFromImage)
            project([](SliceState& state) { return state.residual.data(); },
                    [](SliceState& state) { return static_cast<const double*>(state.image); });
        eachActive([&](SliceState& state) {
            for (std::size_t i = 0; i < samples_; ++i)
                state.residual[i] = state.data[i] - state.residual[i];
            state.dataNorm = std::sqrt(orderedDot(state.data, state.data, samples_));
            state.residualNorm = norm(state.residual);
            if (reachedTolerance(state)) state.active = false;
        });
    }

    bool anyActive() const {
        return std::any_of(states_.begin(), states_.end(),
                           [](const SliceState& state) { return state.active; });
    }

    // After an iteration's update: slices at the tolerance stop, then the report.
    bool finishIteration(std::int32_t iteration) {
        std::vector<double> norms(states_.size(), std::numeric_limits<double>::quiet_NaN());
        for (std::size_t s = 0; s < states_.size(); ++s) {
            SliceState& state = states_[s];
            if (!state.updated) continue;
            state.updated = false;
            state.iterations = iteration;
            norms[s] = state.residualNorm;
            if (reachedTolerance(state)) state.active = false;
        }
        if (report_ && report_(iteration, norms)) {
            for (SliceState& state : states_) state.active = false;
        }
        return anyActive();
    }

    void sirt() {
        // R = 1 / (A 1) and lambda C = lambda / (B 1), 0 where a sum is 0.
        std::vector<double> ones(std::max(pixels_, samples_), 1.0);
        std::vector<double> rowWeights(samples_, 0.0), columnWeights(pixels_, 0.0);
        projectViewsParallel(projection(rowWeights.data(), ones.data()), threads_);
        accumulateViewsParallel(backprojection(columnWeights.data(), ones.data()), threads_);
        ones = {};
        for (double& weight : rowWeights) weight = weight != 0.0 ? 1.0 / weight : 0.0;
        for (double& weight : columnWeights)
            weight = weight != 0.0 ? options_.relaxation * (1.0 / weight) : 0.0;

        start();
        for (std::int32_t iteration = 1; iteration <= options_.iterations && anyActive();
             ++iteration) {
            eachActive([&](SliceState& state) {
                state.updated = true;
                for (std::size_t i = 0; i < samples_; ++i)
                    state.residual[i] = rowWeights[i] * state.residual[i];
                state.backprojected.resize(pixels_);
            });
            backproject([](SliceState& state) { return state.backprojected.data(); },
                        [](SliceState& state) { return state.residual.data(); });
            eachActive([&](SliceState& state) {
                double* x = state.image;
                for (std::size_t i = 0; i < pixels_; ++i)
                    x[i] = x[i] + columnWeights[i] * state.backprojected[i];
                if (options_.nonnegative)
                    for (std::size_t i = 0; i < pixels_; ++i) x[i] = x[i] < 0.0 ? 0.0 : x[i];
                std::fill(state.residual.begin(), state.residual.end(), 0.0);
            });
            project([](SliceState& state) { return state.residual.data(); },
                    [](SliceState& state) { return static_cast<const double*>(state.image); });
            eachActive([&](SliceState& state) {
                for (std::size_t i = 0; i < samples_; ++i)
                    state.residual[i] = state.data[i] - state.residual[i];
                state.residualNorm = norm(state.residual);
            });
            if (!finishIteration(iteration)) break;
        }
    }

    void cgls() {
        start();
        // s = B r, p = s, gamma = <s, s>.
        eachActive([&](SliceState& state) {
            state.backprojected.resize(pixels_);
            state.projected.resize(samples_);
        });
        backproject([](SliceState& state) { return state.backprojected.data(); },
                    [](SliceState& state) { return state.residual.data(); });
        eachActive([&](SliceState& state) {
            state.direction = state.backprojected;
            state.gamma =
                orderedDot(state.backprojected.data(), state.backprojected.data(), pixels_);
        });
        for (std::int32_t iteration = 1; iteration <= options_.iterations; ++iteration) {
            // gamma = 0: B r = 0, x is a least-squares solution already.
            for (SliceState& state : states_)
                if (state.gamma == 0.0) state.active = false;
            if (!anyActive()) break;
            eachActive([&](SliceState& state) {
                std::fill(state.projected.begin(), state.projected.end(), 0.0);
            });
            project([](SliceState& state) { return state.projected.data(); },
                    [](SliceState& state) {
                        return static_cast<const double*>(state.direction.data());
                    });
            eachActive([&](SliceState& state) {
                const double* q = state.projected.data();
                const double delta = orderedDot(q, q, samples_);
                // A p = 0 (only by underflow: <B r, p> = gamma > 0): no step left.
                if (delta == 0.0) {
                    state.active = false;
                    return;
                }
                state.updated = true;
                const double alpha = state.gamma / delta;
                double* x = state.image;
                const double* p = state.direction.data();
                for (std::size_t i = 0; i < pixels_; ++i) x[i] = x[i] + alpha * p[i];
                for (std::size_t i = 0; i < samples_; ++i)
                    state.residual[i] = state.residual[i] - alpha * q[i];
                state.residualNorm = norm(state.residual);
            });
            if (!finishIteration(iteration) || iteration == options_.iterations) break;
            // s = B r, gamma' = <s, s>, p = s + (gamma' / gamma) p.
            backproject([](SliceState& state) { return state.backprojected.data(); },
                        [](SliceState& state) { return state.residual.data(); });
            eachActive([&](SliceState& state) {
                const double* s = state.backprojected.data();
                const double next = orderedDot(s, s, pixels_);
                const double beta = next / state.gamma;
                double* p = state.direction.data();
                for (std::size_t i = 0; i < pixels_; ++i) p[i] = s[i] + beta * p[i];
                state.gamma = next;
            });
        }
    }

    const SolverGeometry& geometry_;
    const SolverOptions& options_;
    const SolverReport& report_;
    unsigned threads_;
    std::size_t pixels_, samples_;
    std::vector<SliceState> states_;
};

}  // namespace

void solveStack(const SolverGeometry& geometry, std::span<const SolverSlice> slices,
                const SolverOptions& options, const SolverReport& report,
                std::span<SolverOutcome> outcomes) {
    if (const char* problem = solverOptionsProblem(options)) throw std::invalid_argument(problem);
    const auto views = static_cast<std::uint64_t>(std::max(geometry.viewCount, 0));
    if (geometry.detectorCount < 0 || geometry.viewCount < 0 ||
        checkJob({geometry.imageSize, static_cast<std::uint64_t>(geometry.detectorCount), views,
                  views, views, geometry.cosines, geometry.sines}) != JobProblem::none)
        throw std::invalid_argument("the geometry is not one the kernels take (checkJob)");
    if (geometry.viewShifts) {
        for (std::int32_t v = 0; v < geometry.viewCount; ++v)
            if (!std::isfinite(geometry.viewShifts[v]))
                throw std::invalid_argument("view shifts must be finite");
    }
    if (!outcomes.empty() && outcomes.size() != slices.size())
        throw std::invalid_argument("outcomes needs one element per slice, or none");
    Solver(geometry, slices, options, report).run(outcomes);
}

}  // namespace quelmor
