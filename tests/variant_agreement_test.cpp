// Every variant, and the threaded entries at several thread counts, must give
// the reference's image, and the reference's sinogram, byte for byte. Geometries are random and
// adversarial: sides around the vector widths, coefficients near 0 and +-1,
// coordinates on rounding boundaries, detectors too small for the image,
// non-finite samples and coefficients, and an image that is not all zeros.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <numbers>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#if defined(__linux__)
#include <pthread.h>
#endif

#include "kernel_buffers.h"
#include "quelmor/geometry_guide.h"
#include "quelmor/kernel_variants.h"
#include "quelmor/parallel.h"

namespace {

using quelmor::BackprojectionJob;
using quelmor::KernelVariant;
using quelmor::ProjectionJob;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct Scenario {
    int imageSize;
    int detectorCount;
    int interpCode;
    std::vector<double> projections;
    std::vector<double> cosines;
    std::vector<double> sines;
    std::vector<double> startImage;

    std::string describe() const {
        return "side " + std::to_string(imageSize) + ", detectors " +
               std::to_string(detectorCount) + ", views " + std::to_string(cosines.size()) +
               ", code " + std::to_string(interpCode);
    }
};

// Seeded choices for the scenario makers.
class RandomChoices {
protected:
    explicit RandomChoices(unsigned seed) : random_(seed) {}

    double real(double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(random_);
    }
    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random_); }
    template <class T>
    T pick(std::initializer_list<T> values) {
        return values.begin()[uniform(0, static_cast<int>(values.size()) - 1)];
    }
    template <class T, std::size_t N>
    T pick(const T (&values)[N]) {
        return values[uniform(0, static_cast<int>(N) - 1)];
    }

    std::mt19937_64 random_;
};

class ScenarioMaker : RandomChoices {
public:
    explicit ScenarioMaker(unsigned seed) : RandomChoices(seed) {}

    Scenario make() {
        Scenario scenario;
        static const int sides[] = {1,  2,  3,  4,  5,  7,  8,  9,  15, 16,
                                    17, 23, 24, 31, 32, 33, 40, 63, 65};
        scenario.imageSize = pick(sides);
        const int fitting = quelmor::coveringDetectorCount(scenario.imageSize);
        switch (uniform(0, 5)) {
            case 0: scenario.detectorCount = uniform(0, 3); break;
            case 1: scenario.detectorCount = uniform(1, fitting); break;  // pixels off the detector
            default: scenario.detectorCount = fitting + uniform(0, 4); break;
        }
        scenario.interpCode = uniform(0, 9) == 0 ? pick({2, -1}) : uniform(0, 1);
        const int views = uniform(0, 3) == 0 ? uniform(0, 6) : uniform(7, 41);
        for (int v = 0; v < views; ++v) addView(scenario);
        scenario.projections.resize(static_cast<std::size_t>(views) * scenario.detectorCount);
        for (double& sample : scenario.projections) sample = sampleValue();
        scenario.startImage.resize(static_cast<std::size_t>(scenario.imageSize) *
                                   scenario.imageSize);
        for (double& pixel : scenario.startImage) pixel = uniform(0, 1) ? 0.0 : sampleValue();
        return scenario;
    }

private:
    void addView(Scenario& scenario) {
        double c, s;
        switch (uniform(0, 6)) {
            case 0: {  // the unit circle
                const double angle = real(0, 2 * std::numbers::pi);
                c = std::cos(angle);
                s = std::sin(angle);
                break;
            }
            case 1:  // axis-aligned and near-axis, of either sign
                c = pick({0.0, -0.0, 1.0, -1.0, 1e-17, -1e-17, 1 - 1e-16, -(1 - 1e-16)});
                s = pick({0.0, -0.0, 1.0, -1.0, 1e-17, -1e-17, 1 - 1e-16, -(1 - 1e-16)});
                break;
            case 2:  // dyadic steps: coordinates land exactly on ties and whole numbers
                c = pick({0.5, -0.5, 0.25, -0.75, 1.5, 0.125});
                s = pick({0.5, -0.25, 0.75, -1.5, 0.375, 0.0});
                break;
            case 3:  // steps whose rounding drifts down long columns
                c = pick({0.1, -0.3, 0.7, 1.0 / 3.0});
                s = pick({0.1, 0.3, -0.7, 2.0 / 3.0, 0.49999999999999994});
                break;
            case 4:  // not a unit vector at all
                c = real(-3, 3);
                s = real(-3, 3);
                break;
            case 5:  // coordinates no index can hold
                c = pick({inf, -inf, nan, 1e300, -4e9});
                s = pick({0.0, 0.5, nan, 1e300});
                break;
            default:
                c = real(-1, 1);
                s = real(-1, 1);
                break;
        }
        scenario.cosines.push_back(c);
        scenario.sines.push_back(s);
    }

