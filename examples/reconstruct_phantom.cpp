// Reconstructs the modified Shepp-Logan phantom by filtered backprojection,
// with the backprojection done by the Quelmor module, or by SIRT or CGLS in
// the QuelmorSolve module beside it, each loaded and called as a host would
// (through the stand-in host), and writes the pictures.
//
//   reconstruct_phantom [--side N] [--views V] [--sampler linear|nearest]
//                       [--algorithm fbp|sirt|cgls] [--iterations K] [--noise F]
//                       [--out DIR] [--module PATH]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "matrix_call.h"
#include "module_loader.h"
#include "phantom.h"
#include "png_image.h"
#include "quelmor/geometry_guide.h"
#include "quelmor/kernel_variants.h"

namespace {

struct Options {
    int imageSize = 256;
    int views = 180;
    int interpCode = 1;
    std::string algorithm = "fbp";
    int iterations = -1;  // the solver's default: SIRT 100, CGLS 20
    double noise = 0.0;   // Gaussian, its deviation a fraction of the largest line integral
    std::string outputDirectory = "out";
    std::string modulePath = QUELMOR_MODULE_PATH;
    bool helpAsked = false;
};

constexpr const char* usage =
    "usage: reconstruct_phantom [--side N (1-4096)] [--views V (1-10000)]\n"
    "                           [--sampler linear|nearest] [--algorithm fbp|sirt|cgls]\n"
    "                           [--iterations K] [--noise F] [--out DIR] [--module PATH]\n"
    "Reconstructs the modified Shepp-Logan phantom by filtered backprojection through the\n"
    "Quelmor module, or by SIRT or CGLS through the QuelmorSolve module beside it, and\n"
    "writes phantom.png, sinogram.png, reconstruction.png and difference.png to DIR\n"
    "(default: out). Defaults: side 256, 180 views, linear, fbp; 100 SIRT or 20 CGLS\n"
    "iterations; no noise (F: the deviation of Gaussian noise added to the sinogram, a\n"
    "fraction of its largest value, the same seeded draws every run).\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "reconstruct_phantom: %s\n%s", message.c_str(), usage);
    return 2;
}

bool parseInt(const std::string& text, int lo, int hi, int& value) {
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed < lo || parsed > hi) return false;
    value = static_cast<int>(parsed);
    return true;
}

// Empty when the options are good, otherwise what is wrong.
std::string parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--help" || flag == "-h") {
            options.helpAsked = true;
            return "";
        }
        if (i + 1 >= argc) return flag + " needs a value";
        const std::string value = argv[++i];
        if (flag == "--side") {
            if (!parseInt(value, 1, 4096, options.imageSize))
                return "--side must be a whole number from 1 to 4096, not '" + value + "'";
        } else if (flag == "--views") {
            if (!parseInt(value, 1, 10000, options.views))
                return "--views must be a whole number from 1 to 10000, not '" + value + "'";
        } else if (flag == "--sampler") {
            if (value == "linear") {
                options.interpCode = 1;
            } else if (value == "nearest") {
                options.interpCode = 0;
            } else {
                return "--sampler must be linear or nearest, not '" + value + "'";
            }
        } else if (flag == "--algorithm") {
            if (value != "fbp" && value != "sirt" && value != "cgls")
                return "--algorithm must be fbp, sirt or cgls, not '" + value + "'";
            options.algorithm = value;
        } else if (flag == "--iterations") {
            if (!parseInt(value, 0, 100000, options.iterations))
                return "--iterations must be a whole number from 0 to 100000, not '" + value + "'";
        } else if (flag == "--noise") {
            char* end = nullptr;
            options.noise = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(options.noise >= 0 && options.noise <= 1))
                return "--noise must be a number from 0 to 1, not '" + value + "'";
        } else if (flag == "--out") {
            options.outputDirectory = value;
        } else if (flag == "--module") {
            options.modulePath = value;
        } else {
            return "unknown option " + flag;
        }
    }
    return "";
}

