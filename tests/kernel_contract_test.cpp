// The kernel's contract, checked on every variant this processor runs: the
// geometry, the samplers' rounding and the handling of coordinates off the
// detector. (The worked examples are in the table of call cases.)
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "kernel_buffers.h"
#include "quelmor/accumulate_views.h"
#include "quelmor/kernel_variants.h"

namespace {

using quelmor::KernelVariant;
using quelmor::BackprojectionJob;
using quelmor::testing::GuardedArray;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double justBelowHalf = 0.49999999999999994;

struct Views {
    std::vector<double> projections;  // column-major, detectorCount rows
    int detectorCount;
    std::vector<double> cosines;
    std::vector<double> sines;
};

std::vector<const KernelVariant*> runnableVariants() {
    std::vector<const KernelVariant*> variants;
    for (const KernelVariant& variant : quelmor::kernelVariants()) {
        if (variant.isSupported()) variants.push_back(&variant);
    }
    return variants;
}

class KernelContract : public ::testing::TestWithParam<const KernelVariant*> {
protected:
    // Every array sits between NaN guards: a stray read makes a NaN pixel, a
    // stray write changes a guard.
    std::vector<double> backproject(const Views& views, int imageSize, int interpCode) {
        GuardedArray image(std::vector<double>(static_cast<std::size_t>(imageSize) * imageSize));
        GuardedArray projections(views.projections), cosines(views.cosines), sines(views.sines);
        const BackprojectionJob job{image.data(),        projections.data(),
                           views.detectorCount, cosines.data(),
                           sines.data(),        static_cast<int>(views.cosines.size()),
                           imageSize,           interpCode};
        GetParam()->sweepColumns(job, 0, imageSize);
        EXPECT_TRUE(image.guardsIntact()) << "a write outside the image";
        return image.values();
    }