    double sampleValue() {
        switch (uniform(0, 19)) {
            case 0: return pick({inf, -inf, nan});
            case 1: return pick({-0.0, 5e-324, -2.2e-308, 1e300});
            case 2: return 0.0;
            default: return real(-10, 10);
        }
    }
};

// Runs `sweep` on the scenario with every array bracketed by NaN guards: a
// read outside them makes a NaN pixel the reference does not have, a write
// outside the image fails here.
template <class Sweep>
std::vector<double> guardedImage(const Scenario& scenario, Sweep&& sweep) {
    quelmor::testing::GuardedArray image(scenario.startImage), projections(scenario.projections),
        cosines(scenario.cosines), sines(scenario.sines);
    sweep(BackprojectionJob{image.data(), projections.data(), scenario.detectorCount,
                            cosines.data(), sines.data(), static_cast<int>(scenario.cosines.size()),
                            scenario.imageSize, scenario.interpCode});
    EXPECT_TRUE(image.guardsIntact() && projections.guardsIntact() && cosines.guardsIntact() &&
                sines.guardsIntact())
        << "a write outside the arrays: " << scenario.describe();
    return image.values();
}

std::vector<double> variantImage(const KernelVariant& variant, const Scenario& scenario) {
    return guardedImage(scenario, [&](const BackprojectionJob& job) {
        variant.backprojectColumns(job, 0, scenario.imageSize);
    });
}

std::vector<double> referenceImage(const Scenario& scenario) {
    return variantImage(*quelmor::findKernelVariant("reference"), scenario);
}

// The projection of the scenario's image added into its views, which serve
// as the sinogram's start, every array guarded as above.
template <class Project>
std::vector<double> guardedSinogram(const Scenario& scenario, Project&& project) {
    quelmor::testing::GuardedArray sinogram(scenario.projections), image(scenario.startImage),
        cosines(scenario.cosines), sines(scenario.sines);
    project(ProjectionJob{sinogram.data(), image.data(), scenario.detectorCount, cosines.data(),
                          sines.data(), static_cast<int>(scenario.cosines.size()),
                          scenario.imageSize, scenario.interpCode});
    EXPECT_TRUE(sinogram.guardsIntact() && image.guardsIntact() && cosines.guardsIntact() &&
                sines.guardsIntact())
        << "a write outside the arrays: " << scenario.describe();
    return sinogram.values();
}

std::vector<double> variantSinogram(const KernelVariant& variant, const Scenario& scenario) {
    return guardedSinogram(
        scenario, [&](const ProjectionJob& job) { variant.projectViews(job, 0, job.viewCount); });
}

std::vector<double> referenceSinogram(const Scenario& scenario) {
    return variantSinogram(*quelmor::findKernelVariant("reference"), scenario);
}

using quelmor::testing::sameBytes;

constexpr int scenarioCount = 600;

TEST(VariantAgreement, EveryVariantMatchesTheReferenceByteForByte) {
    int compared = 0;
    for (const KernelVariant& variant : quelmor::kernelVariants()) {
        if (!variant.isSupported()) {
            std::printf("variant %s: not supported on this processor, not compared\n",
                        std::string(variant.name).c_str());
            continue;
        }
        ScenarioMaker maker(20261208);
        for (int i = 0; i < scenarioCount; ++i) {
            const Scenario scenario = maker.make();
            ASSERT_TRUE(sameBytes(variantImage(variant, scenario), referenceImage(scenario)))
                << variant.name << " differs on scenario " << i << ": " << scenario.describe();
            ++compared;
        }
    }
    EXPECT_GE(compared, 2 * scenarioCount);  // at least the reference and SSE2
}