Matrix rowOf(const std::vector<double>& values) {
    return Matrix{1, static_cast<std::uint32_t>(values.size()), values};
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// The calls after the first, timed as the benchmark times them: inputs made
// once, each call making and dropping its image as a host's does; for about a
// second, at most 20 calls, of which the median counts. 0 calls when none ran.
struct WarmTiming {
    int calls = 0;
    double medianMilliseconds = 0.0;
};

WarmTiming timeWarmCalls(GatewayFunction gateway, const std::vector<Matrix>& inputs) {
    std::vector<const mxArray*> arrays;
    for (const Matrix& input : inputs) {
        mxArray* array = standinCreateArray(StandinClass::RealDouble, input.rows, input.columns);
        if (array == nullptr) break;
        std::copy(input.values.begin(), input.values.end(), mxGetPr(array));
        arrays.push_back(array);
    }
    std::vector<double> times;
    const auto started = std::chrono::steady_clock::now();
    std::string message;
    while (arrays.size() == inputs.size() && times.size() < 20 &&
           millisecondsSince(started) < 1000.0) {
        mxArray* image = nullptr;
        const auto callStarted = std::chrono::steady_clock::now();
        const bool finished =
            standinCallGateway(gateway, 1, &image, int(arrays.size()), arrays.data(), message);
        const double milliseconds = millisecondsSince(callStarted);
        mxDestroyArray(image);
        if (!finished) break;
        times.push_back(milliseconds);
    }
    for (const mxArray* array : arrays) mxDestroyArray(const_cast<mxArray*>(array));
    if (times.empty()) return {};
    const auto middle = times.begin() + times.size() / 2;
    std::nth_element(times.begin(), middle, times.end());
    return {int(times.size()), *middle};
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const std::string problem = parseOptions(argc, argv, options); !problem.empty()) {
        return usageError(problem);
    }
    if (options.helpAsked) {
        std::printf("%s", usage);
        return 0;
    }
    std::string error;
    const bool solving = options.algorithm != "fbp";
    // QuelmorSolve sits beside Quelmor, with the same suffix.
    const std::filesystem::path quelmorPath = options.modulePath;
    const std::string modulePath =
        solving ? (quelmorPath.parent_path() / ("QuelmorSolve" + quelmorPath.extension().string()))
                      .string()
                : options.modulePath;
    const auto module = LoadedModule::open(modulePath, error);
    if (!module) {
        std::fprintf(stderr, "reconstruct_phantom: %s\n", error.c_str());
        return 1;
    }

    const int imageSize = options.imageSize, views = options.views;
    const int detectorCount = quelmor::coveringDetectorCount(imageSize);
    const std::vector<double> truth = phantom::rasterize(imageSize);
    std::vector<double> projections = phantom::sinogram(imageSize, detectorCount, views);
    if (options.noise > 0) {
        const double largest = *std::max_element(projections.begin(), projections.end());
        std::mt19937_64 draws(45);
        std::normal_distribution<double> gaussian(0.0, options.noise * largest);
        for (double& value : projections) value += gaussian(draws);
    }
    const std::vector<double> filtered = phantom::rampFiltered(projections, detectorCount, views);
    std::vector<double> cosines, sines;
    for (int v = 0; v < views; ++v) {
        cosines.push_back(std::cos(phantom::viewAngle(v, views)));
        sines.push_back(std::sin(phantom::viewAngle(v, views)));
    }

    // Quelmor(filtered, cosines, sines, side, code), as a host user calls it; or
    // QuelmorSolve(sinogram, theta, side, method, options), as quelmor_sirt does.
    std::vector<double> theta;
    for (int v = 0; v < views; ++v) theta.push_back(phantom::viewAngle(v, views));
    const double iterations = options.iterations >= 0       ? options.iterations
                              : options.algorithm == "sirt" ? 100
                                                            : 20;
    const std::vector<Matrix> inputs =
        solving ? std::vector<Matrix>{Matrix{static_cast<std::uint32_t>(detectorCount),
                                             static_cast<std::uint32_t>(views), projections},
                                      rowOf(theta), rowOf({double(imageSize)}),
                                      rowOf({options.algorithm == "sirt" ? 0.0 : 1.0}),
                                      rowOf({iterations, double(options.interpCode), 1.0, NAN, NAN,
                                             1.0, 0.0, 0.0})}
                : std::vector<Matrix>{Matrix{static_cast<std::uint32_t>(detectorCount),
                                             static_cast<std::uint32_t>(views), filtered},
                                      rowOf(cosines), rowOf(sines), rowOf({double(imageSize)}),
                                      rowOf({double(options.interpCode)})};
    const auto started = std::chrono::steady_clock::now();
    const MatrixCallResult call = callWithMatrices(module->gateway(), 1, inputs);
    const double firstMilliseconds = millisecondsSince(started);
    if (!call.finished) {
        std::fprintf(stderr, "reconstruct_phantom: the module refused the call: %s\n",
                     call.message.c_str());
        return 1;
    }
    // The first call pays for memory touched for the first time and for the
    // processor's warm-up, several times the kernel's own time on a small image;
    // a call of over a second is not repeated, those costs being small beside it.
    const WarmTiming warm = firstMilliseconds < 1000.0 && !solving
                                ? timeWarmCalls(module->gateway(), inputs)
                                : WarmTiming{};
    std::vector<double> reconstruction = call.image.values;
    // Filtered backprojection's scale; the solvers' least-squares image needs none.
    if (!solving) {
        for (double& pixel : reconstruction) pixel *= std::numbers::pi / views;
    }
    std::vector<double> difference(reconstruction.size());
    for (std::size_t i = 0; i < difference.size(); ++i)
        difference[i] = reconstruction[i] - truth[i];

    std::filesystem::create_directories(options.outputDirectory);
    const std::string out = options.outputDirectory + "/";
    double sinogramMax = 0.0;
    for (double value : projections) sinogramMax = std::max(sinogramMax, value);
    if (!writeGreyPng(out + "phantom.png", truth, imageSize, imageSize, 0.0, 1.0, error) ||
        !writeGreyPng(out + "sinogram.png", projections, detectorCount, views, 0.0, sinogramMax,
                      error) ||
        !writeGreyPng(out + "reconstruction.png", reconstruction, imageSize, imageSize, 0.0, 1.0,
                      error) ||
        !writeGreyPng(out + "difference.png", difference, imageSize, imageSize, -0.25, 0.25,
                      error)) {
        std::fprintf(stderr, "reconstruct_phantom: %s\n", error.c_str());
        return 1;
    }
    const double updates = double(imageSize) * imageSize * views;
    std::printf("side %d, %d views over [0, pi), %d detector samples, %s sampling%s\n", imageSize,
                views, detectorCount, options.interpCode ? "linear" : "nearest",
                options.noise > 0 ? (", noise " + std::to_string(options.noise)).c_str() : "");
    if (solving) {
        std::printf("%s, %.0f iterations (QuelmorSolve call): %.1f ms\n", options.algorithm.c_str(),
                    iterations, firstMilliseconds);
    } else if (warm.calls > 0) {
        std::printf(
            "backprojection (module call): %.2f ms, %.2f giga pixel-updates/s (median of "
            "%d calls after the first, which took %.2f ms)\n",
            warm.medianMilliseconds, updates / warm.medianMilliseconds * 1e-6, warm.calls,
            firstMilliseconds);
    } else {
        std::printf(
            "backprojection (module call): %.1f ms, %.2f giga pixel-updates/s (one call, "
            "first-touch page faults and warm-up included)\n",
            firstMilliseconds, updates / firstMilliseconds * 1e-6);
    }
    // The module picks its kernel with the same code as the core library linked here.
    std::printf("kernel variant: %s, on %s\n",
                std::string(quelmor::bestKernelVariant().name).c_str(),
                quelmor::processorName().c_str());
    std::printf("RMSE against the phantom: %.4f\n",
                phantom::rootMeanSquareError(reconstruction, truth));
    std::printf("pictures: %sphantom.png %ssinogram.png %sreconstruction.png %sdifference.png\n",
                out.c_str(), out.c_str(), out.c_str(), out.c_str());
    return 0;
}
