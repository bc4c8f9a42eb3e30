// The module's entry point: checks the call, reads the five inputs, has the
// host create the image and makes one kernel call. Every check runs before
// the result is created, so a rejected call leaves nothing behind.
#include <cstdint>
#include <iterator>
#include <limits>

#include "mex_binding.h"
#include "quelmor/accumulate_views.h"
#include "quelmor/check_job.h"

namespace {

// Indexed by quelmor::JobProblem.
constexpr const char* jobProblemMessages[] = {
    nullptr,
    "Input 4 (imageSize) must not be negative.",
    "Input 4 (imageSize) is too large: the image may hold at most 2147483647 pixels.",
    "Input 1 (projections) has more than 2147483647 rows.",
    "Input 2 (cosines) has more than 2147483647 elements.",
    "Input 1 (projections) needs a column for every element of input 2 (cosines).",
    "Input 1 (projections) is too large: at most 2147483647 samples can be used.",
    "Input 3 (sines) needs an element for every element of input 2 (cosines).",
    "Inputs 2 (cosines) and 3 (sines) must be finite.",
};
static_assert(std::size(jobProblemMessages) ==
              static_cast<std::size_t>(quelmor::JobProblem::nonFiniteCoefficients) + 1);

constexpr const char* notRealDouble[5] = {
    "Input 1 (projections) must be a real, full double array.",
    "Input 2 (cosines) must be a real, full double array.",
    "Input 3 (sines) must be a real, full double array.",
    "Input 4 (imageSize) must be a real, full double array.",
    "Input 5 (interpCode) must be a real, full double array.",
};

// Truncates toward zero; false when the value is not finite or its
// truncation falls outside the signed 32-bit range.
bool truncateToInt32(double value, std::int32_t& result) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return false;
    result = static_cast<std::int32_t>(value);
    return true;
}

// Reads the scalar in the first element of `input` into `result`; returns the
// problem, or nullptr.
const char* readScalar(const mxArray* input, const char* emptyMessage, const char* rangeMessage,
                       std::int32_t& result) {
    if (mxGetNumberOfElements(input) == 0) return emptyMessage;
    if (!truncateToInt32(mxGetPr(input)[0], result)) return rangeMessage;
    return nullptr;
}

// Returns the first problem with the five inputs, or nullptr once `call` holds
// everything the kernel needs but the image.
const char* readInputs(const mxArray* const inputs[5], quelmor::BackprojectionJob& call) {
    for (int i = 0; i < 5; ++i) {
        if (!mxIsDouble(inputs[i]) || mxIsComplex(inputs[i]) || mxIsSparse(inputs[i])) {
            return notRealDouble[i];
        }
    }
    if (const char* problem =
            readScalar(inputs[3], "Input 4 (imageSize) must not be empty.",
                       "Input 4 (imageSize) must be finite and within the 32-bit integer range.",
                       call.imageSize)) {
        return problem;
    }
    if (const char* problem =
            readScalar(inputs[4], "Input 5 (interpCode) must not be empty.",
                       "Input 5 (interpCode) must be finite and within the 32-bit integer range.",
                       call.interpCode)) {
        return problem;
    }
    // A 64-bit host's dimensions can multiply past 2^64 and wrap to a small count.
    std::uint64_t viewCount = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(mxGetM(inputs[1])),
                               static_cast<std::uint64_t>(mxGetN(inputs[1])), &viewCount)) {
        viewCount = std::numeric_limits<std::uint64_t>::max();
    }
    const quelmor::JobRequest request{call.imageSize,
                                      static_cast<std::uint64_t>(mxGetM(inputs[0])),
                                      viewCount,
                                      static_cast<std::uint64_t>(mxGetN(inputs[0])),
                                      static_cast<std::uint64_t>(mxGetNumberOfElements(inputs[2])),
                                      mxGetPr(inputs[1]),
                                      mxGetPr(inputs[2])};
    if (const quelmor::JobProblem problem = quelmor::checkJob(request);
        problem != quelmor::JobProblem::none) {
        return jobProblemMessages[static_cast<int>(problem)];
    }
    call.projections = mxGetPr(inputs[0]);
    call.cosines = request.cosines;
    call.sines = request.sines;
    call.detectorCount = static_cast<std::int32_t>(request.detectorCount);
    call.viewCount = static_cast<std::int32_t>(viewCount);
    return nullptr;
}

}  // namespace

extern "C" void mexFunction(int outputCount, mxArray* outputs[], int inputCount,
                            const mxArray* inputs[]) {
    // The host's error operation ends the call; the returns only guard a host
    // whose error operation comes back.
    if (inputCount != 5) {
        mexErrMsgTxt("Five input arguments required.");
        return;
    }
    if (outputCount > 1) {
        mexErrMsgTxt("Too many output arguments.");
        return;
    }
    quelmor::BackprojectionJob call{};
    if (const char* problem = readInputs(inputs, call)) {
        mexErrMsgTxt(problem);
        return;
    }
    outputs[0] = mxCreateDoubleMatrix_700(call.imageSize, call.imageSize, mxREAL);
    call.image = mxGetPr(outputs[0]);
    quelmor::accumulateViews(call);
}
