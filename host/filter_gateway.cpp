// The filter module's entry point,
// [filtered, cosines, sines] = QuelmorFilter(sinogram, theta, N, options[, shifts]):
// filtered backprojection's projection filter from the core, with each
// view's shift and the kernels' coefficients computed as the Python
// package's fbp computes them, so quelmor_fbp and filter_sinogram give its
// bytes. options holds [filter, cutoff, spacing, center, origin], the filter
// by its index in the core's list of windows, NaN for a center or origin
// left at its default; shifts, when given, are the views' own shifts.
// Every check runs before a result is created.
#include <cmath>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "gateway_inputs.h"
#include "mex_binding.h"
#include "quelmor/filter.h"
#include "quelmor/view_angles.h"

namespace {

constexpr const char* notRealDouble[5] = {
    "Input 1 (sinogram) must be a real, full double array.",
    "Input 2 (theta) must be a real, full double array.",
    "Input 3 (N) must be a real, full double array.",
    "Input 4 (options) must be a real, full double array.",
    "Input 5 (shifts) must be a real, full double array.",
};
constexpr int optionCount = 5;
constexpr double largestShift = 1 << 20;

struct FilterCall {
    quelmor::FilterJob job{};
    const double* theta = nullptr;  // viewCount angles, or nullptr
    std::int32_t imageSize = 0;
    std::vector<double> centeredShifts;  // the shifts a center or origin gives
};

// "Option 1 (filter) must be 0 (ramp), 1 (shepp-logan), ...", from the core's list.
const char* filterChoiceMessage() {
    static const std::string message = [] {
        std::string text = "Option 1 (filter) must be ";
        const auto names = quelmor::filterWindowNames();
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
            text += std::to_string(i) + " (" + std::string(names[i]) + ")";
        }
        return text + ".";
    }();
    return message.c_str();
}

// Whether every value is finite and at most `bound` in magnitude.
bool finiteWithin(const double* values, std::uint64_t count, double bound) {
    for (std::uint64_t i = 0; i < count; ++i) {
        if (!(std::isfinite(values[i]) && std::fabs(values[i]) <= bound)) return false;
    }
    return true;
}

// Returns the first problem with the inputs, or nullptr once `call` holds them.
const char* readInputs(int outputCount, int inputCount, const mxArray* const inputs[],
                       FilterCall& call) {
    if (const char* problem = firstNotRealDouble(inputs, inputCount, notRealDouble)) return problem;
    if (mxGetM(inputs[0]) > 2147483647u || mxGetN(inputs[0]) > 2147483647u)
        return "Input 1 (sinogram) may have at most 2147483647 rows and columns.";
    const std::uint64_t views = mxGetN(inputs[0]);
    if (const char* problem = readScalar(
            inputs[2], "Input 3 (N) must not be empty.",
            "Input 3 (N) must be finite and within the 32-bit integer range.", call.imageSize)) {
        return problem;
    }
    if (call.imageSize < 0) return "Input 3 (N) must not be negative.";
    if (mxGetNumberOfElements(inputs[3]) != optionCount)
        return "Input 4 (options) must hold 5 values: filter, cutoff, spacing, center, origin.";
    const double* option = mxGetPr(inputs[3]);
    const auto windowCount = static_cast<double>(quelmor::filterWindowNames().size());
    if (!(option[0] >= 0 && option[0] < windowCount && option[0] == std::trunc(option[0])))
        return filterChoiceMessage();
    if (!(option[1] > 0 && option[1] <= 1))
        return "Option 2 (cutoff) must be a fraction of the Nyquist frequency in (0, 1].";
    if (!(std::isfinite(option[2]) && option[2] > 0))
        return "Option 3 (spacing) must be positive and finite.";
    if (std::isinf(option[3]) || std::isinf(option[4]))
        return "Options 4 (center) and 5 (origin) must be finite, or NaN for their defaults.";
    call.job.window = static_cast<quelmor::FilterWindow>(static_cast<int>(option[0]));
    call.job.cutoff = option[1];
    call.job.spacing = option[2];
    const double center = option[3], origin = option[4];
    const bool centered = !std::isnan(center) || !std::isnan(origin);

    const std::uint64_t angles = mxGetNumberOfElements(inputs[1]);
    if (angles != 0 || centered || outputCount > 1) {
        if (angles != views)
            return "Input 2 (theta) needs one angle for every column of input 1 (sinogram).";
        call.theta = mxGetPr(inputs[1]);
        if (!finiteWithin(call.theta, views, HUGE_VAL)) return "Input 2 (theta) must be finite.";
    }
    if (inputCount == 5 && mxGetNumberOfElements(inputs[4]) != 0) {
        if (centered)
            return "Give input 5 (shifts) or options 4 (center) and 5 (origin), not both.";
        if (mxGetNumberOfElements(inputs[4]) != views)
            return "Input 5 (shifts) needs one shift for every column of input 1 (sinogram).";
        call.job.shifts = mxGetPr(inputs[4]);
        if (!finiteWithin(call.job.shifts, views, largestShift))
            return "Input 5 (shifts) must be finite and at most 2^20 samples.";
    }
    call.job.views = mxGetPr(inputs[0]);
    call.job.detectorCount = static_cast<std::int32_t>(mxGetM(inputs[0]));
    call.job.viewCount = static_cast<std::int64_t>(views);
    if (centered) {
        const std::int32_t detectors = call.job.detectorCount;
        call.centeredShifts.resize(views);
        quelmor::viewShifts(call.theta, call.job.viewCount, detectors, call.imageSize,
                            call.job.spacing, std::isnan(center) ? detectors / 2 : center,
                            std::isnan(origin) ? (call.imageSize - 1) / 2 : origin,
                            call.centeredShifts.data());
        if (!finiteWithin(call.centeredShifts.data(), views, largestShift))
            return "The shifts that center and origin give exceed 2^20 samples.";
        call.job.shifts = call.centeredShifts.data();
    }
    return nullptr;
}

