// The image and the sinogram do not depend on the caller's floating-point
// mode: a caller that flushes subnormals to zero or rounds in another
// direction gets the default mode's bytes, and finds its own mode unchanged
// after the call.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "kernel_buffers.h"
#include "quelmor/kernel_variants.h"
#include "quelmor/parallel.h"

namespace {

constexpr unsigned defaultMode = 0x1F80;
constexpr unsigned flushToZero = 0x8000;
constexpr unsigned denormalsAreZero = 0x0040;
constexpr unsigned roundDown = 0x2000;
constexpr unsigned roundUp = 0x4000;
constexpr unsigned roundTowardZero = 0x6000;

struct CallerMode {
    const char* name;
    unsigned mxcsr;
};
const CallerMode callerModes[] = {
    {"flush-to-zero and denormals-are-zero", defaultMode | flushToZero | denormalsAreZero},
    {"round down", defaultMode | roundDown},
    {"round up", defaultMode | roundUp},
    {"round toward zero", defaultMode | roundTowardZero},
    // Unmasked invalid and overflow exceptions: Inf - Inf in a sample must not trap.
    {"invalid and overflow unmasked", defaultMode & ~0x0081u},
};

// Samples around the subnormal range and with many significant bits, so
// both flushing and directed rounding change the sums.
struct Scene {
    int imageSize = 37;
    int detectorCount = 2 * 27 + 5;
    std::vector<double> projections, cosines, sines;