TEST(VariantAgreement, EveryProjectionMatchesTheReferenceByteForByte) {
    for (const KernelVariant& variant : quelmor::kernelVariants()) {
        if (!variant.isSupported() || variant.name == "reference") continue;
        ScenarioMaker maker(20261209);
        for (int i = 0; i < scenarioCount; ++i) {
            const Scenario scenario = maker.make();
            ASSERT_TRUE(sameBytes(variantSinogram(variant, scenario), referenceSinogram(scenario)))
                << variant.name << " differs on scenario " << i << ": " << scenario.describe();
        }
    }
}

// Scenes built against the windowed variants' bounds: a view may take a
// window of W samples for R rows of L lanes only while
// (L - 1)|c| + (R - 1)|s| < W - 1 - 2 margin, so views are placed on both
// sides of that bound for every window the variants take (W 8, 16 and 32,
// R 1 to 8, L 4 and 8), with ties, axis angles, long columns where the
// stepped chains drift, detectors so short that windows meet both ends at
// once, and non-finite and huge coefficients mixed into one call. Runs of
// one kind of view have every length, so passes of every size run, and
// detectors long enough that a chunk holds only one or two passes make
// runs cross chunk boundaries. Every sample is distinct, so any wrong pick
// shows.
class WindowBoundMaker : RandomChoices {
public:
    explicit WindowBoundMaker(unsigned seed) : RandomChoices(seed) {}

    Scenario make(int imageSize) {
        Scenario scenario;
        scenario.imageSize = imageSize;
        const int fitting = quelmor::coveringDetectorCount(imageSize);
        static const int shortDetectors[] = {0,  1,  2,  3,  5,  8,  15, 16, 17,
                                             18, 20, 24, 31, 32, 33, 40, 47, 64};
        // A chunk holds the views whose columns fill half a megabyte, and at
        // least one pass of 32: one pass for 2100 samples, two for 1000.
        switch (uniform(0, 5)) {
            case 0:
            case 1: scenario.detectorCount = pick(shortDetectors); break;
            case 2: scenario.detectorCount = pick({1000, 2100}) + uniform(0, 9); break;
            default: scenario.detectorCount = fitting + uniform(0, 9); break;
        }
        scenario.interpCode = uniform(0, 1);
        const int views = imageSize > 500      ? 3
                          : uniform(0, 2) == 0 ? uniform(60, 140)
                                               : uniform(8, 40);
        for (int v = 0, kind = 0, runEnd = 0; v < views; ++v) {
            if (v == runEnd) {
                kind = uniform(0, 8);
                runEnd = v + pick({1, 2, 3, uniform(1, 40), uniform(30, 70)});
            }
            addView(scenario, kind);
        }
        scenario.projections.resize(static_cast<std::size_t>(views) * scenario.detectorCount);
        for (std::size_t i = 0; i < scenario.projections.size(); ++i)
            scenario.projections[i] = 1.0 + static_cast<double>(i) / 8192.0;
        scenario.startImage.resize(static_cast<std::size_t>(imageSize) * imageSize);
        for (double& pixel : scenario.startImage) pixel = real(-1, 1);
        return scenario;
    }

private:
    void addView(Scenario& scenario, int kind) {
        double c, s;
        switch (kind) {
            case 0:
            case 1:
            case 7: {  // (lanes - 1)|c| + (rows - 1)|s| on a window's bound, split every way
                const int lanes = pick({4, 8}), rows = pick({1, 2, 4, 8});
                const double bound = pick({8, 16, 32}) - 1 - 2.0 / 64 +
                                     pick({-0.5, -1e-3, -1e-9, 0.0, 1e-9, 1e-3, 0.5, 1.0});
                const double share = rows == 1 ? 1.0 : pick({0.0, 0.5, 1.0, real(0, 1)});
                c = share * bound / (lanes - 1) * (uniform(0, 1) ? 1 : -1);
                s = rows == 1 ? real(-8, 8) : (1 - share) * bound / (rows - 1);
                s *= uniform(0, 1) ? 1 : -1;
                break;
            }
            case 2: {  // exact angles: 0, pi/4, pi/2 and their mirrors
                const double angle = uniform(0, 7) * std::numbers::pi / 4;
                c = std::cos(angle);
                s = std::sin(angle);
                break;
            }
            case 3:  // dyadic: coordinates on ties of either sign
                c = pick({0.5, -0.5, 1.5, -1.5, 0.25, 1.75, -1.875});
                s = pick({0.5, -0.5, 0.25, 1.5, -0.75, 0.0});
                break;
            case 4:  // sines far from unit, within and beyond what windows take
                c = real(-1, 1);
                s = pick({1023.75, -1024.0, 1024.5, 3e5, 0.49999999999999994});
                break;
            case 5:  // no index can hold these: gathered
                c = pick({inf, -inf, nan, 1e300, 0.5});
                s = pick({0.5, nan, -1e300, inf});
                break;
            default:  // pixels up to four detector spacings wide
                c = real(-4.3, 4.3);
                s = real(-4.3, 4.3);
                break;
        }
        scenario.cosines.push_back(c);
        scenario.sines.push_back(s);
    }
};

