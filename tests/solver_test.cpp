// The solvers' defined reductions, the view angles' accuracy and bits, and
// the stack solver's independence from threads and neighbouring slices.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "quelmor/geometry_guide.h"
#include "quelmor/solvers.h"
#include "quelmor/view_angles.h"

namespace {

using quelmor::SolverGeometry;
using quelmor::SolverMethod;
using quelmor::SolverOptions;
using quelmor::SolverSlice;

std::vector<double> randomValues(std::size_t count, unsigned seed) {
    std::mt19937_64 engine(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<double> values(count);
    // Magnitudes over many binades, so a different order of sums shows.
    for (double& value : values) value = uniform(engine) * std::ldexp(1.0, int(engine() % 40) - 20);
    return values;
}

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

TEST(Reductions, AnySplitOfTheBlocksBetweenThreadsGivesTheSameBits) {
    for (std::size_t n : {0u, 1u, 1023u, 1024u, 1025u, 5000u, 70001u}) {
        const auto a = randomValues(n, 1), b = randomValues(n, 2);
        const double whole = quelmor::orderedDot(a.data(), b.data(), n);
        const std::size_t blocks = (n + quelmor::reductionBlock - 1) / quelmor::reductionBlock;
        for (std::size_t threads : {1u, 2u, 3u, 7u}) {
            std::vector<double> sums(blocks);
            std::vector<std::thread> pool;
            const std::size_t share = (blocks + threads - 1) / threads;
            for (std::size_t t = 0; t < threads; ++t) {
                const std::size_t first = std::min(blocks, t * share);
                const std::size_t end = std::min(blocks, first + share);
                pool.emplace_back([&, first, end] {
                    quelmor::dotBlockSums(a.data(), b.data(), n, first, end, sums.data() + first);
                });
            }
            for (auto& thread : pool) thread.join();
            EXPECT_EQ(bits(quelmor::pairwiseTotal(sums)), bits(whole)) << n << " " << threads;
        }
    }
}

TEST(Reductions, BlocksLeftToRightThenPairwise) {
    // Written out for 3 blocks: ((block 0 + block 1) + block 2).
    std::vector<double> ones(3 * quelmor::reductionBlock, 1.0);
    ones[0] = 1e16;  // 1e16 + 1 rounds back to 1e16: the order shows
    const double block0 = 1e16, block1 = 1024.0, block2 = 1024.0;
    EXPECT_EQ(
        quelmor::orderedDot(ones.data(), std::vector<double>(ones.size(), 1.0).data(), ones.size()),
        (block0 + block1) + block2);
    // Left to right this would be 7: 1e17 + 1 and -1e17 + 3 both round.
    std::vector<double> five{1e17, 1.0, -1e17, 3.0, 4.0};
    EXPECT_EQ(quelmor::pairwiseTotal(five), 4.0);
}

TEST(ViewAngles, WithinTwoUlpOfTheCLibrary) {
    std::vector<double> angles;
    for (int k = -64; k <= 64; ++k) {
        angles.push_back(k * std::numbers::pi / 2);
        angles.push_back(k * std::numbers::pi / 4);
        angles.push_back(k * std::numbers::pi / 180);
    }
    for (double large : {1e3, 12345.678, 1e5, 1.5e6, -7e5}) angles.push_back(large);
    std::mt19937_64 engine(5);
    std::uniform_real_distribution<double> uniform(-20.0, 20.0);
    for (int i = 0; i < 200000; ++i) angles.push_back(uniform(engine));
    for (double tiny : {0.0, -0.0, 1e-300, -1e-9, 1e-5}) angles.push_back(tiny);
    const auto ulps = [](double got, double want) {
        // Apart in units of the last place of the larger, at 2^-1074 at least.
        const double unit =
            std::max(std::ldexp(std::nextafter(std::fabs(want), INFINITY) - std::fabs(want), 0),
                     std::ldexp(1.0, -1074));
        return std::fabs(got - want) / unit;
    };
    // Near a zero of sine or cosine the result is tiny and the C library's
    // own rounding of theta's remainder decides: compare with 2^-60 there.
    for (double theta : angles) {
        const auto angle = quelmor::viewSineCosine(theta);
        const double sine = std::sin(theta), cosine = std::cos(theta);
        EXPECT_TRUE(ulps(angle.sine, sine) <= 2.0 || std::fabs(angle.sine - sine) < 0x1p-60)
            << theta;
        EXPECT_TRUE(ulps(angle.cosine, cosine) <= 2.0 || std::fabs(angle.cosine - cosine) < 0x1p-60)
            << theta;
    }
}

TEST(ViewAngles, FixedBitPatterns) {
    // The bits this implementation gives; a platform that differs fails here.
    // The correctly rounded values (glibc's, checked apart) where they agree.
    struct Case {
        double theta;
        std::uint64_t sine, cosine;
    };
    const Case cases[] = {
        {0.0, 0x0000000000000000, 0x3ff0000000000000},
        {std::numbers::pi / 2, 0x3ff0000000000000, 0x3c91a62633145c07},
        {std::numbers::pi / 4, 0x3fe6a09e667f3bcc, 0x3fe6a09e667f3bcd},
        {std::numbers::pi, 0x3ca1a62633145c07, 0xbff0000000000000},
        {1.0, 0x3feaed548f090cee, 0x3fe14a280fb5068c},
        // One unit in the last place below the correctly rounded ...cab1.
        {-2.5, 0xbfe326af0dcfcab0, 0xbfe9a2f7ef858b7d},
        // The cosine one above the correctly rounded ...f1bb.
        {1000.0, 0x3fea75cc150a206b, 0x3fe1ff026793f1bc},
        {1e6, 0xbfd6664b2568d867, 0x3fedf9df9906d32c},
    };
    for (const Case& c : cases) {
        const auto angle = quelmor::viewSineCosine(c.theta);
        EXPECT_EQ(bits(angle.sine), c.sine) << c.theta << std::hex << " " << bits(angle.sine);
        EXPECT_EQ(bits(angle.cosine), c.cosine) << c.theta << std::hex << " " << bits(angle.cosine);
    }
}

struct Scene {
    std::int32_t size = 24, detectors = quelmor::coveringDetectorCount(24), views = 17;
    std::vector<double> cosines, sines;
    Scene() {
        for (int v = 0; v < views; ++v) {
            const auto angle = quelmor::viewSineCosine(v * std::numbers::pi / views);
            cosines.push_back(angle.cosine);
            sines.push_back(angle.sine);
        }
    }
    SolverGeometry geometry(const double* shifts = nullptr) const {
        return {detectors, views, size, 1, cosines.data(), sines.data(), shifts};
    }
};

std::vector<std::vector<double>> solve(const Scene& scene, const std::vector<double>& sinograms,
                                       std::size_t slices, SolverOptions options,
                                       const double* shifts = nullptr) {
    const std::size_t samples = std::size_t(scene.detectors) * scene.views;
    std::vector<std::vector<double>> images(slices, std::vector<double>(scene.size * scene.size));
    std::vector<SolverSlice> jobs;
    for (std::size_t s = 0; s < slices; ++s)
        jobs.push_back({sinograms.data() + s * samples, images[s].data()});
    quelmor::solveStack(scene.geometry(shifts), jobs, options);
    return images;
}

TEST(Solvers, EachSliceAsAloneWithAnyThreadCount) {
    const Scene scene;
    const std::size_t samples = std::size_t(scene.detectors) * scene.views, slices = 5;
    const auto sinograms = randomValues(samples * slices, 9);
    const std::vector<double> shifts(scene.views, 0.4);
    for (SolverMethod method : {SolverMethod::sirt, SolverMethod::cgls}) {
        for (const double* shift : {static_cast<const double*>(nullptr), shifts.data()}) {
            SolverOptions options;
            options.method = method;
            options.iterations = 6;
            options.threadCount = 1;
            const auto one = solve(scene, sinograms, slices, options, shift);
            for (unsigned threads : {2u, 3u, 8u}) {
                options.threadCount = threads;
                EXPECT_EQ(solve(scene, sinograms, slices, options, shift), one);
            }
            for (std::size_t s = 0; s < slices; ++s) {
                std::vector<double> alone(sinograms.begin() + s * samples,
                                          sinograms.begin() + (s + 1) * samples);
                options.threadCount = 3;
                EXPECT_EQ(solve(scene, alone, 1, options, shift)[0], one[s]) << s;
            }
        }
    }
}

TEST(Solvers, ReportStopsAndOptionsOutOfRangeAreRefused) {
    const Scene scene;
    const auto sinogram = randomValues(std::size_t(scene.detectors) * scene.views, 3);
    std::vector<double> image(scene.size * scene.size);
    const SolverSlice slice{sinogram.data(), image.data()};
    SolverOptions options;
    options.iterations = 50;
    std::vector<double> norms;
    quelmor::SolverOutcome outcome{};
    quelmor::solveStack(scene.geometry(), {&slice, 1}, options,
                        [&](std::int32_t, std::span<const double> reported) {
                            norms.push_back(reported[0]);
                            return norms.size() == 4;
                        },
                        {&outcome, 1});
    EXPECT_EQ(norms.size(), 4u);
    EXPECT_EQ(outcome.iterations, 4);
    EXPECT_EQ(outcome.residualNorm, norms.back());
    for (auto change : {+[](SolverOptions& o) { o.iterations = -1; },
                        +[](SolverOptions& o) { o.relaxation = 2.0; },
                        +[](SolverOptions& o) { o.tolerance = NAN; },
                        +[](SolverOptions& o) {
                            o.method = SolverMethod::cgls;
                            o.nonnegative = true;
                        }}) {
        SolverOptions bad;
        change(bad);
        EXPECT_THROW(quelmor::solveStack(scene.geometry(), {&slice, 1}, bad),
                     std::invalid_argument);
    }
}

}  // namespace
