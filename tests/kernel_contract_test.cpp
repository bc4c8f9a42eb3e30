// The kernel's contract, checked on every variant this processor runs: the
// geometry, the samplers' rounding and the handling of coordinates off the
// detector, and the projection as the backprojection's exact transpose.
// (The worked examples are in the table of call cases.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "kernel_buffers.h"
#include "quelmor/accumulate_views.h"
#include "quelmor/geometry_guide.h"
#include "quelmor/kernel_variants.h"
#include "quelmor/project_views.h"

namespace {

using quelmor::BackprojectionJob;
using quelmor::KernelVariant;
using quelmor::ProjectionJob;
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
        GetParam()->backprojectColumns(job, 0, imageSize);
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
    GetParam()->backprojectColumns(empty, 0, 0);
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
        GetParam()->backprojectColumns(job, 0, 9);
        for (double pixel : image) EXPECT_FALSE(std::isnan(pixel));
        EXPECT_EQ(image[0], 0.0);  // the corner sees no detector
    }
}

// The projection's side. A view set with its detector, for probing.
struct Geometry {
    int imageSize;
    int detectorCount;
    std::vector<double> cosines, sines;
    std::string describe() const {
        std::string text = "side " + std::to_string(imageSize) + ", detectors " +
                           std::to_string(detectorCount) + ", views";
        for (std::size_t v = 0; v < cosines.size(); ++v)
            text += " (" + std::to_string(cosines[v]) + ", " + std::to_string(sines[v]) + ")";
        return text;
    }
};

// `sinogram` plus the variant's projection of `image`, every array guarded.
std::vector<double> projectWith(const KernelVariant& variant, const Geometry& geometry,
                                const std::vector<double>& image, std::vector<double> sinogram,
                                int interpCode) {
    GuardedArray guardedSinogram(sinogram), guardedImage(image), cosines(geometry.cosines),
        sines(geometry.sines);
    const int views = static_cast<int>(geometry.cosines.size());
    const ProjectionJob job{guardedSinogram.data(), guardedImage.data(), geometry.detectorCount,
                            cosines.data(),         sines.data(),        views,
                            geometry.imageSize,     interpCode};
    variant.projectViews(job, 0, views);
    EXPECT_TRUE(guardedSinogram.guardsIntact()) << "a write outside the sinogram";
    return guardedSinogram.values();
}

std::vector<double> backprojectWith(const KernelVariant& variant, const Geometry& geometry,
                                    const std::vector<double>& sinogram, int interpCode) {
    std::vector<double> image(static_cast<std::size_t>(geometry.imageSize) * geometry.imageSize);
    const BackprojectionJob job{image.data(),           sinogram.data(),
                                geometry.detectorCount, geometry.cosines.data(),
                                geometry.sines.data(),  static_cast<int>(geometry.cosines.size()),
                                geometry.imageSize,     interpCode};
    variant.backprojectColumns(job, 0, geometry.imageSize);
    return image;
}

class ProjectionContract : public ::testing::TestWithParam<const KernelVariant*> {
protected:
    // The projection's matrix, probed with unit images, against the
    // backprojection's (the reference's), probed with unit sinograms: entry
    // (sample, pixel) of one is entry (pixel, sample) of the other, bit for bit.
    void expectTransposes(const Geometry& geometry) {
        const KernelVariant& reference = *quelmor::findKernelVariant("reference");
        const std::size_t pixels =
            static_cast<std::size_t>(geometry.imageSize) * geometry.imageSize;
        const std::size_t samples = geometry.cosines.size() * geometry.detectorCount;
        for (int code : {quelmor::InterpNearest, quelmor::InterpLinear}) {
            std::vector<std::vector<double>> projected;  // [pixel][sample]
            for (std::size_t p = 0; p < pixels; ++p) {
                std::vector<double> unit(pixels, 0.0);
                unit[p] = 1.0;
                projected.push_back(
                    projectWith(*GetParam(), geometry, unit, std::vector<double>(samples), code));
            }
            for (std::size_t b = 0; b < samples; ++b) {
                std::vector<double> unit(samples, 0.0);
                unit[b] = 1.0;
                const std::vector<double> image = backprojectWith(reference, geometry, unit, code);
                for (std::size_t p = 0; p < pixels; ++p) {
                    ASSERT_TRUE(quelmor::testing::sameBytes(&projected[p][b], &image[p], 1))
                        << "code " << code << ", pixel " << p << ", sample " << b << ": projected "
                        << projected[p][b] << ", backprojected " << image[p] << "; "
                        << geometry.describe();
                }
            }
        }
    }
};

constexpr double quarterTurn = std::numbers::pi / 4;

TEST_P(ProjectionContract, MatrixIsTheBackprojectionsTransposed) {
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> angle(0, 2 * std::numbers::pi);
    for (int imageSize : {1, 2, 3, 4, 5, 8, 9}) {
        for (double pixelSize : {0.6, 1.0, 2.5}) {
            for (int extra : {-3, 0, 1}) {  // too short, covering, and even and odd counts
                Geometry geometry{
                    imageSize,
                    std::max(1, quelmor::coveringDetectorCount(imageSize, pixelSize) + extra),
                    {},
                    {}};
                for (double a : {0.0, quarterTurn, 2 * quarterTurn, 3 * quarterTurn, angle(random),
                                 angle(random), angle(random), angle(random), angle(random)}) {
                    geometry.cosines.push_back(pixelSize * std::cos(a));
                    geometry.sines.push_back(pixelSize * std::sin(a));
                }
                expectTransposes(geometry);
            }
        }
    }
}

