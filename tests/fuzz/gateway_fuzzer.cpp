// libFuzzer target: turns bytes into one mexFunction call through the
// stand-in host (any argument counts, any dimensions up to a memory cap, any
// doubles), then checks that the call either left an image of the size asked
// for, equal to the reference sweep's, or raised one error.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kernel_buffers.h"
#include "matrix_call.h"
#include "quelmor/kernel_variants.h"
#include "standin_host.h"

// The module's entry point, linked in from the gateway's source.
extern "C" void mexFunction(int outputCount, mxArray* outputs[], int inputCount,
                            const mxArray* inputs[]);

namespace {

// Each array holds at most this many elements, and an accepted image size
// is folded below maxImageSize, so no call needs more than a few megabytes.
constexpr std::size_t maxElements = 4096;
constexpr double maxImageSize = 200;

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

mxArray* decodeArray(ByteReader& in, int position) {
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
    for (std::size_t i = 0; i < rows * columns; ++i) {
        double value = in.number();
        // Fold accepted image sizes under the cap; sizes the gateway refuses stay as they are.
        if (position == 3 && i == 0 && std::isfinite(value) && std::fabs(value) >= maxImageSize &&
            std::fabs(value) < 46341) {
            value = std::fmod(value, maxImageSize);
        }
        values[i] = value;
    }
    return array;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const int inputCount = in.byte() % 8;
    const int outputCount = in.byte() % 4;
    std::vector<mxArray*> inputs;
    for (int i = 0; i < inputCount; ++i) inputs.push_back(decodeArray(in, i));
    const MatrixCallResult result =
        callWithArrays(mexFunction, outputCount, {inputs.begin(), inputs.end()});
    if (!result.finished) {
        if (result.message.empty() || result.hasImage) std::abort();  // one error, no result
    } else {
        // Only a well-formed call finishes: five inputs, at most one output.
        if (inputCount != 5 || outputCount > 1 || !result.hasImage) std::abort();
        const auto imageSize = static_cast<std::int32_t>(mxGetPr(inputs[3])[0]);
        if (result.image.rows != static_cast<std::uint32_t>(imageSize) ||
            result.image.columns != static_cast<std::uint32_t>(imageSize)) {
            std::abort();
        }
        // The module's image is the reference sweep's.
        std::vector<double> expected(static_cast<std::size_t>(imageSize) * imageSize, 0.0);
        const quelmor::BackprojectionJob job{
            expected.data(),
            mxGetPr(inputs[0]),
            static_cast<std::int32_t>(mxGetM(inputs[0])),
            mxGetPr(inputs[1]),
            mxGetPr(inputs[2]),
            static_cast<std::int32_t>(mxGetM(inputs[1]) * mxGetN(inputs[1])),
            imageSize,
            static_cast<std::int32_t>(mxGetPr(inputs[4])[0])};
        quelmor::findKernelVariant("reference")->backprojectColumns(job, 0, imageSize);
        if (!quelmor::testing::sameBytes(result.image.values, expected)) std::abort();
    }
    for (mxArray* input : inputs) mxDestroyArray(input);
    if (standinLiveArrays() != 0) std::abort();
    return 0;
}