TEST(VariantAgreement, WindowBoundScenesMatchTheReferenceByteForByte) {
    WindowBoundMaker maker(1208);
    for (int i = 0; i < 240; ++i) {
        static const int sides[] = {8, 9, 16, 31, 40, 64, 65, 129};
        const int imageSize = i % 60 == 59 ? 1025 + i % 3 : sides[i % 8];
        const Scenario scenario = maker.make(imageSize);
        const std::vector<double> expected = referenceImage(scenario);
        for (const KernelVariant& variant : quelmor::kernelVariants()) {
            if (!variant.isSupported() || variant.name == "reference") continue;
            ASSERT_TRUE(sameBytes(variantImage(variant, scenario), expected))
                << variant.name << " differs on window scene " << i << ": " << scenario.describe();
        }
    }
}

TEST(VariantAgreement, WindowBoundScenesProjectAsTheReferenceDoes) {
    WindowBoundMaker maker(1209);
    for (int i = 0; i < 120; ++i) {
        static const int sides[] = {8, 9, 16, 31, 40, 64, 65, 129};
        const int imageSize = i % 60 == 59 ? 1025 : sides[i % 8];
        const Scenario scenario = maker.make(imageSize);
        const std::vector<double> expected = referenceSinogram(scenario);
        for (const KernelVariant& variant : quelmor::kernelVariants()) {
            if (!variant.isSupported() || variant.name == "reference") continue;
            ASSERT_TRUE(sameBytes(variantSinogram(variant, scenario), expected))
                << variant.name << " differs on window scene " << i << ": " << scenario.describe();
        }
    }
}

TEST(VariantAgreement, ViewRangesComposeIntoTheWholeSinogram) {
    ScenarioMaker maker(8);
    for (int i = 0; i < 100; ++i) {
        const Scenario scenario = maker.make();
        const std::vector<double> expected = referenceSinogram(scenario);
        const int views = static_cast<int>(scenario.cosines.size());
        for (const KernelVariant& variant : quelmor::kernelVariants()) {
            if (!variant.isSupported()) continue;
            for (int split : {1, 3, 8, views / 2}) {
                if (split > views) continue;
                const std::vector<double> sinogram =
                    guardedSinogram(scenario, [&](const ProjectionJob& job) {
                        variant.projectViews(job, split, views);
                        variant.projectViews(job, 0, split);
                    });
                ASSERT_TRUE(sameBytes(sinogram, expected))
                    << variant.name << " split at " << split << ": " << scenario.describe();
            }
        }
    }
}

