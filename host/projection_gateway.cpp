// The projection module's entry point, QuelmorProject(image, cosines, sines,
// detectorCount, interpCode): checks the call, reads the five inputs, has the
// host create the detectorCount x V sinogram and makes one kernel call. Every
// check runs before the result is created, so a rejected call leaves nothing
// behind.
#include <cstdint>
#include <iterator>

#include "gateway_inputs.h"
#include "mex_binding.h"
#include "quelmor/check_job.h"
#include "quelmor/project_views.h"

namespace {

// Indexed by quelmor::JobProblem; the sinogram is made here, so it has
// every column it needs and no more samples than its counts allow.
constexpr const char* jobProblemMessages[] = {
    nullptr,
    "Input 1 (image) must be square.",  // not reached: the side is a dimension
    "Input 1 (image) is too large: the image may hold at most 2147483647 pixels.",
    "Input 4 (detectorCount) must be finite and within the 32-bit integer range.",  // not reached
    "Input 2 (cosines) has more than 2147483647 elements.",
    "Input 2 (cosines) has more than 2147483647 elements.",  // not reached: a column per view
    "Inputs 2 (cosines) and 4 (detectorCount) ask for a sinogram of more than 2147483647 samples.",
    "Input 3 (sines) needs an element for every element of input 2 (cosines).",
    "Inputs 2 (cosines) and 3 (sines) must be finite.",
};
static_assert(std::size(jobProblemMessages) ==
              static_cast<std::size_t>(quelmor::JobProblem::nonFiniteCoefficients) + 1);

constexpr const char* notRealDouble[5] = {
    "Input 1 (image) must be a real, full double array.",
    "Input 2 (cosines) must be a real, full double array.",
    "Input 3 (sines) must be a real, full double array.",
    "Input 4 (detectorCount) must be a real, full double array.",
    "Input 5 (interpCode) must be a real, full double array.",
};

// Returns the first problem with the five inputs, or nullptr once `call` holds
// everything the kernel needs but the sinogram.
const char* readInputs(const mxArray* const inputs[5], quelmor::ProjectionJob& call) {
    if (const char* problem = firstNotRealDouble(inputs, 5, notRealDouble)) return problem;
    if (const char* problem = readScalar(
            inputs[3], "Input 4 (detectorCount) must not be empty.",
            "Input 4 (detectorCount) must be finite and within the 32-bit integer range.",
            call.detectorCount)) {
        return problem;
    }
    if (call.detectorCount < 0) return "Input 4 (detectorCount) must not be negative.";
    if (const char* problem =
            readScalar(inputs[4], "Input 5 (interpCode) must not be empty.",
                       "Input 5 (interpCode) must be finite and within the 32-bit integer range.",
                       call.interpCode)) {
        return problem;
    }
    if (mxGetM(inputs[0]) != mxGetN(inputs[0])) return "Input 1 (image) must be square.";
    const std::uint64_t side = mxGetM(inputs[0]);
    const std::uint64_t viewCount = viewCountOf(inputs[1]);
    const quelmor::JobRequest request{
        side > INT64_MAX ? INT64_MAX : static_cast<std::int64_t>(side),
        static_cast<std::uint64_t>(call.detectorCount),
        viewCount,
        viewCount,
        static_cast<std::uint64_t>(mxGetNumberOfElements(inputs[2])),
        mxGetPr(inputs[1]),
        mxGetPr(inputs[2])};
    if (const quelmor::JobProblem problem = quelmor::checkJob(request);
        problem != quelmor::JobProblem::none) {
        return jobProblemMessages[static_cast<int>(problem)];
    }
    call.image = mxGetPr(inputs[0]);
    call.cosines = request.cosines;
    call.sines = request.sines;
    call.imageSize = static_cast<std::int32_t>(side);
    call.viewCount = static_cast<std::int32_t>(viewCount);
    return nullptr;
}

}  // namespace

extern "C" void mexFunction(int outputCount, mxArray* outputs[], int inputCount,
                            const mxArray* inputs[]) {
    if (!countsAreRight(outputCount, inputCount)) return;
    quelmor::ProjectionJob call{};
    if (const char* problem = readInputs(inputs, call)) {
        mexErrMsgTxt(problem);
        return;
    }
    outputs[0] = mxCreateDoubleMatrix_700(call.detectorCount, call.viewCount, mxREAL);
    call.sinogram = mxGetPr(outputs[0]);
    quelmor::projectViews(call);
}
