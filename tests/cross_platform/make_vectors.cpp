// Writes the shared call vectors that every build of the module (Linux,
// 32-bit Windows under Wine, GNU Octave) must answer identically: one folder
// per call holding in1..inK as matrix files and `nargout`, the number of
// results asked for. The seeded random calls also hold `expected`, the
// reference sweep's image, which every build must match. With --fuzz-seeds, writes the same calls
// (those small enough) in the byte form gateway_fuzzer decodes, as its seed corpus.
//
//   make_vectors DIR
//   make_vectors --fuzz-seeds DIR
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "matrix_file.h"
#include "quelmor/geometry_guide.h"
#include "quelmor/kernel_variants.h"

namespace {

namespace fs = std::filesystem;

struct Call {
    std::string name;
    std::vector<Matrix> inputs;
    int outputCount = 1;
    bool withExpected = false;
};

// The reference sweep's image for a well-formed call.
Matrix referenceImage(const Call& call) {
    const auto imageSize = static_cast<std::int32_t>(call.inputs[3].values[0]);
    Matrix image{static_cast<std::uint32_t>(imageSize), static_cast<std::uint32_t>(imageSize),
                 std::vector<double>(static_cast<std::size_t>(imageSize) * imageSize, 0.0)};
    const quelmor::SweepJob job{image.values.data(),
                                call.inputs[0].values.data(),
                                static_cast<std::int32_t>(call.inputs[0].rows),
                                call.inputs[1].values.data(),
                                call.inputs[2].values.data(),
                                static_cast<std::int32_t>(call.inputs[1].values.size()),
                                imageSize,
                                static_cast<std::int32_t>(call.inputs[4].values[0])};
    quelmor::findKernelVariant("reference")->sweepColumns(job, 0, imageSize);
    return image;
}

Matrix column(std::vector<double> values) {
    return Matrix{static_cast<std::uint32_t>(values.size()), 1, std::move(values)};
}
Matrix scalar(double value) { return Matrix{1, 1, {value}}; }

std::vector<double> ramp(std::size_t count, double start, double step) {
    std::vector<double> values(count);
    for (std::size_t i = 0; i < count; ++i) values[i] = start + step * static_cast<double>(i);
    return values;
}

// A call on `views` views of a random sinogram with `detectorCount` samples.
Call randomScene(const std::string& name, int imageSize, int detectorCount,
                 const std::vector<double>& cosines, const std::vector<double>& sines,
                 double interpCode, std::mt19937_64& random) {
    std::uniform_real_distribution<double> sample(-2, 2);
    Matrix projections{
        static_cast<std::uint32_t>(detectorCount), static_cast<std::uint32_t>(cosines.size()), {}};
    for (std::size_t i = 0; i < cosines.size() * detectorCount; ++i)
        projections.values.push_back(sample(random));
    return {name,
            {projections, column(cosines), column(sines), scalar(imageSize), scalar(interpCode)}};
}

// Seeded random calls of every size class around the vector widths: random
// angles or coefficients, short and fitting detectors, infinite samples (no
// NaN inputs, so every NaN pixel is the processor's one default NaN and the
// builds agree on its bytes too).
void addRandomCalls(std::vector<Call>& calls, int count) {
    std::mt19937_64 random(20261208);
    auto uniform = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    std::uniform_real_distribution<double> unit(-1, 1);
    for (int i = 0; i < count; ++i) {
        const int imageSize = uniform(0, 3) == 0 ? uniform(1, 9) : uniform(10, 41);
        const int fitting = quelmor::coveringDetectorCount(imageSize);
        const int detectors = uniform(0, 4) == 0 ? uniform(1, fitting) : fitting + uniform(0, 3);
        const int views = uniform(1, 24);
        std::vector<double> cosines, sines;
        for (int v = 0; v < views; ++v) {
            switch (uniform(0, 3)) {
                case 0:
                    cosines.push_back(unit(random) * 2.5);
                    sines.push_back(unit(random) * 2.5);
                    break;
                case 1:
                    cosines.push_back(uniform(-2, 2) * 0.5);
                    sines.push_back(uniform(-2, 2) * 0.25);
                    break;
                default: {
                    const double angle = (unit(random) + 1) * std::numbers::pi;
                    cosines.push_back(std::cos(angle));
                    sines.push_back(std::sin(angle));
                }
            }
        }
        Matrix projections{
            static_cast<std::uint32_t>(detectors), static_cast<std::uint32_t>(views), {}};
        for (int e = 0; e < detectors * views; ++e) {
            const int kind = uniform(0, 49);
            projections.values.push_back(kind == 0   ? INFINITY
                                         : kind == 1 ? -INFINITY
                                         : kind == 2 ? 4e-320
                                                     : unit(random) * 10);
        }
        const double code = uniform(0, 1);
        calls.push_back(
            {"random_" + std::to_string(i),
             {projections, column(cosines), column(sines), scalar(imageSize), scalar(code)},
             1,
             true});
    }
}

std::vector<Call> allCalls() {
    std::vector<Call> calls;
    std::mt19937_64 random(42);
    const Matrix oneToFive = column({1, 2, 3, 4, 5});
    calls.push_back({"worked_1", {oneToFive, scalar(1), scalar(0), scalar(3), scalar(1)}});
    calls.push_back({"worked_2", {oneToFive, scalar(0), scalar(1), scalar(3), scalar(0)}});
    for (int code : {0, 1}) {
        calls.push_back(
            {"worked_3_code" + std::to_string(code),
             {column({10, 20, 30, 40}), scalar(0.6), scalar(0.8), scalar(2), scalar(code)}});
    }
    // Coordinates on rounding boundaries: ties, the double below one half,
    // whole numbers, and long columns whose stepped coordinate drifts.
    const std::vector<double> counting = ramp(41, 100, 1);
    for (double c : {0.5, -0.5, -1.5, 0.49999999999999994, -0.49999999999999994, 1e-20, -1e-20}) {
        for (int code : {0, 1}) {
            calls.push_back({"boundary_" + std::to_string(calls.size()),
                             {column(counting), scalar(c), scalar(0.0), scalar(2), scalar(code)}});
        }
    }
    for (double s : {0.1, 0.7, 1.0 / 3.0, 0.49999999999999994}) {
        for (int code : {0, 1}) {
            calls.push_back(randomScene("stepped_" + std::to_string(calls.size()), 257, 2 * 257 + 3,
                                        {0.3, 0.0, -0.5}, {s, s, -s}, code, random));
        }
    }
    // Tomographic scenes of odd and even sides, and one whose detector is
    // too short for the image.
    for (int imageSize : {1, 2, 7, 16, 33, 64}) {
        for (int code : {0, 1}) {
            std::vector<double> cosines, sines;
            for (int v = 0; v < 24; ++v) {
                cosines.push_back(std::cos(v * std::numbers::pi / 24));
                sines.push_back(std::sin(v * std::numbers::pi / 24));
            }
            const int detectors = quelmor::coveringDetectorCount(imageSize);
            calls.push_back(
                randomScene("scene_" + std::to_string(imageSize) + "_" + std::to_string(code),
                            imageSize, detectors, cosines, sines, code, random));
            calls.push_back(randomScene(
                "short_detector_" + std::to_string(imageSize) + "_" + std::to_string(code),
                imageSize, imageSize / 3 + 1, cosines, sines, code, random));
        }
    }
    // Argument handling shared by every build.
    Call base = randomScene("", 5, 9, {1.0, 0.6, 0.0, -0.6}, {0.0, 0.8, 1.0, 0.8}, 1, random);
    auto variant = [&](const std::string& name, int position, Matrix replacement,
                       int outputCount = 1) {
        Call call = base;
        call.name = name;
        call.inputs[position] = std::move(replacement);
        call.outputCount = outputCount;
        calls.push_back(call);
    };
    variant("side_half", 3, scalar(0.5));
    variant("side_3_99", 3, scalar(3.99));
    variant("side_multi_element", 3, Matrix{1, 2, {6, 100}});
    variant("code_1_9", 4, scalar(1.9));
    variant("code_minus_0_9", 4, scalar(-0.9));
    variant("code_2", 4, scalar(2));
    variant("no_outputs", 4, scalar(1), 0);
    variant("two_outputs", 4, scalar(1), 2);
    variant("side_negative", 3, scalar(-5));
    variant("side_nan", 3, scalar(NAN));
    variant("side_huge", 3, scalar(1e10));
    variant("side_empty", 3, Matrix{0, 0, {}});
    variant("cosine_infinite", 1, column({1.0, INFINITY, 0.0, -0.6}));
    variant("coefficients_off_every_detector", 1, column({1e300, -4e9, 0.0, 1e10}));
    variant("too_few_sines", 2, column({0.0, 0.8}));
    variant("too_few_columns", 0, Matrix{9, 2, std::vector<double>(18, 1.0)});
    variant("cosines_2x2", 1, Matrix{2, 2, {1.0, 0.6, 0.0, -0.6}});
    Call four = base;
    four.name = "four_inputs";
    four.inputs.pop_back();
    calls.push_back(four);
    Call six = base;
    six.name = "six_inputs";
    six.inputs.push_back(scalar(1));
    calls.push_back(six);
    calls.push_back({"no_views", {Matrix{}, Matrix{}, Matrix{}, scalar(4), scalar(1)}});
    addRandomCalls(calls, 300);
    return calls;
}

// gateway_fuzzer's form: input and output counts, then per array a class byte
// (0: real double), rows, columns and, per element, selector 0 and the
// double's eight bytes. Calls with a dimension over 47 do not fit.
bool writeFuzzSeed(const fs::path& path, const Call& call) {
    std::string bytes{static_cast<char>(call.inputs.size()), static_cast<char>(call.outputCount)};
    for (const Matrix& input : call.inputs) {
        if (input.rows > 47 || input.columns > 47) return false;
        bytes += {0, static_cast<char>(input.rows), static_cast<char>(input.columns)};
        for (double value : input.values) {
            bytes += '\0';
            bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
        }
    }
    std::ofstream(path, std::ios::binary) << bytes;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const bool fuzzSeeds = argc == 3 && std::string(argv[1]) == "--fuzz-seeds";
    if (argc != 2 && !fuzzSeeds) {
        std::fprintf(stderr, "usage: make_vectors [--fuzz-seeds] DIR\n");
        return 2;
    }
    const fs::path directory = argv[argc - 1];
    const std::vector<Call> calls = allCalls();
    int written = 0;
    for (const Call& call : calls) {
        if (fuzzSeeds) {
            fs::create_directories(directory);
            written += writeFuzzSeed(directory / call.name, call);
            continue;
        }
        const fs::path folder = directory / call.name;
        fs::create_directories(folder);
        std::string error;
        for (std::size_t i = 0; i < call.inputs.size(); ++i) {
            if (!writeMatrixFile((folder / ("in" + std::to_string(i + 1))).string(), call.inputs[i],
                                 error)) {
                std::fprintf(stderr, "make_vectors: %s\n", error.c_str());
                return 1;
            }
        }
        std::ofstream(folder / "nargout") << call.outputCount << "\n";
        if (call.withExpected &&
            !writeMatrixFile((folder / "expected").string(), referenceImage(call), error)) {
            std::fprintf(stderr, "make_vectors: %s\n", error.c_str());
            return 1;
        }
        ++written;
    }
    std::printf("%d calls written to %s\n", written, directory.c_str());
    return 0;
}