TEST(VariantAgreement, ThreadedProjectionMatchesTheReferenceAtEveryThreadCount) {
    ScenarioMaker maker(98);
    for (int i = 0; i < 150; ++i) {
        const Scenario scenario = maker.make();
        const std::vector<double> expected = referenceSinogram(scenario);
        for (unsigned threads : {0u, 1u, 2u, 3u, 5u, 16u}) {
            const std::vector<double> sinogram = guardedSinogram(
                scenario,
                [&](const ProjectionJob& job) { quelmor::projectViewsParallel(job, threads); });
            ASSERT_TRUE(sameBytes(sinogram, expected))
                << threads << " threads: " << scenario.describe();
        }
    }
}

// Stacks of 1 to 17 slices: most share one geometry (the lanes across
// slices), some have their own; each sinogram must be its own slice's, for
// every variant and thread count.
TEST(VariantAgreement, ProjectedStacksGiveEverySliceItsOwnSinogram) {
    ScenarioMaker maker(2718);
    WindowBoundMaker windowMaker(2719);
    std::mt19937_64 random(5);
    for (int round = 0; round < 34; ++round) {
        const int sliceCount = 1 + round % 17;
        const Scenario shared =
            round % 3 == 2 ? windowMaker.make(round % 2 ? 33 : 40) : maker.make();
        std::vector<Scenario> slices;
        for (int i = 0; i < sliceCount; ++i) {
            Scenario slice = i % 5 == 4 ? maker.make() : shared;
            // The slice's own image and starting sinogram, from values of the shared scene.
            std::shuffle(slice.startImage.begin(), slice.startImage.end(), random);
            std::shuffle(slice.projections.begin(), slice.projections.end(), random);
            slices.push_back(std::move(slice));
        }
        std::vector<std::vector<double>> expected;
        for (const Scenario& slice : slices) expected.push_back(referenceSinogram(slice));
        for (const KernelVariant& variant : quelmor::kernelVariants()) {
            if (!variant.isSupported()) continue;
            const unsigned threads = 1 + (round + static_cast<unsigned>(variant.name.size())) % 4;
            std::vector<quelmor::testing::GuardedArray> sinograms;
            std::vector<ProjectionJob> jobs;
            for (const Scenario& slice : slices) sinograms.emplace_back(slice.projections);
            for (int i = 0; i < sliceCount; ++i) {
                // Slices of the shared scene share its coefficient arrays, as a volume's do.
                const Scenario& geometry =
                    slices[i].cosines == shared.cosines && i % 5 != 4 ? shared : slices[i];
                jobs.push_back({sinograms[i].data(), slices[i].startImage.data(),
                                geometry.detectorCount, geometry.cosines.data(),
                                geometry.sines.data(), static_cast<int>(geometry.cosines.size()),
                                geometry.imageSize, geometry.interpCode});
            }
            quelmor::projectStackParallel(jobs, threads, &variant);
            for (int i = 0; i < sliceCount; ++i) {
                ASSERT_TRUE(sameBytes(sinograms[i].values(), expected[i]) &&
                            sinograms[i].guardsIntact())
                    << variant.name << ", slice " << i << " of " << sliceCount << ", " << threads
                    << " threads: " << slices[i].describe();
            }
        }
    }
}

TEST(VariantAgreement, ColumnRangesComposeIntoTheWholeImage) {
    // Sweeping [0, a) and then [a, N) must equal one sweep, for split points
    // inside and between SIMD blocks.
    ScenarioMaker maker(7);
    for (int i = 0; i < 100; ++i) {
        const Scenario scenario = maker.make();
        const std::vector<double> expected = referenceImage(scenario);
        for (const KernelVariant& variant : quelmor::kernelVariants()) {
            if (!variant.isSupported()) continue;
            for (int split : {1, 3, 8, scenario.imageSize / 2}) {
                if (split > scenario.imageSize) continue;
                const std::vector<double> image =
                    guardedImage(scenario, [&](const BackprojectionJob& job) {
                        variant.backprojectColumns(job, 0, split);
                        variant.backprojectColumns(job, split, scenario.imageSize);
                    });
                ASSERT_TRUE(sameBytes(image, expected))
                    << variant.name << " split at " << split << ": " << scenario.describe();
            }
        }
    }
}

