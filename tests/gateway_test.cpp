// The module file, loaded and called through the stand-in host as a host
// would: argument counts, the contract's edge cases, every rejection, and
// images bit-identical to the reference sweep and to the contract's worked examples.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "matrix_call.h"
#include "module_loader.h"
#include "quelmor/kernel_variants.h"
#include "standin_host.h"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

mxArray* realMatrix(std::size_t rows, std::size_t columns, const std::vector<double>& values) {
    mxArray* array = standinCreateArray(StandinClass::RealDouble, rows, columns);
    if (!values.empty()) std::memcpy(mxGetPr(array), values.data(), values.size() * sizeof(double));
    return array;
}
mxArray* scalar(double value) { return realMatrix(1, 1, {value}); }

// The plain sweep linked into this test: the module's own dispatch may pick
// any variant, and must agree with this one byte for byte.
void referenceSweep(std::vector<double>& image, const std::vector<double>& samples,
                    int detectorCount, const std::vector<double>& cosines,
                    const std::vector<double>& sines, int imageSize, int interpCode) {
    image.assign(static_cast<std::size_t>(imageSize) * imageSize, 0.0);
    const quelmor::SweepJob job{image.data(),   samples.data(), detectorCount,
                                cosines.data(), sines.data(),   static_cast<int>(cosines.size()),
                                imageSize,      interpCode};
    quelmor::findKernelVariant("reference")->sweepColumns(job, 0, imageSize);
}

using CallOutcome = MatrixCallResult;

class Gateway : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        module_ = LoadedModule::open(QUELMOR_MODULE_PATH, error).release();
        ASSERT_NE(module_, nullptr) << error;
    }
    static void TearDownTestSuite() { delete module_; }

    void TearDown() override {
        for (mxArray* array : inputs_) mxDestroyArray(array);
        EXPECT_EQ(standinLiveArrays(), 0) << "the call left arrays behind";
    }

    // Takes ownership of `inputs`; calls the module with them.
    CallOutcome call(std::vector<mxArray*> inputs, int outputCount = 1) {
        for (mxArray* array : inputs_) mxDestroyArray(array);
        inputs_ = std::move(inputs);
        CallOutcome outcome =
            callWithArrays(module_->gateway(), outputCount, {inputs_.begin(), inputs_.end()});
        if (outcome.finished) {
            EXPECT_TRUE(outcome.hasImage);
        }
        return outcome;
    }

    // Five inputs for a small scene of three views on a 9-sample detector.
    std::vector<mxArray*> scene(double imageSize, double interpCode) {
        return {realMatrix(9, 3, sceneSamples()), realMatrix(1, 3, {1.0, 0.6, 0.0}),
                realMatrix(3, 1, {0.0, 0.8, 1.0}), scalar(imageSize), scalar(interpCode)};
    }
    // The scene with some inputs replaced: {position, array} pairs.
    std::vector<mxArray*> sceneWith(std::initializer_list<std::pair<int, mxArray*>> replacements) {
        std::vector<mxArray*> inputs = scene(5, 1);
        for (const auto& [position, array] : replacements) {
            mxDestroyArray(inputs[position]);
            inputs[position] = array;
        }
        return inputs;
    }
    static std::vector<double> sceneSamples() {
        std::vector<double> samples(27);
        for (int i = 0; i < 27; ++i) samples[i] = 0.5 * i - 3.25;
        return samples;
    }
    static std::vector<double> kernelImage(int imageSize, int interpCode) {
        std::vector<double> image;
        referenceSweep(image, sceneSamples(), 9, {1.0, 0.6, 0.0}, {0.0, 0.8, 1.0}, imageSize,
                       interpCode);
        return image;
    }

    void expectRejected(std::vector<mxArray*> inputs, const std::string& message) {
        const CallOutcome outcome = call(std::move(inputs));
        EXPECT_FALSE(outcome.finished);
        EXPECT_EQ(outcome.message, message);
        // The host's state is intact: a correct call still works.
        const CallOutcome after = call(scene(5, 1));
        EXPECT_TRUE(after.finished);
        EXPECT_EQ(after.image.values, kernelImage(5, 1));
    }

    static LoadedModule* module_;
    std::vector<mxArray*> inputs_;
};

LoadedModule* Gateway::module_ = nullptr;

TEST_F(Gateway, WrongCountsAreReportedBeforeAnythingIsReadOrCreated) {
    for (int inputCount : {0, 4, 6}) {
        for (int outputCount : {0, 1, 2}) {
            std::vector<mxArray*> inputs = scene(5, 1);
            while (static_cast<int>(inputs.size()) > inputCount) {
                mxDestroyArray(inputs.back());
                inputs.pop_back();
            }
            while (static_cast<int>(inputs.size()) < inputCount) inputs.push_back(scalar(1));
            standinResetArrayReads();
            const CallOutcome outcome = call(inputs, outputCount);
            EXPECT_FALSE(outcome.finished);
            EXPECT_EQ(outcome.message, "Five input arguments required.")
                << inputCount << " inputs, " << outputCount << " outputs";
            EXPECT_EQ(standinArrayReads(), 0);
        }
    }
    std::vector<mxArray*> inputs = scene(5, 1);
    standinResetArrayReads();
    const CallOutcome outcome = call(inputs, 2);
    EXPECT_FALSE(outcome.finished);
    EXPECT_EQ(outcome.message, "Too many output arguments.");
    EXPECT_EQ(standinArrayReads(), 0);
}

