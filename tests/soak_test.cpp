// A hundred thousand calls of the module through the stand-in host in one
// process, good and bad mixed: nothing is left behind and memory stays put.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "matrix_call.h"
#include "module_loader.h"

namespace {

long residentKib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

// Every shape repeats within 200 calls, so the first thousand meet them all.
std::vector<Matrix> callNumber(int i) {
    const int views = 1 + i % 8;
    const int detectors = 3 + i % 10;
    Matrix projections{
        static_cast<std::uint32_t>(detectors), static_cast<std::uint32_t>(views), {}};
    for (int k = 0; k < detectors * views; ++k)
        projections.values.push_back(std::sin(0.1 * (i + k)));
    Matrix cosines{1, static_cast<std::uint32_t>(views), {}}, sines = cosines;
    for (int v = 0; v < views; ++v) {
        cosines.values.push_back(std::cos(v + 0.001 * i));
        sines.values.push_back(std::sin(v + 0.001 * i));
    }
    std::vector<Matrix> inputs = {projections, cosines, sines, Matrix{1, 1, {double(i % 25)}},
                                  Matrix{1, 1, {double(i % 4)}}};
    switch (i % 5) {
        case 0: inputs.pop_back(); break;                                  // four inputs
        case 1: inputs[3].values[0] = (i % 2) ? -7.0 : NAN; break;         // bad side
        case 2: inputs[2].values.resize(0), inputs[2].columns = 0; break;  // too few sines
        default: break;                                                    // a good call
    }
    return inputs;
}

TEST(Soak, HundredThousandCallsLeaveNothingBehind) {
    std::string error;
    const auto module = LoadedModule::open(QUELMOR_MODULE_PATH, error);
    ASSERT_NE(module, nullptr) << error;
    constexpr int calls = 100000, warmUp = 1000;
    long afterWarmUp = 0, finished = 0, refused = 0;
    residentKib();  // the first reading allocates the stream's own buffers
    for (int i = 0; i < calls; ++i) {
        if (i == warmUp) afterWarmUp = residentKib();
        const MatrixCallResult result = callWithMatrices(module->gateway(), 1, callNumber(i));
        (result.finished ? finished : refused)++;
        ASSERT_EQ(standinLiveArrays(), 0) << "call " << i;
    }
    const long atEnd = residentKib();
    std::printf(
        "soak: %d calls (%ld images, %ld refused); resident memory after %d calls %ld KiB, "
        "after %d calls %ld KiB\n",
        calls, finished, refused, warmUp, afterWarmUp, calls, atEnd);
    EXPECT_EQ(finished, calls * 2 / 5);
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP()
        << "AddressSanitizer's quarantine holds freed memory; resident size is not compared";
#else
    // Not one page more; fewer would only mean the allocator gave memory back.
    EXPECT_LE(atEnd, afterWarmUp);
#endif
}

}  // namespace