TEST(VariantAgreement, ThreadedEntryMatchesTheReferenceAtEveryThreadCount) {
    ScenarioMaker maker(99);
    for (int i = 0; i < 150; ++i) {
        const Scenario scenario = maker.make();
        const std::vector<double> expected = referenceImage(scenario);
        for (unsigned threads : {0u, 1u, 2u, 3u, 5u, 16u}) {
            const std::vector<double> image =
                guardedImage(scenario, [&](const BackprojectionJob& job) {
                    quelmor::accumulateViewsParallel(job, threads);
                });
            ASSERT_TRUE(sameBytes(image, expected))
                << threads << " threads: " << scenario.describe();
        }
    }
}

TEST(VariantAgreement, StackEntryGivesEveryJobItsOwnImage) {
    // Stacks of 1 to 17 jobs, shorter and longer than the thread count: most
    // share one geometry (the lanes across slices, in packs), some have their
    // own; each image must be its own job's, for every variant and thread
    // count. Asked to start from zero, the entry must clear every pixel it
    // is given, NaN included, and no pixel outside its images.
    ScenarioMaker maker(314);
    WindowBoundMaker windowMaker(315);
    std::mt19937_64 random(6);
    for (int round = 0; round < 34; ++round) {
        const int jobCount = 1 + round % 17;
        const auto start = round % 2 ? quelmor::ImageStart::zeroed : quelmor::ImageStart::asGiven;
        const Scenario shared =
            round % 3 == 2 ? windowMaker.make(round % 4 ? 33 : 40) : maker.make();
        std::vector<Scenario> scenarios;
        std::vector<std::vector<double>> expected;
        for (int j = 0; j < jobCount; ++j) {
            Scenario scenario = j % 5 == 4 ? maker.make() : shared;
            // The job's own start and samples, from values of the shared scene.
            std::shuffle(scenario.startImage.begin(), scenario.startImage.end(), random);
            std::shuffle(scenario.projections.begin(), scenario.projections.end(), random);
            if (start == quelmor::ImageStart::zeroed)
                std::fill(scenario.startImage.begin(), scenario.startImage.end(), 0.0);
            expected.push_back(referenceImage(scenario));
            scenarios.push_back(std::move(scenario));
        }
        for (const KernelVariant& variant : quelmor::kernelVariants()) {
            if (!variant.isSupported()) continue;
            const unsigned threads = 1 + (round + static_cast<unsigned>(variant.name.size())) % 4;
            std::vector<quelmor::testing::GuardedArray> images;
            std::vector<BackprojectionJob> jobs;
            for (int j = 0; j < jobCount; ++j) {
                const Scenario& s = scenarios[j];
                images.emplace_back(s.startImage);
                if (start == quelmor::ImageStart::zeroed)
                    std::fill(images.back().data(), images.back().data() + s.startImage.size(),
                              nan);
                // Jobs of the shared scene share its coefficient arrays, as a volume's do.
                const Scenario& geometry = j % 5 != 4 ? shared : s;
                jobs.push_back({images[j].data(), s.projections.data(), geometry.detectorCount,
                                geometry.cosines.data(), geometry.sines.data(),
                                static_cast<int>(geometry.cosines.size()), geometry.imageSize,
                                geometry.interpCode});
            }
            quelmor::accumulateStackParallel(jobs, threads, &variant, start);
            for (int j = 0; j < jobCount; ++j) {
                ASSERT_TRUE(sameBytes(images[j].values(), expected[j]) && images[j].guardsIntact())
                    << variant.name << ", job " << j << " of " << jobCount << ", " << threads
                    << " threads, " << (round % 2 ? "from zero" : "as given") << ": "
                    << scenarios[j].describe();
            }
        }
    }
}

