// libFuzzer target: turns bytes into one mexFunction call through the
// stand-in host (any argument counts, any dimensions up to a memory cap, any
// doubles), then checks that the call either left a result of the size asked
// for, equal to the reference's, or raised one error. Built once per module:
// with QUELMOR_FUZZ_PROJECTION the gateway is QuelmorProject's, with
// QUELMOR_FUZZ_FILTER QuelmorFilter's (its result checked against the core's
// filter, as the call table makes it).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "call_cases.h"
#include "kernel_buffers.h"
#include "matrix_call.h"
#include "quelmor/kernel_variants.h"
#include "quelmor/project_views.h"
#include "standin_host.h"

// The module's entry point, linked in from the gateway's source.
extern "C" void mexFunction(int outputCount, mxArray* outputs[], int inputCount,
                            const mxArray* inputs[]);

namespace {

// Each array holds at most this many elements, and a count (input 4) whose
// result the module would create is folded below maxCount, so no call needs
// more than a few megabytes. Counts whose result passes 2^31 - 1 elements
// stay as they are: the gateway refuses them before allocating.
constexpr std::size_t maxElements = 4096;
constexpr double maxCount = 200;

class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
    double number() {
        static const double special[] = {NAN,       -NAN,         INFINITY,
                                         -INFINITY, 0.0,          -0.0,
                                         0.5,       -0.5,         0.49999999999999994,
                                         -1.5,      1e10,         -5,
                                         46341,     2147483648.0, -2147483649.0,
                                         1e-20,     -1e-20,       5e-324,
                                         1e300,     1.0,          2.0,
                                         3.99};
        const std::uint8_t selector = byte();
        if (selector >= 128) return special[selector % (sizeof special / sizeof special[0])];
        if (selector >= 64) return static_cast<double>(static_cast<std::int8_t>(byte())) / 4.0;
        double value = 0;
        std::uint8_t raw[8];
        for (std::uint8_t& b : raw) b = byte();
        std::memcpy(&value, raw, sizeof value);
        return value;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

mxArray* decodeArray(ByteReader& in) {
    const std::uint8_t kind = in.byte();
    std::size_t rows = in.byte() % 48, columns = in.byte() % 48;
    if (rows * columns > maxElements) columns = maxElements / std::max<std::size_t>(rows, 1);
    // Mostly real doubles: other classes are refused at once.
    const StandinClass classes[] = {StandinClass::Single,        StandinClass::Int32,
                                    StandinClass::Logical,       StandinClass::Char,
                                    StandinClass::ComplexDouble, StandinClass::SparseDouble,
                                    StandinClass::Cell};
    const StandinClass chosen = kind < 224 ? StandinClass::RealDouble : classes[kind % 7];
    mxArray* array = standinCreateArray(chosen, rows, columns);
    double* values = mxGetPr(array);
    for (std::size_t i = 0; i < rows * columns; ++i) values[i] = in.number();
    return array;
}

// Real, full double values: what the folds below may change in place.
bool isPlainDouble(const mxArray* array) {
    return mxIsDouble(array) && !mxIsComplex(array) && !mxIsSparse(array);
}

#if QUELMOR_FUZZ_FILTER
// The filter's N (input 3), center and origin (options 4 and 5) and shifts
// (input 5) folded under maxCount, and a spacing (option 3) kept from
// under 1/16, so no transform runs to millions of points.
void foldFilterInputs(std::vector<mxArray*>& inputs) {
    auto fold = [](mxArray* array, std::size_t first, std::size_t end) {
        if (!isPlainDouble(array)) return;
        double* values = mxGetPr(array);
        end = std::min(end, mxGetNumberOfElements(array));
        for (std::size_t i = first; i < end; ++i) {
            if (std::isfinite(values[i])) values[i] = std::fmod(values[i], maxCount);
        }
    };
    if (inputs.size() >= 3) fold(inputs[2], 0, 1);
    if (inputs.size() >= 4 && mxGetNumberOfElements(inputs[3]) == 5 && isPlainDouble(inputs[3])) {
        fold(inputs[3], 3, 5);
        double& spacing = mxGetPr(inputs[3])[2];
        if (spacing != 0 && std::fabs(spacing) < 0.0625)
            spacing = std::copysign(0.0625 + std::fabs(spacing), spacing);
    }
    if (inputs.size() >= 5) fold(inputs[4], 0, SIZE_MAX);
}

// A finished filter call: four or five inputs, at most three outputs, and
// the core's filtered views.
bool acceptedAsFiltered(int inputCount, int outputCount, const std::vector<mxArray*>& inputs,
                        const MatrixCallResult& result) {
    if ((inputCount != 4 && inputCount != 5) || outputCount > 3 || !result.hasImage) return false;
    std::vector<Matrix> matrices;
    for (const mxArray* input : inputs) {
        const double* values = mxGetPr(input);
        matrices.push_back({static_cast<std::uint32_t>(mxGetM(input)),
                            static_cast<std::uint32_t>(mxGetN(input)),
                            {values, values + mxGetNumberOfElements(input)}});
    }
    const Matrix expected = filteredSinogram(matrices);
    return result.image.rows == expected.rows && result.image.columns == expected.columns &&
           quelmor::testing::sameBytes(result.image.values, expected.values);
}

#else

constexpr double maxResultElements = 2147483647.0;

// Elements of the result a count asks for: side x side for the
// backprojection, detectors x views for the projection.
double resultElements(double count, const std::vector<mxArray*>& inputs) {
#if QUELMOR_FUZZ_PROJECTION
    const double views = static_cast<double>(mxGetNumberOfElements(inputs[1]));
    return std::fabs(count) * std::max(views, 1.0);
#else
    (void)inputs;
    return count * count;
#endif
}

// Folds input 4 under maxCount when the module would accept it and allocate.
void foldAcceptedCount(std::vector<mxArray*>& inputs) {
    if (inputs.size() < 4 || mxGetNumberOfElements(inputs[3]) == 0 || !isPlainDouble(inputs[3]))
        return;
    double& count = mxGetPr(inputs[3])[0];
    if (std::isfinite(count) && std::fabs(count) >= maxCount &&
        resultElements(count, inputs) <= maxResultElements) {
        count = std::fmod(count, maxCount);
    }
}

// The call's inputs, once the gateway has accepted them.
struct Accepted {
    std::int32_t count;  // input 4: the image's side or the detector count
    std::int32_t code;
    std::int32_t views;
};
Accepted accepted(const std::vector<mxArray*>& inputs) {
    return {static_cast<std::int32_t>(mxGetPr(inputs[3])[0]),
            static_cast<std::int32_t>(mxGetPr(inputs[4])[0]),
            static_cast<std::int32_t>(mxGetM(inputs[1]) * mxGetN(inputs[1]))};
}

// The result's dimensions: side x side for the backprojection, detectors x
// views for the projection.
bool hasExpectedShape(const std::vector<mxArray*>& inputs, const Matrix& result) {
    const Accepted call = accepted(inputs);
#if QUELMOR_FUZZ_PROJECTION
    return result.rows == static_cast<std::uint32_t>(call.count) &&
           result.columns == static_cast<std::uint32_t>(call.views);
#else
    return result.rows == static_cast<std::uint32_t>(call.count) &&
           result.columns == static_cast<std::uint32_t>(call.count);
#endif
}

// The module's result is the reference's, byte for byte.
bool matchesReference(const std::vector<mxArray*>& inputs, const Matrix& result) {
    if (!hasExpectedShape(inputs, result)) return false;
    const Accepted call = accepted(inputs);
    std::vector<double> expected(result.values.size(), 0.0);
    const quelmor::KernelVariant& reference = *quelmor::findKernelVariant("reference");
#if QUELMOR_FUZZ_PROJECTION
    const quelmor::ProjectionJob job{expected.data(),
                                     mxGetPr(inputs[0]),
                                     call.count,
                                     mxGetPr(inputs[1]),
                                     mxGetPr(inputs[2]),
                                     call.views,
                                     static_cast<std::int32_t>(mxGetM(inputs[0])),
                                     call.code};
    reference.projectViews(job, 0, call.views);
#else
    const quelmor::BackprojectionJob job{
        expected.data(),    mxGetPr(inputs[0]), static_cast<std::int32_t>(mxGetM(inputs[0])),
        mxGetPr(inputs[1]), mxGetPr(inputs[2]), call.views,
        call.count,         call.code};
    reference.backprojectColumns(job, 0, call.count);
#endif
    return quelmor::testing::sameBytes(result.values, expected);
}

#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const int inputCount = in.byte() % 8;
    const int outputCount = in.byte() % 4;
    std::vector<mxArray*> inputs;
    for (int i = 0; i < inputCount; ++i) inputs.push_back(decodeArray(in));
#if QUELMOR_FUZZ_FILTER
    foldFilterInputs(inputs);
    const MatrixCallResult result =
        callWithArrays(mexFunction, outputCount, {inputs.begin(), inputs.end()});
    if (!result.finished) {
        if (result.message.empty() || result.hasImage) std::abort();  // one error, no result
    } else if (!acceptedAsFiltered(inputCount, outputCount, inputs, result)) {
        std::abort();
    }
#else
    foldAcceptedCount(inputs);
    const MatrixCallResult result =
        callWithArrays(mexFunction, outputCount, {inputs.begin(), inputs.end()});
    if (!result.finished) {
        if (result.message.empty() || result.hasImage) std::abort();  // one error, no result
    } else {
        // Only a well-formed call finishes: five inputs, at most one output.
        if (inputCount != 5 || outputCount > 1 || !result.hasImage) std::abort();
        if (!matchesReference(inputs, result.image)) std::abort();
    }
#endif
    for (mxArray* input : inputs) mxDestroyArray(input);
    if (standinLiveArrays() != 0) std::abort();
    return 0;
}