TEST_P(ProjectionContract, TiesAndDetectorEndsTransposeToo) {
    // Side 3: pixel (k, 2) has t = c exactly when s = 0, so these put
    // coordinates on the nearest sampler's ties, on whole numbers and on
    // both ends of a 7-sample detector (coordinates -3 .. 3).
    for (double c : {0.5, -0.5, justBelowHalf, -justBelowHalf, 1.5, 3.0, 3.5, -3.5, -4.0, 2.75}) {
        expectTransposes({3, 7, {c, -c}, {0.0, 0.0}});
        expectTransposes({3, 6, {c}, {0.0}});
    }
    // Stepped chains on ties down a column.
    expectTransposes({6, 9, {0.0, 0.0, 0.5}, {0.5, -1.5, 0.25}});
}

TEST_P(ProjectionContract, NearestTiesGoUp) {
    // Seven samples, center sample 3; pixel (0, 2) of a side-3 image has t = c.
    for (auto [c, sample] : {std::pair{0.5, 4}, {-0.5, 3}, {justBelowHalf, 4}, {-1.5, 2}}) {
        std::vector<double> image(9, 0.0);
        image[6] = 5.0;
        std::vector<double> expected(7, 0.0);
        expected[sample] = 5.0;
        EXPECT_EQ(projectWith(*GetParam(), {3, 7, {c}, {0.0}}, image, std::vector<double>(7),
                              quelmor::InterpNearest),
                  expected)
            << "t = " << c;
    }
}

TEST_P(ProjectionContract, AdjointIdentityHoldsOnLargeRandomInputs) {
    // <A x, y> = <x, B y>: the same products summed in another order.
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> value(-1, 1), angle(0, std::numbers::pi);
    Geometry geometry{160, quelmor::coveringDetectorCount(160), {}, {}};
    for (int v = 0; v < 60; ++v) {
        const double a = angle(random);
        geometry.cosines.push_back(std::cos(a));
        geometry.sines.push_back(std::sin(a));
    }
    std::vector<double> x(160 * 160), y(geometry.cosines.size() * geometry.detectorCount);
    for (double& pixel : x) pixel = value(random);
    for (double& sample : y) sample = value(random);
    for (int code : {quelmor::InterpNearest, quelmor::InterpLinear}) {
        const std::vector<double> ax =
            projectWith(*GetParam(), geometry, x, std::vector<double>(y.size()), code);
        const std::vector<double> by = backprojectWith(*GetParam(), geometry, y, code);
        long double left = 0, right = 0, scale = 0;
        for (std::size_t i = 0; i < y.size(); ++i) {
            left += static_cast<long double>(ax[i]) * y[i];
            scale += std::abs(static_cast<long double>(ax[i]) * y[i]);
        }
        for (std::size_t i = 0; i < x.size(); ++i) right += static_cast<long double>(x[i]) * by[i];
        EXPECT_LE(std::abs(static_cast<double>(left - right)), 1e-13 * static_cast<double>(scale))
            << "code " << code << ": " << static_cast<double>(left) << " vs "
            << static_cast<double>(right);
    }
}

TEST_P(ProjectionContract, NothingLandsFromNonFiniteCoordinatesOrOtherCodes) {
    // Coefficients that make every coordinate infinite or NaN, and codes that
    // are no sampler: the sinogram keeps its bytes, -0.0 and NaN included.
    // (Samples off the detector are the matrix test's, with short detectors.)
    const std::vector<double> start = {-0.0, 1.0, nan, 2.0, -0.0, 3.0, 4.0};
    const std::vector<double> image(25, 1.0);
    for (auto [c, s] :
         {std::pair{inf, 0.0}, {-inf, 0.5}, {nan, 0.0}, {0.5, nan}, {0.0, inf}, {inf, -inf}}) {
        for (int code : {quelmor::InterpNearest, quelmor::InterpLinear}) {
            const auto sinogram = projectWith(*GetParam(), {5, 7, {c}, {s}}, image, start, code);
            EXPECT_TRUE(quelmor::testing::sameBytes(sinogram, start)) << "c " << c << ", s " << s;
        }
    }
    for (int code : {2, -1, 7}) {
        const auto sinogram = projectWith(*GetParam(), {5, 7, {0.3}, {0.7}}, image, start, code);
        EXPECT_TRUE(quelmor::testing::sameBytes(sinogram, start)) << "code " << code;
    }
    // No pixels, or no detector: nothing is touched.
    double sentinel = 42.0;
    const double c = 0.3, s = 0.7;
    GetParam()->projectViews({&sentinel, nullptr, 1, &c, &s, 1, 0, quelmor::InterpLinear}, 0, 1);
    EXPECT_EQ(sentinel, 42.0);
    EXPECT_EQ(projectWith(*GetParam(), {4, 0, {0.6}, {0.8}}, std::vector<double>(16, 1.0), {},
                          quelmor::InterpLinear),
              std::vector<double>{});
}

INSTANTIATE_TEST_SUITE_P(EveryVariant, ProjectionContract, ::testing::ValuesIn(runnableVariants()),
                         [](const auto& info) { return std::string(info.param->name); });

TEST(ProjectViews, AddsIntoTheSinogramItIsGiven) {
    // Side 1, one view of five samples: the pixel lands on the center sample.
    const double pixel = 2.0, c = 0.6, s = 0.8;
    std::vector<double> sinogram(5, 0.5);
    quelmor::projectViews({sinogram.data(), &pixel, 5, &c, &s, 1, 1, quelmor::InterpNearest});
    EXPECT_EQ(sinogram, (std::vector<double>{0.5, 0.5, 2.5, 0.5, 0.5}));
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