    Scene() {
        std::mt19937_64 random(7);
        std::uniform_real_distribution<double> unit(-1, 1);
        const int views = 23;
        for (int v = 0; v < views; ++v) {
            cosines.push_back(std::cos(0.137 * v));
            sines.push_back(std::sin(0.137 * v));
        }
        projections.resize(static_cast<std::size_t>(views) * detectorCount);
        for (std::size_t i = 0; i < projections.size(); ++i) {
            projections[i] = i % 3 == 0 ? unit(random) * 1e-308 : unit(random) / 3;
        }
        projections[5] = INFINITY;
        projections[detectorCount + 5] = -INFINITY;
    }
    quelmor::BackprojectionJob job(std::vector<double>& image, int interpCode) const {
        image.assign(static_cast<std::size_t>(imageSize) * imageSize, 0.0);
        return {image.data(),   projections.data(), detectorCount,
                cosines.data(), sines.data(),       static_cast<int>(cosines.size()),
                imageSize,      interpCode};
    }
};

// Runs `sweep` with the thread in `mxcsr`; returns the mode found afterwards.
unsigned runInMode(unsigned mxcsr, const std::function<void()>& sweep) {
    _mm_setcsr(mxcsr);
    sweep();
    const unsigned after = _mm_getcsr();
    _mm_setcsr(defaultMode);
    return after;
}

struct Entry {
    std::string name;
    std::function<void(const quelmor::BackprojectionJob&)> run;
};

std::vector<Entry> entries() {
    std::vector<Entry> result;
    for (const quelmor::KernelVariant& variant : quelmor::kernelVariants()) {
        if (!variant.isSupported()) continue;
        result.push_back(
            {std::string(variant.name), [&variant](const quelmor::BackprojectionJob& job) {
                 variant.backprojectColumns(job, 0, job.imageSize);
             }});
    }
    result.push_back({"accumulateViews", [](const quelmor::BackprojectionJob& job) {
                          quelmor::accumulateViews(job);
                      }});
    result.push_back({"3 threads", [](const quelmor::BackprojectionJob& job) {
                          quelmor::accumulateViewsParallel(job, 3);
                      }});
    return result;
}

// The projection's entries: each variant on one image and on a pack of two
// slices of it, the single-threaded dispatch and the threaded entry.
struct ProjectionEntry {
    std::string name;
    std::function<void(const quelmor::ProjectionJob&)> run;
};

std::vector<ProjectionEntry> projectionEntries() {
    std::vector<ProjectionEntry> result;
    for (const quelmor::KernelVariant& variant : quelmor::kernelVariants()) {
        if (!variant.isSupported()) continue;
        result.push_back({std::string(variant.name), [&variant](const quelmor::ProjectionJob& job) {
                              variant.projectViews(job, 0, job.viewCount);
                          }});
        if (variant.sliceWidth() > 1) {
            result.push_back({std::string(variant.name) + " slices",
                              [&variant](const quelmor::ProjectionJob& job) {
                                  // Two slices of one image: both sinograms must match.
                                  std::vector<double> second(
                                      job.sinogram,
                                      job.sinogram + job.detectorCount * job.viewCount);
                                  quelmor::ProjectionJob other = job;
                                  other.sinogram = second.data();
                                  const quelmor::ProjectionJob pack[] = {job, other};
                                  std::vector<double> interleaved(
                                      static_cast<std::size_t>(variant.sliceWidth()) *
                                      job.imageSize * job.imageSize);
                                  std::vector<double> scratch(variant.sliceScratchSize(job));
                                  variant.interleaveSlices(pack, interleaved.data());
                                  variant.projectSlices(pack, interleaved.data(), 0, job.viewCount,
                                                        scratch.data());
                                  // Compared without floating-point instructions, which would
                                  // raise flags in the caller's mode.
                                  if (std::memcmp(second.data(), job.sinogram,
                                                  second.size() * sizeof(double)) != 0)
                                      job.sinogram[0] = 12345.0;  // shows as a mismatch
                              }});
        }
    }
    result.push_back(
        {"projectViews", [](const quelmor::ProjectionJob& job) { quelmor::projectViews(job); }});
    result.push_back({"3 threads", [](const quelmor::ProjectionJob& job) {
                          quelmor::projectViewsParallel(job, 3);
                      }});
    return result;
}

TEST(FloatingPointMode, EveryProjectionGivesTheDefaultModesBytesAndRestoresTheCallersMode) {
    const Scene scene;
    // The image: the views' samples in turn, subnormal and infinite ones included.
    std::vector<double> image(static_cast<std::size_t>(scene.imageSize) * scene.imageSize);
    for (std::size_t p = 0; p < image.size(); ++p)
        image[p] = scene.projections[p % scene.projections.size()];
    auto job = [&](std::vector<double>& sinogram, int code) {
        sinogram.assign(scene.projections.size(), 0.0);
        return quelmor::ProjectionJob{sinogram.data(),     image.data(),
                                      scene.detectorCount, scene.cosines.data(),
                                      scene.sines.data(),  static_cast<int>(scene.cosines.size()),
                                      scene.imageSize,     code};
    };
    for (int code : {quelmor::InterpNearest, quelmor::InterpLinear}) {
        std::vector<double> expected;
        const quelmor::ProjectionJob referenceJob = job(expected, code);
        quelmor::findKernelVariant("reference")
            ->projectViews(referenceJob, 0, referenceJob.viewCount);
        for (const ProjectionEntry& entry : projectionEntries()) {
            for (const CallerMode& mode : callerModes) {
                std::vector<double> sinogram;
                const quelmor::ProjectionJob call = job(sinogram, code);
                const unsigned after = runInMode(mode.mxcsr, [&] { entry.run(call); });
                EXPECT_EQ(after, mode.mxcsr) << entry.name << ", " << mode.name;
                EXPECT_TRUE(quelmor::testing::sameBytes(sinogram, expected))
                    << entry.name << ", " << mode.name << ", code " << code;
            }
        }
    }
}

TEST(FloatingPointMode, EveryEntryGivesTheDefaultModesBytesAndRestoresTheCallersMode) {
    const Scene scene;
    for (int code : {quelmor::InterpNearest, quelmor::InterpLinear}) {
        std::vector<double> expected;
        const quelmor::BackprojectionJob referenceJob = scene.job(expected, code);
        quelmor::findKernelVariant("reference")
            ->backprojectColumns(referenceJob, 0, scene.imageSize);
        for (const Entry& entry : entries()) {
            for (const CallerMode& mode : callerModes) {
                std::vector<double> image;
                const quelmor::BackprojectionJob job = scene.job(image, code);
                const unsigned after = runInMode(mode.mxcsr, [&] { entry.run(job); });
                EXPECT_EQ(after, mode.mxcsr) << entry.name << ", " << mode.name;
                EXPECT_TRUE(quelmor::testing::sameBytes(image, expected))
                    << entry.name << ", " << mode.name << ", code " << code;
            }
        }
    }
}

// Without the guard this scene would come out otherwise: check that it can
// tell the modes apart at all: its samples scaled in each mode differ.
TEST(FloatingPointMode, TheSceneIsSensitiveToEachMode) {
    const Scene scene;
    auto productsInMode = [&](unsigned mxcsr) {
        std::vector<double> products;
        runInMode(mxcsr, [&] {
            for (double sample : scene.projections) {
                volatile double scaled = sample * 0.7;
                products.push_back(static_cast<double>(scaled));
            }
        });
        return products;
    };
    const std::vector<double> inDefault = productsInMode(defaultMode);
    for (const CallerMode& mode : callerModes) {
        if (mode.mxcsr == (defaultMode & ~0x0081u)) continue;  // changes traps, not results
        EXPECT_NE(productsInMode(mode.mxcsr), inDefault) << mode.name;
    }
}

}  // namespace
