// The module's entry point: checks the call, reads the five inputs, has the
// host create the image and makes one kernel call. Every check runs before
// the result is created, so a rejected call leaves nothing behind.
#include <cstdint>
#include <iterator>

#include "gateway_inputs.h"
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

// Returns the first problem with the five inputs, or nullptr once `call` holds
// everything the kernel needs but the image.
const char* readInputs(const mxArray* const inputs[5], quelmor::BackprojectionJob& call) {
    if (const char* problem = firstNotRealDouble(inputs, 5, notRealDouble)) return problem;
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
    const std::uint64_t viewCount = viewCountOf(inputs[1]);
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
    if (!countsAreRight(outputCount, inputCount)) return;
    quelmor::BackprojectionJob call{};
    if (const char* problem = readInputs(inputs, call)) {
        mexErrMsgTxt(problem);
        return;
    }
    outputs[0] = mxCreateDoubleMatrix_700(call.imageSize, call.imageSize, mxREAL);
    call.image = mxGetPr(outputs[0]);
    quelmor::accumulateViews(call);
}
