// The module file, loaded and called through the stand-in host as a host
// would: every case of the table of call cases, and what only C++ can pose
// or observe: arrays of other classes, dimensions too large to hold data,
// which arrays were read, and arrays left behind.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "call_cases.h"
#include "matrix_call.h"
#include "module_loader.h"
#include "standin_host.h"

namespace {

mxArray* realMatrix(std::size_t rows, std::size_t columns, const std::vector<double>& values) {
    mxArray* array = standinCreateArray(StandinClass::RealDouble, rows, columns);
    if (!values.empty()) std::memcpy(mxGetPr(array), values.data(), values.size() * sizeof(double));
    return array;
}
mxArray* scalar(double value) { return realMatrix(1, 1, {value}); }

using CallOutcome = MatrixCallResult;

class Gateway : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        module_ = LoadedModule::open(QUELMOR_MODULE_PATH, error).release();
        ASSERT_NE(module_, nullptr) << error;
        projectionModule_ = LoadedModule::open(QUELMOR_PROJECTION_MODULE_PATH, error).release();
        ASSERT_NE(projectionModule_, nullptr) << error;
        solverModule_ = LoadedModule::open(QUELMOR_SOLVER_MODULE_PATH, error).release();
        ASSERT_NE(solverModule_, nullptr) << error;
        filterModule_ = LoadedModule::open(QUELMOR_FILTER_MODULE_PATH, error).release();
        ASSERT_NE(filterModule_, nullptr) << error;
    }
    static void TearDownTestSuite() {
        delete module_;
        delete projectionModule_;
        delete solverModule_;
        delete filterModule_;
    }

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
        std::vector<double> samples(27);
        for (int i = 0; i < 27; ++i) samples[i] = 0.5 * i - 3.25;
        return {realMatrix(9, 3, samples), realMatrix(1, 3, {1.0, 0.6, 0.0}),
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
    void expectRejected(std::vector<mxArray*> inputs, const std::string& message) {
        const CallOutcome outcome = call(std::move(inputs));
        EXPECT_FALSE(outcome.finished);
        EXPECT_EQ(outcome.message, message);
        // The host's state is intact: a correct call still works.
        const CallOutcome after = call(scene(5, 1));
        EXPECT_TRUE(after.finished && after.image.values.size() == 25) << after.message;
    }

    static LoadedModule* module_;
    static LoadedModule* projectionModule_;
    static LoadedModule* solverModule_;
    static LoadedModule* filterModule_;
    std::vector<mxArray*> inputs_;
};

LoadedModule* Gateway::module_ = nullptr;
LoadedModule* Gateway::projectionModule_ = nullptr;
LoadedModule* Gateway::solverModule_ = nullptr;
LoadedModule* Gateway::filterModule_ = nullptr;

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

TEST_F(Gateway, EveryCallCaseIsAnsweredAsTheTableSays) {
    for (const CallCase& expected : callCases()) {
        const LoadedModule* called = expected.module == "Quelmor"          ? module_
                                     : expected.module == "QuelmorProject" ? projectionModule_
                                     : expected.module == "QuelmorSolve"   ? solverModule_
                                     : expected.module == "QuelmorFilter"  ? filterModule_
                                                                           : nullptr;
        ASSERT_NE(called, nullptr) << expected.module;
        const CallOutcome outcome =
            callWithMatrices(called->gateway(), expected.outputCount, expected.inputs);
        ASSERT_EQ(outcome.hostProblem, "") << expected.name;
        if (expected.result) {
            ASSERT_TRUE(outcome.finished && outcome.hasImage)
                << expected.name << ": " << outcome.message;
            EXPECT_EQ(outcome.image.rows, expected.result->rows) << expected.name;
            EXPECT_EQ(outcome.image.columns, expected.result->columns) << expected.name;
            // Bytes, not values: NaN pixels must match too.
            const std::size_t count = expected.result->values.size();
            EXPECT_TRUE(outcome.image.values.size() == count &&
                        (count == 0 ||
                         std::memcmp(outcome.image.values.data(), expected.result->values.data(),
                                     count * sizeof(double)) == 0))
                << expected.name;
        } else {
            EXPECT_FALSE(outcome.finished) << expected.name;
            EXPECT_EQ(outcome.message, expected.message) << expected.name;
        }
        // Refused or not, the host's state is intact for the next case.
        EXPECT_EQ(standinLiveArrays(), 0) << expected.name << " left arrays behind";
    }
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

}  // namespace
