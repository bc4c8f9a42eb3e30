// The projection filter's own transform against the discrete Fourier
// transform's definition, on every kind of length it is given, and the
// independence of each view's bits from the views beside it.
#include "quelmor/filter.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <numbers>
#include <random>
#include <vector>

#include "filter_transform.h"

namespace {

using quelmor::filterLanes;
using quelmor::FilterTransform;

std::vector<double> randomLanes(std::int64_t length, unsigned seed) {
    std::mt19937_64 engine(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<double> values(length * filterLanes);
    for (double& value : values) value = uniform(engine);
    return values;
}

// Lengths of each form: powers of 2 with and without a last radix 2, each
// of the radices 3, 5 and 7, and mixtures.
const std::int64_t lengths[] = {2,  4,  6,  8,   10,  14,  16,  18,  30, 32, 42, 50,
                                70, 98, 96, 128, 210, 360, 686, 840, 12, 20, 80, 112};

TEST(FilterTransform, ForwardIsTheDefinitionAndBackwardItsInverse) {
    for (const std::int64_t length : lengths) {
        SCOPED_TRACE(length);
        ASSERT_TRUE(quelmor::filterTransformLength(length));
        const FilterTransform transform(length);
        const auto signal = randomLanes(length, unsigned(length));
        std::vector<double> real(transform.binCount() * filterLanes), imaginary(real.size()), work;
        transform.forward(signal.data(), real.data(), imaginary.data(), work);
        for (int b = 0; b < filterLanes; ++b) {
            for (std::int64_t k = 0; k < transform.binCount(); ++k) {
                long double sumReal = 0, sumImaginary = 0;
                for (std::int64_t n = 0; n < length; ++n) {
                    const long double angle =
                        -2 * std::numbers::pi_v<long double> * ((k * n) % length) / length;
                    sumReal += signal[n * filterLanes + b] * std::cos(angle);
                    sumImaginary += signal[n * filterLanes + b] * std::sin(angle);
                }
                const double tolerance =
                    4e-15 * std::sqrt(double(length)) * std::log2(length + 1.0);
                EXPECT_NEAR(real[k * filterLanes + b], double(sumReal), tolerance) << k;
                EXPECT_NEAR(imaginary[k * filterLanes + b], double(sumImaginary), tolerance) << k;
            }
        }
        // Bins 0 and L/2 of a real signal are real: imaginary parts put
        // there (as a fractional shift's phase does) are not read.
        for (int b = 0; b < filterLanes; ++b) {
            imaginary[b] = 0.5;
            imaginary[(transform.binCount() - 1) * filterLanes + b] = -0.25;
        }
        std::vector<double> back(signal.size());
        transform.backward(real.data(), imaginary.data(), back.data(), work);
        for (std::size_t i = 0; i < signal.size(); ++i) {
            EXPECT_NEAR(back[i] / double(length), signal[i], 1e-14 * std::log2(length + 1.0)) << i;
        }
    }
}

TEST(FilterTransform, EachLaneIsItsOwnWhateverItsNeighbours) {
    for (const std::int64_t length : {30, 840}) {
        const FilterTransform transform(length);
        auto signal = randomLanes(length, 7);
        std::vector<double> real(transform.binCount() * filterLanes), imaginary(real.size()), work;
        std::vector<double> alone(signal.size()), shuffled(signal.size());
        transform.forward(signal.data(), real.data(), imaginary.data(), work);
        transform.backward(real.data(), imaginary.data(), alone.data(), work);
        // Lane 3's signal into lane 6, and noise of other magnitudes around it.
        auto others = randomLanes(length, 8);
        for (std::int64_t n = 0; n < length; ++n) {
            for (int b = 0; b < filterLanes; ++b) others[n * filterLanes + b] *= 1e12;
            others[n * filterLanes + 6] = signal[n * filterLanes + 3];
        }
        transform.forward(others.data(), real.data(), imaginary.data(), work);
        transform.backward(real.data(), imaginary.data(), shuffled.data(), work);
        for (std::int64_t n = 0; n < length; ++n) {
            ASSERT_EQ(std::bit_cast<std::uint64_t>(alone[n * filterLanes + 3]),
                      std::bit_cast<std::uint64_t>(shuffled[n * filterLanes + 6]))
                << length << " " << n;
        }
    }
}

// Threads share the views of one call; the Concurrency name puts this case
// in the thread sanitizer's run too.
TEST(FilterConcurrency, EveryThreadCountGivesTheSameBytes) {
    const std::int32_t detectors = 45;
    const std::int64_t views = 21;  // not a whole number of eight-view batches
    const auto sinogram = randomLanes(detectors * views / filterLanes + 1, 9);
    std::vector<double> shifts(views);
    for (std::int64_t v = 0; v < views; ++v) shifts[v] = v % 3 == 0 ? 0.0 : 0.37 * double(v) - 3;
    for (const double* viewShifts : std::initializer_list<const double*>{nullptr, shifts.data()}) {
        std::vector<double> alone(detectors * views);
        quelmor::FilterJob job{sinogram.data(), alone.data(), detectors, views};
        job.window = quelmor::FilterWindow::hann;
        job.shifts = viewShifts;
        quelmor::filterViews(job, 1);
        for (const unsigned threads : {2u, 3u, 8u, 40u}) {
            std::vector<double> shared(alone.size());
            job.filtered = shared.data();
            quelmor::filterViews(job, threads);
            for (std::size_t i = 0; i < alone.size(); ++i) {
                ASSERT_EQ(std::bit_cast<std::uint64_t>(alone[i]),
                          std::bit_cast<std::uint64_t>(shared[i]))
                    << threads << " threads, sample " << i;
            }
        }
    }
}

// Lengths worked by hand from the stage costs (4: 19, 2: 9, 3: 18, 5: 39,
// 7: 100 per point of the half length).
TEST(FilterTransform, LengthsAreTheCheapestEvenOnesWithNoFactorAboveSeven) {
    EXPECT_EQ(quelmor::filterLength(1), 2);
    EXPECT_EQ(quelmor::filterLength(2), 4);
    EXPECT_EQ(quelmor::filterLength(6), 12);   // 11 -> 12
    EXPECT_EQ(quelmor::filterLength(12), 24);  // 23 -> 24, not 22 = 2 x 11
    // 99: 108 (54 x (9 + 3 x 18) = 3402) before 100 (50 x 87 = 4350) and 128 (3648).
    EXPECT_EQ(quelmor::filterLength(50), 108);
    // 1459: 1536 (768 x 94) before 1470 (735 x 257, two radix-7 stages) and 1500.
    EXPECT_EQ(quelmor::filterLength(730), 1536);
    EXPECT_EQ(quelmor::filterLength(3, 2.5), 12);  // 5 + 2 x 3 = 11 -> 12
    for (const std::int64_t length : {0, 1, 3, 9, 22, 26, 34}) {
        EXPECT_FALSE(quelmor::filterTransformLength(length)) << length;
    }
}

}  // namespace
