// The solver module's entry point, QuelmorSolve(sinogram, theta, N, method,
// options[, x0]): SIRT or CGLS on one slice through the core's solveStack,
// with the angles, spacing, center and origin taken as the Python package's
// sirt and cgls take them, so both give the same bytes. options holds
// [iterations, interpCode, spacing, center, origin, relaxation, nonnegative,
// tolerance], NaN for a center or origin left at its default. The second
// output, when asked for, is [iterations made, final residual norm].
// Every check runs before the result is created.
#include <cmath>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <vector>

#include "gateway_inputs.h"
#include "mex_binding.h"
#include "quelmor/check_job.h"
#include "quelmor/solvers.h"
#include "quelmor/view_angles.h"

namespace {

constexpr const char* notRealDouble[6] = {
    "Input 1 (sinogram) must be a real, full double array.",
    "Input 2 (theta) must be a real, full double array.",
    "Input 3 (N) must be a real, full double array.",
    "Input 4 (method) must be a real, full double array.",
    "Input 5 (options) must be a real, full double array.",
    "Input 6 (x0) must be a real, full double array.",
};
constexpr int optionCount = 8;

struct SolveCall {
    quelmor::SolverOptions options;
    std::int32_t imageSize = 0;
    std::int32_t interpCode = 0;
    double spacing = 1.0, center = NAN, origin = NAN;
    const double* sinogram = nullptr;
    const double* theta = nullptr;
    const double* start = nullptr;  // x0, or nullptr
    std::int32_t detectorCount = 0, viewCount = 0;
};

bool isWhole(double value, double low, double high) {
    return value >= low && value <= high && value == std::trunc(value);
}

// Returns the first problem with the inputs, or nullptr once `call` holds them.
const char* readInputs(int inputCount, const mxArray* const inputs[], SolveCall& call) {
    if (const char* problem = firstNotRealDouble(inputs, inputCount, notRealDouble)) return problem;
    if (const char* problem = readScalar(
            inputs[2], "Input 3 (N) must not be empty.",
            "Input 3 (N) must be finite and within the 32-bit integer range.", call.imageSize)) {
        return problem;
    }
    std::int32_t method = 0;
    if (const char* problem =
            readScalar(inputs[3], "Input 4 (method) must not be empty.",
                       "Input 4 (method) must be 0 (SIRT) or 1 (CGLS).", method)) {
        return problem;
    }
    if (method != 0 && method != 1) return "Input 4 (method) must be 0 (SIRT) or 1 (CGLS).";
    call.options.method = method == 0 ? quelmor::SolverMethod::sirt : quelmor::SolverMethod::cgls;
    if (mxGetNumberOfElements(inputs[4]) != optionCount) {
        return "Input 5 (options) must hold 8 values: iterations, interpCode, spacing, center, "
               "origin, relaxation, nonnegative, tolerance.";
    }
    const double* option = mxGetPr(inputs[4]);
    if (!isWhole(option[0], 0, 2147483647.0))
        return "Option 1 (iterations) must be a whole number from 0 to 2147483647.";
    if (option[1] != 0 && option[1] != 1)
        return "Option 2 (interpCode) must be 0 (nearest) or 1 (linear).";
    if (!(std::isfinite(option[2]) && option[2] > 0))
        return "Option 3 (spacing) must be positive and finite.";
    if (std::isinf(option[3]) || std::isinf(option[4]))
        return "Options 4 (center) and 5 (origin) must be finite, or NaN for their defaults.";
    if (option[6] != 0 && option[6] != 1) return "Option 7 (nonnegative) must be 0 or 1.";
    call.options.iterations = static_cast<std::int32_t>(option[0]);
    call.interpCode = static_cast<std::int32_t>(option[1]);
    call.spacing = option[2];
    call.center = option[3];
    call.origin = option[4];
    call.options.relaxation = option[5];
    call.options.nonnegative = option[6] == 1;
    call.options.tolerance = option[7];
    if (!(std::isfinite(call.options.tolerance) && call.options.tolerance >= 0))
        return "Option 8 (tolerance) must be finite and at least 0.";
    if (call.options.method == quelmor::SolverMethod::sirt &&
        !(call.options.relaxation > 0 && call.options.relaxation < 2)) {
        return "Option 6 (relaxation) must lie in (0, 2).";
    }
    if (call.options.method == quelmor::SolverMethod::cgls &&
        (call.options.relaxation != 1 || call.options.nonnegative)) {
        return "Options 6 (relaxation) and 7 (nonnegative) are SIRT's: CGLS takes 1 and 0.";
    }
    if (quelmor::solverOptionsProblem(call.options)) return "The solver's options are refused.";

    const std::uint64_t views = mxGetN(inputs[0]);
    if (mxGetNumberOfElements(inputs[1]) != views)
        return "Input 2 (theta) needs one angle for every column of input 1 (sinogram).";
    if (inputCount == 6 && mxGetNumberOfElements(inputs[5]) != 0) {
        if (call.imageSize < 0 || mxGetM(inputs[5]) != static_cast<std::uint64_t>(call.imageSize) ||
            mxGetN(inputs[5]) != static_cast<std::uint64_t>(call.imageSize)) {
            return "Input 6 (x0) must be N x N, or empty.";
        }
        call.start = mxGetPr(inputs[5]);
    }
    call.sinogram = mxGetPr(inputs[0]);
    call.theta = mxGetPr(inputs[1]);
    for (std::uint64_t v = 0; v < views; ++v) {
        if (!std::isfinite(call.theta[v])) return "Input 2 (theta) must be finite.";
    }
    // The coefficients are finite for finite angles and spacing: checkJob
    // then checks the counts alone.
    const quelmor::JobRequest request{call.imageSize, mxGetM(inputs[0]), views,     views,
                                      views,          call.theta,        call.theta};
    switch (quelmor::checkJob(request)) {
        case quelmor::JobProblem::none: break;
        case quelmor::JobProblem::negativeImageSize: return "Input 3 (N) must not be negative.";
        case quelmor::JobProblem::imageTooLarge:
            return "Input 3 (N) is too large: the image may hold at most 2147483647 pixels.";
        default: return "Input 1 (sinogram) is too large: at most 2147483647 samples can be used.";
    }
    call.detectorCount = static_cast<std::int32_t>(mxGetM(inputs[0]));
    call.viewCount = static_cast<std::int32_t>(views);
    return nullptr;
}

// Solves into `image` (zeros, or x0); the problem, or nullptr. Every object
// it makes is gone when it returns, so the caller may raise the host's error.
const char* solve(const SolveCall& call, double* image, double* outcomeOut) {
    try {
        std::vector<double> cosines(call.viewCount), sines(call.viewCount), shifts;
        quelmor::viewCoefficients(call.theta, call.viewCount, call.spacing, cosines.data(),
                                  sines.data());
        if (!std::isnan(call.center) || !std::isnan(call.origin)) {
            shifts.resize(call.viewCount);
            const double center = std::isnan(call.center) ? call.detectorCount / 2 : call.center;
            const double origin = std::isnan(call.origin) ? (call.imageSize - 1) / 2 : call.origin;
            quelmor::viewShifts(call.theta, call.viewCount, call.detectorCount, call.imageSize,
                                call.spacing, center, origin, shifts.data());
        }
        const quelmor::SolverGeometry geometry{call.detectorCount,
                                               call.viewCount,
                                               call.imageSize,
                                               call.interpCode,
                                               cosines.data(),
                                               sines.data(),
                                               shifts.empty() ? nullptr : shifts.data()};
        quelmor::SolverOptions options = call.options;
        options.startFromImage = call.start != nullptr;
        if (call.start) {
            const std::size_t pixels = static_cast<std::size_t>(call.imageSize) * call.imageSize;
            for (std::size_t i = 0; i < pixels; ++i) image[i] = call.start[i];
        }
        const quelmor::SolverSlice slice{call.sinogram, image};
        quelmor::SolverOutcome outcome{};
        quelmor::solveStack(geometry, {&slice, 1}, options, {}, {&outcome, 1});
        if (outcomeOut) {
            outcomeOut[0] = outcome.iterations;
            outcomeOut[1] = outcome.residualNorm;
        }
    } catch (const std::bad_alloc&) {
        return "Not enough memory for the solve.";
    } catch (const std::exception&) {
        return "The solve was refused.";  // not reached: every input is checked first
    }
    return nullptr;
}

}  // namespace

extern "C" void mexFunction(int outputCount, mxArray* outputs[], int inputCount,
                            const mxArray* inputs[]) {
    if (inputCount != 5 && inputCount != 6) {
        mexErrMsgTxt("Five or six input arguments required.");
        return;
    }
    if (outputCount > 2) {
        mexErrMsgTxt("Too many output arguments.");
        return;
    }
    SolveCall call;
    if (const char* problem = readInputs(inputCount, inputs, call)) {
        mexErrMsgTxt(problem);
        return;
    }
    outputs[0] = mxCreateDoubleMatrix_700(call.imageSize, call.imageSize, mxREAL);
    double* outcome = nullptr;
    if (outputCount == 2) {
        outputs[1] = mxCreateDoubleMatrix_700(1, 2, mxREAL);
        outcome = mxGetPr(outputs[1]);
    }
    if (const char* problem = solve(call, mxGetPr(outputs[0]), outcome)) mexErrMsgTxt(problem);
}