// Filters into `filtered` and fills the coefficients asked for; the problem,
// or nullptr. Every object it makes is gone when it returns, so the caller
// may raise the host's error.
const char* filter(FilterCall& call, double* filtered, double* cosines, double* sines) {
    try {
        const std::int64_t views = call.job.viewCount;
        call.job.filtered = filtered;
        quelmor::filterViews(call.job);
        if (cosines) {
            std::vector<double> unusedSines(sines ? 0 : views);
            quelmor::viewCoefficients(call.theta, views, call.job.spacing, cosines,
                                      sines ? sines : unusedSines.data());
        }
    } catch (const std::bad_alloc&) {
        return "Not enough memory for the filter.";
    } catch (const std::exception&) {
        return "The filter was refused.";  // not reached: every input is checked first
    }
    return nullptr;
}

// Creates the results and fills them; the problem, or nullptr.
const char* run(int outputCount, mxArray* outputs[], const mxArray* inputs[], FilterCall& call) {
    const int rows = static_cast<int>(mxGetM(inputs[0])),
              columns = static_cast<int>(mxGetN(inputs[0]));
    outputs[0] = mxCreateDoubleMatrix_700(rows, columns, mxREAL);
    double *cosines = nullptr, *sines = nullptr;
    if (outputCount > 1) {
        const int angleRows = static_cast<int>(mxGetM(inputs[1]));
        const int angleColumns = static_cast<int>(mxGetN(inputs[1]));
        outputs[1] = mxCreateDoubleMatrix_700(angleRows, angleColumns, mxREAL);
        cosines = mxGetPr(outputs[1]);
        if (outputCount > 2) {
            outputs[2] = mxCreateDoubleMatrix_700(angleRows, angleColumns, mxREAL);
            sines = mxGetPr(outputs[2]);
        }
    }
    return filter(call, mxGetPr(outputs[0]), cosines, sines);
}

}  // namespace

extern "C" void mexFunction(int outputCount, mxArray* outputs[], int inputCount,
                            const mxArray* inputs[]) {
    if (inputCount != 4 && inputCount != 5) {
        mexErrMsgTxt("Four or five input arguments required.");
        return;
    }
    if (outputCount > 3) {
        mexErrMsgTxt("Too many output arguments.");
        return;
    }
    const char* problem = nullptr;
    {
        FilterCall call;
        try {
            problem = readInputs(outputCount, inputCount, inputs, call);
        } catch (const std::bad_alloc&) {
            problem = "Not enough memory for the filter.";
        }
        if (!problem) problem = run(outputCount, outputs, inputs, call);
    }
    // Raised once every object of the call is gone: the host's error does not return.
    if (problem) mexErrMsgTxt(problem);
}
