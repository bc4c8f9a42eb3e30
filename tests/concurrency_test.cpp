// The module called from eight threads at once through the stand-in host:
// calls share nothing writable, so every image equals the one the same call
// gives alone. Built under ThreadSanitizer too, which reports any data race.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "kernel_buffers.h"
#include "matrix_call.h"
#include "module_loader.h"
#include "quelmor/geometry_guide.h"

namespace {

constexpr int threadCount = 8;
constexpr int callsPerThread = 40;

// A different scene for every (thread, call): sides around the vector widths,
// both samplers, and now and then a call the module refuses.
std::vector<Matrix> sceneFor(int thread, int callIndex) {
    const int imageSize = 3 + (thread * 7 + callIndex * 5) % 30;
    const int detectors = quelmor::coveringDetectorCount(imageSize);
    const int views = 1 + (thread + callIndex) % 12;
    Matrix projections{
        static_cast<std::uint32_t>(detectors), static_cast<std::uint32_t>(views), {}};
    for (int e = 0; e < detectors * views; ++e)
        projections.values.push_back(std::sin(0.01 * e + thread) * (callIndex + 1));
    Matrix cosines{1, static_cast<std::uint32_t>(views), {}}, sines = cosines;
    for (int v = 0; v < views; ++v) {
        cosines.values.push_back(std::cos(v * std::numbers::pi / views + 0.1 * thread));
        sines.values.push_back(std::sin(v * std::numbers::pi / views + 0.1 * thread));
    }
    const double sideValue = callIndex % 9 == 8 ? -1.0 : imageSize;  // -1 is refused
    return {projections, cosines, sines, Matrix{1, 1, {sideValue}},
            Matrix{1, 1, {static_cast<double>(callIndex % 2)}}};
}

bool sameOutcome(const MatrixCallResult& a, const MatrixCallResult& b) {
    return a.finished == b.finished && a.message == b.message && a.hasImage == b.hasImage &&
           a.image.rows == b.image.rows && a.image.columns == b.image.columns &&
           quelmor::testing::sameBytes(a.image.values, b.image.values);
}

TEST(Concurrency, EightThreadsCallingAtOnceGetTheSingleThreadedAnswers) {
    std::string error;
    const auto module = LoadedModule::open(QUELMOR_MODULE_PATH, error);
    ASSERT_NE(module, nullptr) << error;

    std::vector<std::vector<MatrixCallResult>> alone(threadCount);
    for (int t = 0; t < threadCount; ++t) {
        for (int i = 0; i < callsPerThread; ++i)
            alone[t].push_back(callWithMatrices(module->gateway(), 1, sceneFor(t, i)));
    }

    std::vector<int> mismatches(threadCount, 0);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < callsPerThread; ++i) {
                    const MatrixCallResult result =
                        callWithMatrices(module->gateway(), 1, sceneFor(t, i));
                    mismatches[t] += !sameOutcome(result, alone[t][i]);
                }
            });
        }
    }
    for (int t = 0; t < threadCount; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
    EXPECT_FALSE(alone[0][8].finished);  // the refused calls were refused
    EXPECT_TRUE(alone[0][0].finished);
    EXPECT_EQ(standinLiveArrays(), 0);
}

}  // namespace