    // With side 2 the origin is pixel (0, 0) and pixel (0, 1) has t = c exactly
    // when s = 0, so this samples one view at coordinate `t`.
    double sampleAt(std::vector<double> samples, double t, int interpCode) {
        const int count = static_cast<int>(samples.size());
        const Views views{std::move(samples), count, {t}, {0.0}};
        return backproject(views, 2, interpCode)[2];
    }
};

// Seven samples valued 100 + index: detectorCenter is 3, so the sample at
// offset o from the centre is 103 + o.
std::vector<double> countingSamples() { return {100, 101, 102, 103, 104, 105, 106}; }

TEST_P(KernelContract, DegenerateSizesAndCodesLeaveImageAlone) {
    const Views one{countingSamples(), 7, {0.3}, {0.7}};
    // Side 0: nothing is written, not even through the image pointer.
    double sentinel = 42.0;
    const BackprojectionJob empty{
        &sentinel, one.projections.data(), 7, one.cosines.data(), one.sines.data(), 1,
        0,         quelmor::InterpLinear};
    GetParam()->sweepColumns(empty, 0, 0);
    EXPECT_EQ(sentinel, 42.0);

    EXPECT_EQ(backproject({{}, 7, {}, {}}, 5, quelmor::InterpNearest),
              std::vector<double>(25, 0.0));
    for (int code : {2, -1, 7}) {
        EXPECT_EQ(backproject(one, 5, code), std::vector<double>(25, 0.0)) << "code " << code;
    }
}

TEST_P(KernelContract, SideOneSumsTheCentreSampleOfEveryView) {
    // Two views of 4 samples: detectorCenter 2. Linear reads sample 3 with weight 0.
    const Views views{{1, 2, 30, 4, 5, 6, 700, 8}, 4, {0.9, -0.2}, {0.1, 0.5}};
    for (int code : {quelmor::InterpNearest, quelmor::InterpLinear}) {
        EXPECT_EQ(backproject(views, 1, code), std::vector<double>{730.0});
    }
}

TEST_P(KernelContract, AxisAlignedViewsAreConstantAlongTheOtherAxis) {
    const std::vector<double> samples = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    const int imageSize = 7;
    for (int code : {quelmor::InterpNearest, quelmor::InterpLinear}) {
        const auto columnsConstant = backproject({samples, 11, {0.75}, {0.0}}, imageSize, code);
        const auto rowsConstant = backproject({samples, 11, {0.0}, {0.75}}, imageSize, code);
        for (int j = 0; j < imageSize; ++j) {
            for (int k = 0; k < imageSize; ++k) {
                EXPECT_EQ(columnsConstant[j * imageSize + k], columnsConstant[j * imageSize]);
                EXPECT_EQ(rowsConstant[j * imageSize + k], rowsConstant[k]);
            }
        }
        // Columns do differ from one another: x runs left to right.
        EXPECT_LT(columnsConstant[0], columnsConstant[(imageSize - 1) * imageSize]);
        // The top row has the largest y.
        EXPECT_GT(rowsConstant[0], rowsConstant[imageSize - 1]);
    }
}

TEST_P(KernelContract, RepeatedViewAddsTwice) {
    const std::vector<double> samples = {0.1, 0.2, 0.7, 1.3, 2.9, 0.4, 0.05, 0.6, 0.3};
    const auto once = backproject({samples, 9, {0.8}, {0.6}}, 6, quelmor::InterpLinear);
    std::vector<double> twice = samples;
    twice.insert(twice.end(), samples.begin(), samples.end());
    const auto doubled = backproject({twice, 9, {0.8, 0.8}, {0.6, 0.6}}, 6, quelmor::InterpLinear);
    for (std::size_t i = 0; i < once.size(); ++i) EXPECT_EQ(doubled[i], once[i] + once[i]);
}

TEST_P(KernelContract, NearestRoundsTiesUpForEitherSign) {
    const int nearest = quelmor::InterpNearest;
    EXPECT_EQ(sampleAt(countingSamples(), 0.5, nearest), 104);
    EXPECT_EQ(sampleAt(countingSamples(), -0.5, nearest), 103);
    EXPECT_EQ(sampleAt(countingSamples(), -1.5, nearest), 102);
    EXPECT_EQ(sampleAt(countingSamples(), -0.8, nearest), 102);
    EXPECT_EQ(sampleAt(countingSamples(), 1.49, nearest), 104);
    // t + 0.5 rounds to 1 before the floor; round-half-away would give 103.
    EXPECT_EQ(sampleAt(countingSamples(), justBelowHalf, nearest), 104);
}

TEST_P(KernelContract, LinearWeightsAndTheirEdgeCases) {
    const int linear = quelmor::InterpLinear;
    EXPECT_EQ(sampleAt(countingSamples(), 0.25, linear), 103.25);
    EXPECT_EQ(sampleAt(countingSamples(), -1.75, linear), 101.25);
    // A tiny negative coordinate has F = -1 and f rounded to exactly 1: the
    // sample is (hi - lo) + lo, here (1e-20 - 1) + 1 = 0, not hi.
    EXPECT_EQ(sampleAt({0, 1, 1e-20, 0, 0}, -1e-20, linear), 0.0);
    // A whole-number coordinate gives exactly its sample, but still reads the next.
    EXPECT_EQ(sampleAt({0, 0, 0, 3.7, 2.5, 0}, 1.0, linear), 2.5);
    EXPECT_TRUE(std::isnan(sampleAt({0, 0, 0, 3.7, 2.5, inf}, 1.0, linear)));
    EXPECT_TRUE(std::isnan(sampleAt({0, 0, 0, 3.7, 2.5, nan}, 1.0, linear)));
}

// The contract's coordinate, stepped down a column by repeated subtraction,
// sampled by the nearest rule; independent of the kernel's code.
std::vector<int> steppedNearestOffsets(double c, double s, int imageSize) {
    const double centerOffset = (imageSize - 1) / 2;
    std::vector<int> offsets;
    double t = (-centerOffset) * c + centerOffset * s;
    for (int k = 0; k < imageSize; ++k, t = t - s)
        offsets.push_back(static_cast<int>(std::floor(t + 0.5)));
    return offsets;
}

TEST_P(KernelContract, CoordinateIsSteppedNotRecomputed) {
    // Find a view where t0 - k*s would pick a different sample than stepping
    // does, so a kernel that recomputes the coordinate fails here.
    const int imageSize = 201;
    const double centerOffset = 100;
    for (double s : {0.1, 0.3, 0.7, 0.9, 1.1}) {
        const double c = 0.0;
        const auto stepped = steppedNearestOffsets(c, s, imageSize);
        bool differs = false;
        const double t0 = (-centerOffset) * c + centerOffset * s;
        for (int k = 0; k < imageSize; ++k) {
            differs |= static_cast<int>(std::floor((t0 - k * s) + 0.5)) != stepped[k];
        }
        if (!differs) continue;
        const int detectorCount = 2 * imageSize + 1;
        std::vector<double> samples(detectorCount);
        for (int b = 0; b < detectorCount; ++b) samples[b] = b;
        const auto image =
            backproject({samples, detectorCount, {c}, {s}}, imageSize, quelmor::InterpNearest);
        for (int k = 0; k < imageSize; ++k) {
            ASSERT_EQ(image[k], stepped[k] + detectorCount / 2) << "s " << s << " row " << k;
        }
        return;
    }
    FAIL() << "no candidate step shows the drift; pick others";
}

TEST_P(KernelContract, OffDetectorSamplesReadAsZero) {
    const int nearest = quelmor::InterpNearest;
    const int linear = quelmor::InterpLinear;
    // Samples 100..106 sit at coordinates -3..3.
    EXPECT_EQ(sampleAt(countingSamples(), 3.49, nearest), 106);
    EXPECT_EQ(sampleAt(countingSamples(), 3.5, nearest), 0.0);
    EXPECT_EQ(sampleAt(countingSamples(), -3.5, nearest), 100);
    EXPECT_EQ(sampleAt(countingSamples(), -3.51, nearest), 0.0);
    // Linear blends toward zero across either edge, and is zero beyond.
    EXPECT_EQ(sampleAt(countingSamples(), -3.5, linear), 50);
    EXPECT_EQ(sampleAt(countingSamples(), 3.5, linear), 53);
    EXPECT_EQ(sampleAt(countingSamples(), 4.0, linear), 0.0);
    EXPECT_EQ(sampleAt(countingSamples(), -4.0, linear), 0.0);
    // Coordinates no integer can hold, or no number at all.
    for (double t : {1e300, -1e300, 3e9, -3e9, inf, -inf, nan}) {
        for (int code : {nearest, linear})
            EXPECT_EQ(sampleAt(countingSamples(), t, code), 0.0) << t;
    }
    // No detector at all: nothing to read.
    EXPECT_EQ(backproject({{}, 0, {0.6}, {0.8}}, 4, linear), std::vector<double>(16, 0.0));
}

TEST_P(KernelContract, NeverReadsBeyondTheViewsColumn) {
    // Three columns of NaN with the real view in the middle: a read past
    // either end of the view would make the image NaN.
    std::vector<double> buffer(21, nan);
    for (int b = 0; b < 7; ++b) buffer[7 + b] = 100 + b;
    const double cosine = 2.5;
    const double sine = -1.75;
    for (int code : {quelmor::InterpNearest, quelmor::InterpLinear}) {
        std::vector<double> image(81, 0.0);
        const BackprojectionJob job{image.data(), buffer.data() + 7, 7, &cosine, &sine, 1, 9, code};
        GetParam()->sweepColumns(job, 0, 9);
        for (double pixel : image) EXPECT_FALSE(std::isnan(pixel));
        EXPECT_EQ(image[0], 0.0);  // the corner sees no detector
    }
}

INSTANTIATE_TEST_SUITE_P(EveryVariant, KernelContract, ::testing::ValuesIn(runnableVariants()),
                         [](const auto& info) { return std::string(info.param->name); });

TEST(AccumulateViews, AddsIntoTheImageItIsGiven) {
    const std::vector<double> samples = {1, 2, 3, 4, 5};
    const double c = 1.0, s = 0.0;
    std::vector<double> image(9, 0.5);
    quelmor::accumulateViews(
        {image.data(), samples.data(), 5, &c, &s, 1, 3, quelmor::InterpLinear});
    EXPECT_EQ(image, (std::vector<double>{2.5, 2.5, 2.5, 3.5, 3.5, 3.5, 4.5, 4.5, 4.5}));
}

}  // namespace