TEST_F(Gateway, ImagesMatchTheKernelAndFillTheFirstSlotEvenWithNoOutputs) {
    for (int outputCount : {0, 1}) {
        for (int code : {0, 1}) {
            const CallOutcome outcome = call(scene(6, code), outputCount);
            ASSERT_TRUE(outcome.finished) << outcome.message;
            EXPECT_EQ(outcome.image.rows, 6u);
            EXPECT_EQ(outcome.image.columns, 6u);
            const std::vector<double> expected = kernelImage(6, code);
            EXPECT_EQ(
                std::memcmp(outcome.image.values.data(), expected.data(), 36 * sizeof(double)), 0);
        }
    }
}

TEST_F(Gateway, WorkedExamplesComeOutAsWorkedByHand) {
    const std::vector<double> oneToFive = {1, 2, 3, 4, 5};
    for (double code : {0.0, 1.0}) {
        EXPECT_EQ(call({realMatrix(5, 1, oneToFive), scalar(1), scalar(0), scalar(3), scalar(code)})
                      .image.values,
                  (std::vector<double>{2, 2, 2, 3, 3, 3, 4, 4, 4}));
        EXPECT_EQ(call({realMatrix(5, 1, oneToFive), scalar(0), scalar(1), scalar(3), scalar(code)})
                      .image.values,
                  (std::vector<double>{4, 3, 2, 4, 3, 2, 4, 3, 2}));
    }
    auto tilted = [&](double code) {
        return call({realMatrix(4, 1, {10, 20, 30, 40}), scalar(0.6), scalar(0.8), scalar(2),
                     scalar(code)})
            .image.values;
    };
    EXPECT_EQ(tilted(0), (std::vector<double>{30, 20, 40, 30}));
    EXPECT_EQ(tilted(1), (std::vector<double>{30, 22, 36, 28}));
}

TEST_F(Gateway, ImagesDoNotDependOnTheCallersFloatingPointMode) {
    const unsigned defaultMode = _mm_getcsr();
    // Flush-to-zero with denormals-are-zero, then each directed rounding.
    for (unsigned mode : {0x8040u, 0x2000u, 0x4000u, 0x6000u}) {
        std::vector<mxArray*> inputs = scene(7, 1);
        mxGetPr(inputs[0])[4] = 3e-310;  // a subnormal sample
        _mm_setcsr(defaultMode | mode);
        const CallOutcome outcome = call(inputs);
        const unsigned after = _mm_getcsr();
        _mm_setcsr(defaultMode);
        EXPECT_EQ(after, defaultMode | mode);
        std::vector<double> subnormalScene = sceneSamples();
        subnormalScene[4] = 3e-310;
        std::vector<double> image;
        referenceSweep(image, subnormalScene, 9, {1.0, 0.6, 0.0}, {0.0, 0.8, 1.0}, 7, 1);
        EXPECT_EQ(std::memcmp(outcome.image.values.data(), image.data(), 49 * sizeof(double)), 0)
            << std::hex << mode;
    }
}

TEST_F(Gateway, ScalarsAreTruncatedTowardZero) {
    CallOutcome outcome = call(scene(0.5, 1));
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.image.rows, 0u);
    EXPECT_EQ(outcome.image.columns, 0u);
    outcome = call(scene(-0.9, 1));
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.image.rows, 0u);

    outcome = call(scene(3.99, 1));
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.image.rows, 3u);
    EXPECT_EQ(outcome.image.values, kernelImage(3, 1));

    EXPECT_EQ(call(scene(7, 1.9)).image.values, kernelImage(7, quelmor::InterpLinear));
    EXPECT_EQ(call(scene(7, -0.9)).image.values, kernelImage(7, quelmor::InterpNearest));
    EXPECT_EQ(call(scene(7, 2)).image.values, std::vector<double>(49, 0.0));
    EXPECT_EQ(call(scene(7, -1)).image.values, std::vector<double>(49, 0.0));
    // The kernel's choice differs for the two codes on this scene.
    EXPECT_NE(kernelImage(7, 0), kernelImage(7, 1));
}

TEST_F(Gateway, ViewsAreTakenInColumnMajorOrderOfTheCosines) {
    // A 3 x 4 matrix of cosines is 12 views; the sines come as a 1 x 12 row.
    std::vector<double> samples(11 * 12), cosines(12), sines(12);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = std::sin(0.37 * i);
    for (int v = 0; v < 12; ++v) {
        cosines[v] = std::cos(v * std::numbers::pi / 12);
        sines[v] = std::sin(v * std::numbers::pi / 12);
    }
    const CallOutcome outcome = call({realMatrix(11, 12, samples), realMatrix(3, 4, cosines),
                                      realMatrix(1, 12, sines), scalar(6), scalar(1)});
    ASSERT_TRUE(outcome.finished) << outcome.message;
    std::vector<double> expected;
    referenceSweep(expected, samples, 11, cosines, sines, 6, 1);
    EXPECT_EQ(outcome.image.values, expected);
}