TEST(VariantAgreement, LargeImageWithManyViews) {
    // Long columns and a full set of views, as a reconstruction runs them:
    // on the unit grid the views fill more than one chunk, and with pixels
    // 2.5 detector spacings wide several, each with its wide windows. Then
    // the backprojection and the projection of a stack of such slices.
    for (const double pixelSize : {1.0, 2.5}) {
        constexpr int views = 200;
        Scenario scenario;
        scenario.imageSize = 301;
        scenario.detectorCount = quelmor::coveringDetectorCount(301, pixelSize);
        std::mt19937_64 random(5);
        std::uniform_real_distribution<double> value(-1, 1);
        for (int v = 0; v < views; ++v) {
            scenario.cosines.push_back(pixelSize * std::cos(v * std::numbers::pi / views));
            scenario.sines.push_back(pixelSize * std::sin(v * std::numbers::pi / views));
        }
        scenario.projections.resize(views * scenario.detectorCount);
        for (double& sample : scenario.projections) sample = value(random);
        scenario.startImage.assign(301 * 301, 0.0);
        for (int code : {0, 1}) {
            scenario.interpCode = code;
            const std::vector<double> expected = referenceImage(scenario);
            for (const KernelVariant& variant : quelmor::kernelVariants()) {
                if (!variant.isSupported()) continue;
                EXPECT_TRUE(sameBytes(variantImage(variant, scenario), expected))
                    << variant.name << " code " << code;
            }
            const std::vector<double> image = guardedImage(
                scenario,
                [](const BackprojectionJob& job) { quelmor::accumulateViewsParallel(job, 2); });
            EXPECT_TRUE(sameBytes(image, expected)) << "threaded, code " << code;

            // Nine slices of this geometry backprojected through the stack
            // entry, on two threads: a pack's interleaved sinograms take
            // megabytes, its columns go in several blocks, a last slice goes
            // alone. Slice i's samples are the first one's times 2^i, so its
            // image is the reference's times 2^i, exactly.
            {
                constexpr int slices = 9;
                std::vector<std::vector<double>> samples(slices), images(slices);
                std::vector<BackprojectionJob> jobs;
                for (int i = 0; i < slices; ++i) {
                    for (double sample : scenario.projections)
                        samples[i].push_back(std::ldexp(sample, i));
                    images[i].assign(scenario.startImage.size(), nan);
                    jobs.push_back({images[i].data(), samples[i].data(), scenario.detectorCount,
                                    scenario.cosines.data(), scenario.sines.data(), views, 301,
                                    code});
                }
                quelmor::accumulateStackParallel(jobs, 2, nullptr, quelmor::ImageStart::zeroed);
                for (int i = 0; i < slices; ++i) {
                    std::vector<double> scaled;
                    for (double pixel : expected) scaled.push_back(std::ldexp(pixel, i));
                    EXPECT_TRUE(sameBytes(images[i], scaled))
                        << "backprojected stack, slice " << i << ", code " << code << ", pixel "
                        << pixelSize;
                }
            }

            // Nine slices of this geometry projected through the stack entry:
            // a pack's interleaved images take megabytes (huge pages), a last
            // slice goes alone. Slice i's image is the first one's times 2^i,
            // so its sinogram is the first one's times 2^i, exactly.
            Scenario projected = scenario;
            for (double& pixel : projected.startImage) pixel = value(random);
            projected.projections.assign(projected.projections.size(), 0.0);
            const std::vector<double> first = referenceSinogram(projected);
            constexpr int slices = 9;
            std::vector<std::vector<double>> images(slices), sinograms(slices);
            std::vector<ProjectionJob> jobs;
            for (int i = 0; i < slices; ++i) {
                for (double pixel : projected.startImage) images[i].push_back(std::ldexp(pixel, i));
                sinograms[i].assign(first.size(), 0.0);
                jobs.push_back({sinograms[i].data(), images[i].data(), projected.detectorCount,
                                projected.cosines.data(), projected.sines.data(), views, 301,
                                code});
            }
            quelmor::projectStackParallel(jobs, 1);
            for (int i = 0; i < slices; ++i) {
                std::vector<double> scaled;
                for (double sample : first) scaled.push_back(std::ldexp(sample, i));
                EXPECT_TRUE(sameBytes(sinograms[i], scaled))
                    << "stack, slice " << i << ", code " << code << ", pixel " << pixelSize;
            }
        }
    }
}

#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(VariantAgreement, EveryVariantRunsOnA64KiBStack) {
    // The module runs on the host's thread and allocates nothing, so its
    // frames must fit whatever stack that thread has: every variant sweeps and projects
    // scenes of every window plan on a thread with 64 KiB of stack, and a
    // deeper frame runs into the guard page below it (a crash, not a pass).
    WindowBoundMaker maker(64);
    std::vector<Scenario> scenarios;
    for (int i = 0; i < 12; ++i) scenarios.push_back(maker.make(i % 2 ? 65 : 129));
    for (const KernelVariant& variant : quelmor::kernelVariants()) {
        if (!variant.isSupported()) continue;
        for (const Scenario& scenario : scenarios) {
            std::vector<double> image = scenario.startImage;
            std::vector<double> sinogram = scenario.projections;
            struct Call {
                const KernelVariant* variant;
                BackprojectionJob job;
                ProjectionJob projection;
            } call{&variant,
                   {image.data(), scenario.projections.data(), scenario.detectorCount,
                    scenario.cosines.data(), scenario.sines.data(),
                    static_cast<int>(scenario.cosines.size()), scenario.imageSize,
                    scenario.interpCode},
                   {sinogram.data(), scenario.startImage.data(), scenario.detectorCount,
                    scenario.cosines.data(), scenario.sines.data(),
                    static_cast<int>(scenario.cosines.size()), scenario.imageSize,
                    scenario.interpCode}};
            pthread_attr_t attributes;
            ASSERT_EQ(pthread_attr_init(&attributes), 0);
            ASSERT_EQ(pthread_attr_setstacksize(&attributes, 64 * 1024), 0);
            pthread_t thread;
            ASSERT_EQ(pthread_create(
                          &thread, &attributes,
                          [](void* argument) -> void* {
                              const Call& call = *static_cast<const Call*>(argument);
                              call.variant->backprojectColumns(call.job, 0, call.job.imageSize);
                              call.variant->projectViews(call.projection, 0,
                                                         call.projection.viewCount);
                              return nullptr;
                          },
                          &call),
                      0);
            pthread_join(thread, nullptr);
            pthread_attr_destroy(&attributes);
            ASSERT_TRUE(sameBytes(image, referenceImage(scenario)))
                << variant.name << ": " << scenario.describe();
            ASSERT_TRUE(sameBytes(sinogram, referenceSinogram(scenario)))
                << variant.name << " projecting: " << scenario.describe();
        }
    }
}
#endif

// The processor's feature flags as the operating system lists them; empty
// where there is no /proc/cpuinfo (Windows).
std::set<std::string> cpuinfoFlags() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("flags", 0) != 0) continue;
        std::istringstream words(line.substr(line.find(':') + 1));
        return {std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
    }
    return {};
}

TEST(VariantAgreement, DispatchPicksTheFastestVariantTheProcessorLists) {
    const std::set<std::string> flags = cpuinfoFlags();
    if (flags.empty()) GTEST_SKIP() << "no /proc/cpuinfo to ask";
    const KernelVariant* expected = nullptr;
    for (const KernelVariant& variant : quelmor::kernelVariants()) {
        bool listed = true;
        for (const quelmor::CpuFeatureInfo& info : quelmor::allCpuFeatures) {
            if (variant.requiredFeatures & info.feature) {
                listed &= flags.count(std::string(info.name)) == 1;
            }
        }
        EXPECT_EQ(variant.isSupported(), listed) << variant.name;
        if (listed) expected = &variant;  // the table runs slowest first
    }
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(quelmor::bestKernelVariant().name, expected->name);
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_NE(quelmor::bestKernelVariant().name, "reference") << "every x86 build has SSE2";
#endif
}

TEST(VariantAgreement, BestVariantIsSupportedAndFindableByName) {
    const KernelVariant& best = quelmor::bestKernelVariant();
    EXPECT_TRUE(best.isSupported());
    EXPECT_EQ(quelmor::findKernelVariant(best.name), &best);
    EXPECT_EQ(quelmor::findKernelVariant("no such variant"), nullptr);
}

}  // namespace