TEST_F(Gateway, NoViewsGiveAnEmptyImageOfTheRequestedSize) {
    const CallOutcome outcome = call(
        {realMatrix(0, 0, {}), realMatrix(0, 0, {}), realMatrix(0, 0, {}), scalar(4), scalar(1)});
    ASSERT_TRUE(outcome.finished) << outcome.message;
    EXPECT_EQ(outcome.image.values, std::vector<double>(16, 0.0));
}

TEST_F(Gateway, OnlyTheFirstElementOfEachScalarIsUsed) {
    const auto inputs =
        sceneWith({{3, realMatrix(1, 3, {5.0, 100.0, -1.0})}, {4, realMatrix(2, 1, {1.0, 7.0})}});
    EXPECT_EQ(call(inputs).image.values, kernelImage(5, 1));
}

TEST_F(Gateway, InputsThatAreNotRealFullDoublesAreRefused) {
    const char* names[] = {"projections", "cosines", "sines", "imageSize", "interpCode"};
    for (int position = 0; position < 5; ++position) {
        for (StandinClass kind :
             {StandinClass::Single, StandinClass::Int32, StandinClass::Logical, StandinClass::Char,
              StandinClass::ComplexDouble, StandinClass::SparseDouble, StandinClass::Cell}) {
            expectRejected(sceneWith({{position, standinCreateArray(kind, 3, 3)}}),
                           "Input " + std::to_string(position + 1) + " (" + names[position] +
                               ") must be a real, full double array.");
        }
    }
}

TEST_F(Gateway, UnusableScalarsAreRefused) {
    expectRejected(sceneWith({{3, realMatrix(0, 1, {})}}),
                   "Input 4 (imageSize) must not be empty.");
    expectRejected(sceneWith({{4, realMatrix(1, 0, {})}}),
                   "Input 5 (interpCode) must not be empty.");
    for (double bad : {nan, inf, -inf, 1e10, 2147483648.0, -2147483649.0}) {
        expectRejected(sceneWith({{3, scalar(bad)}}),
                       "Input 4 (imageSize) must be finite and within the 32-bit integer range.");
        expectRejected(sceneWith({{4, scalar(bad)}}),
                       "Input 5 (interpCode) must be finite and within the 32-bit integer range.");
    }
    for (double negative : {-1.0, -5.0, -2147483648.0}) {
        expectRejected(sceneWith({{3, scalar(negative)}}),
                       "Input 4 (imageSize) must not be negative.");
    }
    expectRejected(
        sceneWith({{3, scalar(46341)}}),
        "Input 4 (imageSize) is too large: the image may hold at most 2147483647 pixels.");
}

TEST_F(Gateway, ArraysTooSmallForTheViewsAreRefused) {
    expectRejected(sceneWith({{0, realMatrix(9, 2, std::vector<double>(18, 1.0))}}),
                   "Input 1 (projections) needs a column for every element of input 2 (cosines).");
    expectRejected(sceneWith({{2, realMatrix(1, 2, {0.0, 1.0})}}),
                   "Input 3 (sines) needs an element for every element of input 2 (cosines).");
}

TEST_F(Gateway, CountsBeyondThe32BitRangeAreRefusedBeforeAnyRead) {
    // Arrays with dimensions and no data: any read of them would crash.
    expectRejected(sceneWith({{1, standinCreateShapeOnly(65536, 32769)}}),
                   "Input 2 (cosines) has more than 2147483647 elements.");
    if constexpr (sizeof(std::size_t) == 8) {
        // 2^32 x 2^32 elements wrap to 0 in 64 bits: not an empty set of views.
        expectRejected(
            sceneWith({{1, standinCreateShapeOnly(std::size_t{1} << 32, std::size_t{1} << 32)}}),
            "Input 2 (cosines) has more than 2147483647 elements.");
    }
    expectRejected(sceneWith({{0, standinCreateShapeOnly(2147483648u, 3)}}),
                   "Input 1 (projections) has more than 2147483647 rows.");
    expectRejected(sceneWith({{0, standinCreateShapeOnly(100000, 30000)},
                              {1, standinCreateShapeOnly(1, 30000)},
                              {2, standinCreateShapeOnly(1, 30000)}}),
                   "Input 1 (projections) is too large: at most 2147483647 samples can be used.");
}

TEST_F(Gateway, NonFiniteCoefficientsAreRefused) {
    for (int position : {1, 2}) {
        for (double bad : {nan, inf, -inf}) {
            std::vector<mxArray*> inputs = scene(5, 1);
            mxGetPr(inputs[position])[2] = bad;
            expectRejected(inputs, "Inputs 2 (cosines) and 3 (sines) must be finite.");
        }
    }
}

}  // namespace
