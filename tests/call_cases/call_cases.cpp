#include "call_cases.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>

#include "quelmor/filter.h"
#include "quelmor/geometry_guide.h"
#include "quelmor/kernel_variants.h"
#include "quelmor/project_views.h"
#include "quelmor/solvers.h"
#include "quelmor/view_angles.h"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

Matrix column(std::vector<double> values) {
    return Matrix{static_cast<std::uint32_t>(values.size()), 1, std::move(values)};
}
Matrix scalar(double value) { return Matrix{1, 1, {value}}; }
Matrix square(std::uint32_t side, std::vector<double> values) {
    return Matrix{side, side, std::move(values)};
}

// The reference sweep's image for a well-formed call: the first element of
// each scalar truncated toward zero, every element of the cosines a view.
Matrix referenceImage(const std::vector<Matrix>& inputs) {
    const auto imageSize = static_cast<std::int32_t>(inputs[3].values[0]);
    Matrix image = square(static_cast<std::uint32_t>(imageSize),
                          std::vector<double>(static_cast<std::size_t>(imageSize) * imageSize));
    const quelmor::BackprojectionJob job{image.values.data(),
                                         inputs[0].values.data(),
                                         static_cast<std::int32_t>(inputs[0].rows),
                                         inputs[1].values.data(),
                                         inputs[2].values.data(),
                                         static_cast<std::int32_t>(inputs[1].values.size()),
                                         imageSize,
                                         static_cast<std::int32_t>(inputs[4].values[0])};
    quelmor::findKernelVariant("reference")->backprojectColumns(job, 0, imageSize);
    return image;
}

CallCase imageCase(std::string name, std::vector<Matrix> inputs, int outputCount = 1) {
    Matrix image = referenceImage(inputs);
    return {std::move(name), std::move(inputs), outputCount, std::move(image), {}};
}

std::vector<double> ramp(std::size_t count, double start, double step) {
    std::vector<double> values(count);
    for (std::size_t i = 0; i < count; ++i) values[i] = start + step * static_cast<double>(i);
    return values;
}

// The five inputs of a random sinogram of `detectorCount` samples per view.
std::vector<Matrix> randomScene(int imageSize, int detectorCount,
                                const std::vector<double>& cosines,
                                const std::vector<double>& sines, double interpCode,
                                std::mt19937_64& random) {
    std::uniform_real_distribution<double> sample(-2, 2);
    Matrix projections{
        static_cast<std::uint32_t>(detectorCount), static_cast<std::uint32_t>(cosines.size()), {}};
    for (std::size_t i = 0; i < cosines.size() * detectorCount; ++i)
        projections.values.push_back(sample(random));
    return {projections, column(cosines), column(sines), scalar(imageSize), scalar(interpCode)};
}

// `inputs` with the one at `position` replaced.
std::vector<Matrix> replacing(std::vector<Matrix> inputs, int position, Matrix replacement) {
    inputs[position] = std::move(replacement);
    return inputs;
}

// The reference projection's sinogram for a well-formed QuelmorProject call.
Matrix referenceSinogram(const std::vector<Matrix>& inputs) {
    const auto detectorCount = static_cast<std::int32_t>(inputs[3].values[0]);
    const auto viewCount = static_cast<std::int32_t>(inputs[1].values.size());
    Matrix sinogram{static_cast<std::uint32_t>(detectorCount),
                    static_cast<std::uint32_t>(viewCount),
                    std::vector<double>(static_cast<std::size_t>(detectorCount) * viewCount)};
    const quelmor::ProjectionJob job{sinogram.values.data(),
                                     inputs[0].values.data(),
                                     detectorCount,
                                     inputs[1].values.data(),
                                     inputs[2].values.data(),
                                     viewCount,
                                     static_cast<std::int32_t>(inputs[0].rows),
                                     static_cast<std::int32_t>(inputs[4].values[0])};
    quelmor::findKernelVariant("reference")->projectViews(job, 0, viewCount);
    return sinogram;
}

CallCase sinogramCase(std::string name, std::vector<Matrix> inputs, int outputCount = 1) {
    Matrix sinogram = referenceSinogram(inputs);
    return {std::move(name), std::move(inputs), outputCount, std::move(sinogram), {},
            "QuelmorProject"};
}

// The five inputs of a random image of side `imageSize`.
std::vector<Matrix> randomImageScene(int imageSize, int detectorCount,
                                     const std::vector<double>& cosines,
                                     const std::vector<double>& sines, double interpCode,
                                     std::mt19937_64& random) {
    std::uniform_real_distribution<double> pixel(-2, 2);
    Matrix image = square(static_cast<std::uint32_t>(imageSize), {});
    for (int i = 0; i < imageSize * imageSize; ++i) image.values.push_back(pixel(random));
    return {image, column(cosines), column(sines), scalar(detectorCount), scalar(interpCode)};
}

std::vector<double> evenAngles(int count, bool sine) {
    std::vector<double> values;
    for (int v = 0; v < count; ++v)
        values.push_back(sine ? std::sin(v * std::numbers::pi / count)
                              : std::cos(v * std::numbers::pi / count));
    return values;
}

// QuelmorProject's calls: the backprojection's worked examples transposed,
// boundaries, scenes, argument handling, every rejection and random calls.
void addProjectionCases(std::vector<CallCase>& cases) {
    std::mt19937_64 random(29);
    auto refused = [&](const std::string& name, std::vector<Matrix> inputs,
                       const std::string& message, int outputCount = 1) {
        cases.push_back({"project_" + name, std::move(inputs), outputCount, std::nullopt, message,
                         "QuelmorProject"});
    };
    // By hand: along x, column j of a 3 x 3 image goes to sample j + 1 of 5;
    // tilted, the pixels go where the backprojection read them from (30, 20,
    // 40, 30 in its worked example are samples 2, 1, 3, 2).
    const Matrix oneToNine = square(3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    for (int code : {0, 1}) {
        cases.push_back({"project_worked_1_code" + std::to_string(code),
                         {oneToNine, scalar(1), scalar(0), scalar(5), scalar(code)},
                         1,
                         Matrix{5, 1, {0, 6, 15, 24, 0}},
                         {},
                         "QuelmorProject"});
    }
    cases.push_back({"project_worked_3_nearest",
                     {square(2, {1, 2, 3, 4}), scalar(0.6), scalar(0.8), scalar(4), scalar(0)},
                     1,
                     Matrix{4, 1, {0, 2, 5, 3}},
                     {},
                     "QuelmorProject"});
    for (double c : {0.5, -0.5, -1.5, 0.49999999999999994, -0.49999999999999994, 1e-20, -1e-20}) {
        for (int code : {0, 1}) {
            cases.push_back(sinogramCase(
                "project_boundary_" + std::to_string(cases.size()),
                {square(2, {1, 10, 100, 1000}), scalar(c), scalar(0.0), scalar(7), scalar(code)}));
        }
    }
    for (int imageSize : {1, 2, 7, 16, 33}) {
        for (int code : {0, 1}) {
            const std::string suffix = std::to_string(imageSize) + "_" + std::to_string(code);
            cases.push_back(sinogramCase(
                "project_scene_" + suffix,
                randomImageScene(imageSize, quelmor::coveringDetectorCount(imageSize),
                                 evenAngles(24, false), evenAngles(24, true), code, random)));
            cases.push_back(
                sinogramCase("project_short_detector_" + suffix,
                             randomImageScene(imageSize, imageSize / 3 + 1, evenAngles(24, false),
                                              evenAngles(24, true), code, random)));
        }
    }

    const std::vector<Matrix> base =
        randomImageScene(5, 9, {1.0, 0.6, 0.0, -0.6}, {0.0, 0.8, 1.0, 0.8}, 1, random);
    auto with = [&](int position, Matrix replacement) {
        return replacing(base, position, std::move(replacement));
    };
    auto accepted = [&](const std::string& name, int position, Matrix replacement,
                        int outputCount = 1) {
        cases.push_back(
            sinogramCase("project_" + name, with(position, std::move(replacement)), outputCount));
    };
    accepted("detectors_3_99", 3, scalar(3.99));
    accepted("detectors_minus_0_9", 3, scalar(-0.9));
    accepted("detectors_multi_element", 3, Matrix{1, 3, {11, 100, -1}});
    accepted("code_1_9", 4, scalar(1.9));
    accepted("code_minus_0_9", 4, scalar(-0.9));
    accepted("code_2", 4, scalar(2));
    accepted("code_minus_1", 4, scalar(-1));
    accepted("cosines_2x2", 1, Matrix{2, 2, {1.0, 0.6, 0.0, -0.6}});
    accepted("extra_sines", 2, column({0.0, 0.8, 1.0, 0.8, notANumber, inf}));
    accepted("coefficients_off_every_detector", 1, column({1e300, -4e9, 0.0, 1e10}));
    accepted("empty_image", 0, Matrix{});
    accepted("no_outputs", 4, scalar(0), 0);
    cases.push_back(
        sinogramCase("project_no_views", {base[0], Matrix{}, Matrix{}, scalar(4), scalar(1)}));
    {
        std::vector<Matrix> inputs =
            randomImageScene(6, 11, evenAngles(12, false), evenAngles(12, true), 1, random);
        inputs[1] = Matrix{3, 4, evenAngles(12, false)};
        inputs[2] = Matrix{1, 12, evenAngles(12, true)};
        cases.push_back(sinogramCase("project_cosines_3x4_sines_row", inputs));
    }

    const std::string fiveInputs = "Five input arguments required.";
    refused("no_inputs", {}, fiveInputs);
    refused("four_inputs_two_outputs", {base.begin(), base.end() - 1}, fiveInputs, 2);
    std::vector<Matrix> six = base;
    six.push_back(scalar(1));
    refused("six_inputs", six, fiveInputs);
    refused("two_outputs", base, "Too many output arguments.", 2);
    refused("not_square", with(0, Matrix{2, 3, std::vector<double>(6, 1.0)}),
            "Input 1 (image) must be square.");
    refused("detectors_empty", with(3, Matrix{0, 1, {}}),
            "Input 4 (detectorCount) must not be empty.");
    refused("code_empty", with(4, Matrix{1, 0, {}}), "Input 5 (interpCode) must not be empty.");
    const std::string detectorRange =
        "Input 4 (detectorCount) must be finite and within the 32-bit integer range.";
    refused("detectors_nan", with(3, scalar(notANumber)), detectorRange);
    refused("detectors_2_31", with(3, scalar(2147483648.0)), detectorRange);
    refused("code_inf", with(4, scalar(inf)),
            "Input 5 (interpCode) must be finite and within the 32-bit integer range.");
    refused("detectors_negative", with(3, scalar(-1)),
            "Input 4 (detectorCount) must not be negative.");
    refused("sinogram_too_large", with(3, scalar(2147483647)),
            "Inputs 2 (cosines) and 4 (detectorCount) ask for a sinogram of more than "
            "2147483647 samples.");
    refused("too_few_sines", with(2, column({0.0, 0.8, 1.0})),
            "Input 3 (sines) needs an element for every element of input 2 (cosines).");
    refused("sine_nan", with(2, column({0.0, 0.8, notANumber, 0.8})),
            "Inputs 2 (cosines) and 3 (sines) must be finite.");

    // Random calls around the vector widths: random coefficients or angles,
    // short and fitting detectors, infinite and subnormal pixels.
    std::uniform_real_distribution<double> unit(-1, 1);
    auto uniform = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    for (int i = 0; i < 100; ++i) {
        const int imageSize = uniform(0, 3) == 0 ? uniform(1, 9) : uniform(10, 41);
        const int fitting = quelmor::coveringDetectorCount(imageSize);
        const int detectors = uniform(0, 4) == 0 ? uniform(1, fitting) : fitting + uniform(0, 3);
        std::vector<double> cosines, sines;
        for (int v = uniform(1, 24); v > 0; --v) {
            const bool angle = uniform(0, 2) > 0;
            const double theta = (unit(random) + 1) * std::numbers::pi;
            cosines.push_back(angle ? std::cos(theta) : unit(random) * 2.5);
            sines.push_back(angle ? std::sin(theta) : unit(random) * 2.5);
        }
        Matrix image = square(static_cast<std::uint32_t>(imageSize), {});
        for (int e = 0; e < imageSize * imageSize; ++e) {
            const int kind = uniform(0, 49);
            image.values.push_back(kind == 0 ? inf : kind == 1 ? 4e-320 : unit(random) * 10);
        }
        cases.push_back(sinogramCase(
            "project_random_" + std::to_string(i),
            {image, column(cosines), column(sines), scalar(detectors), scalar(uniform(0, 1))}));
    }
}

// The solver's image for a well-formed QuelmorSolve call, made as the
// Python package makes it: the core's coefficients and shifts, then solveStack.
Matrix solvedImage(const std::vector<Matrix>& inputs) {
    const auto size = static_cast<std::int32_t>(inputs[2].values[0]);
    const std::vector<double>& theta = inputs[1].values;
    const std::vector<double>& option = inputs[4].values;
    const auto views = static_cast<std::int32_t>(theta.size());
    const auto detectors = static_cast<std::int32_t>(inputs[0].rows);
    std::vector<double> cosines(views), sines(views), shifts;
    quelmor::viewCoefficients(theta.data(), views, option[2], cosines.data(), sines.data());
    if (!std::isnan(option[3]) || !std::isnan(option[4])) {
        shifts.resize(views);
        quelmor::viewShifts(theta.data(), views, detectors, size, option[2],
                            std::isnan(option[3]) ? detectors / 2 : option[3],
                            std::isnan(option[4]) ? (size - 1) / 2 : option[4], shifts.data());
    }
    quelmor::SolverOptions options;
    options.method = static_cast<int>(inputs[3].values[0]) == 0 ? quelmor::SolverMethod::sirt
                                                                : quelmor::SolverMethod::cgls;
    options.iterations = static_cast<std::int32_t>(option[0]);
    options.relaxation = option[5];
    options.nonnegative = option[6] == 1;
    options.tolerance = option[7];
    Matrix image = square(static_cast<std::uint32_t>(size),
                          std::vector<double>(static_cast<std::size_t>(size) * size));
    if (inputs.size() == 6 && !inputs[5].values.empty()) {
        image.values = inputs[5].values;
        options.startFromImage = true;
    }
    const quelmor::SolverGeometry geometry{detectors,
                                           views,
                                           size,
                                           static_cast<std::int32_t>(option[1]),
                                           cosines.data(),
                                           sines.data(),
                                           shifts.empty() ? nullptr : shifts.data()};
    const quelmor::SolverSlice slice{inputs[0].values.data(), image.values.data()};
    quelmor::solveStack(geometry, {&slice, 1}, options);
    return image;
}

// QuelmorSolve's calls: each method and option on a small scene, then
// every rejection.
void addSolverCases(std::vector<CallCase>& cases) {
    std::mt19937_64 random(30);
    std::uniform_real_distribution<double> unit(0, 1);
    const int views = 10, detectors = 13, size = 9;
    Matrix sinogram{detectors, views, {}};
    for (int i = 0; i < detectors * views; ++i) sinogram.values.push_back(unit(random) * 3);
    std::vector<double> angles;
    for (int v = 0; v < views; ++v) angles.push_back(v * std::numbers::pi / views);
    Matrix start = square(size, {});
    for (int i = 0; i < size * size; ++i) start.values.push_back(unit(random));
    const Matrix theta{1, views, angles};
    // iterations, interpCode, spacing, center, origin, relaxation, nonnegative, tolerance
    auto options = [](std::vector<double> values) { return Matrix{1, 8, std::move(values)}; };
    const Matrix sirt = options({20, 1, 1, notANumber, notANumber, 1, 0, 0});
    const Matrix cgls = options({8, 1, 1, notANumber, notANumber, 1, 0, 0});
    const std::vector<std::pair<std::string, std::vector<Matrix>>> accepted = {
        {"sirt", {sinogram, theta, scalar(size), scalar(0), sirt}},
        {"cgls", {sinogram, theta, scalar(size), scalar(1), cgls}},
        {"sirt_nearest_nonnegative_relaxed",
         {sinogram, theta, scalar(size), scalar(0),
          options({15, 0, 1, notANumber, notANumber, 1.5, 1, 0})}},
        {"cgls_center_origin_spacing",
         {sinogram, theta, scalar(size), scalar(1), options({6, 1, 0.8, 6.5, 4, 1, 0, 0})}},
        {"sirt_origin_only",
         {sinogram, theta, scalar(size), scalar(0), options({5, 1, 1, notANumber, 3.5, 1, 0, 0})}},
        {"cgls_from_x0", {sinogram, theta, scalar(size), scalar(1), cgls, start}},
        {"sirt_empty_x0", {sinogram, theta, scalar(size), scalar(0), sirt, Matrix{}}},
        {"cgls_tolerance_stops_early",
         {sinogram, theta, scalar(size), scalar(1),
          options({50, 1, 1, notANumber, notANumber, 1, 0, 0.5})}},
        {"sirt_no_iterations",
         {sinogram, theta, scalar(size), scalar(0),
          options({0, 1, 1, notANumber, notANumber, 1, 0, 0}), start}},
        {"sirt_theta_column",
         {sinogram, Matrix{views, 1, angles}, scalar(size + 0.7), scalar(0.2), sirt}},
    };
    for (const auto& [name, inputs] : accepted) {
        cases.push_back({"solve_" + name, inputs, 1, solvedImage(inputs), {}, "QuelmorSolve"});
    }
    cases.push_back({"solve_two_outputs",
                     accepted[1].second,
                     2,
                     solvedImage(accepted[1].second),
                     {},
                     "QuelmorSolve"});

    const std::vector<Matrix> base = accepted[0].second;
    auto refused = [&](const std::string& name, std::vector<Matrix> inputs,
                       const std::string& message, int outputCount = 1) {
        cases.push_back({"solve_" + name, std::move(inputs), outputCount, std::nullopt, message,
                         "QuelmorSolve"});
    };
    auto option = [&](int index, double value) {
        Matrix changed = sirt;
        changed.values[index] = value;
        return replacing(base, 4, changed);
    };
    refused("four_inputs", {base.begin(), base.end() - 1}, "Five or six input arguments required.");
    std::vector<Matrix> seven = accepted[5].second;
    seven.push_back(scalar(1));
    refused("seven_inputs", seven, "Five or six input arguments required.");
    refused("three_outputs", base, "Too many output arguments.", 3);
    refused("method_2", replacing(base, 3, scalar(2)),
            "Input 4 (method) must be 0 (SIRT) or 1 (CGLS).");
    refused("options_7", replacing(base, 4, Matrix{1, 7, {20, 1, 1, 0, 0, 1, 0}}),
            "Input 5 (options) must hold 8 values: iterations, interpCode, spacing, center, "
            "origin, relaxation, nonnegative, tolerance.");
    const std::string iterations =
        "Option 1 (iterations) must be a whole number from 0 to 2147483647.";
    refused("iterations_negative", option(0, -1), iterations);
    refused("iterations_fraction", option(0, 2.5), iterations);
    refused("interp_2", option(1, 2), "Option 2 (interpCode) must be 0 (nearest) or 1 (linear).");
    refused("spacing_0", option(2, 0), "Option 3 (spacing) must be positive and finite.");
    refused("center_inf", option(3, inf),
            "Options 4 (center) and 5 (origin) must be finite, or NaN for their defaults.");
    refused("relaxation_2", option(5, 2), "Option 6 (relaxation) must lie in (0, 2).");
    refused("nonnegative_half", option(6, 0.5), "Option 7 (nonnegative) must be 0 or 1.");
    refused("tolerance_nan", option(7, notANumber),
            "Option 8 (tolerance) must be finite and at least 0.");
    refused("cgls_relaxed", replacing(option(5, 1.5), 3, scalar(1)),
            "Options 6 (relaxation) and 7 (nonnegative) are SIRT's: CGLS takes 1 and 0.");
    refused("theta_short",
            replacing(base, 1, Matrix{1, views - 1, std::vector<double>(views - 1, 0.0)}),
            "Input 2 (theta) needs one angle for every column of input 1 (sinogram).");
    Matrix badAngle = theta;
    badAngle.values[3] = notANumber;
    refused("theta_nan", replacing(base, 1, badAngle), "Input 2 (theta) must be finite.");
    std::vector<Matrix> wrongStart = base;
    wrongStart.push_back(square(size - 1, std::vector<double>((size - 1) * (size - 1), 0.0)));
    refused("x0_wrong_size", wrongStart, "Input 6 (x0) must be N x N, or empty.");
    refused("size_negative", replacing(base, 2, scalar(-3)), "Input 3 (N) must not be negative.");
}

}  // namespace

Matrix filteredSinogram(const std::vector<Matrix>& inputs) {
    const Matrix& sinogram = inputs[0];
    const std::vector<double>& option = inputs[3].values;
    const auto size = static_cast<std::int32_t>(inputs[2].values[0]);
    const auto detectors = static_cast<std::int32_t>(sinogram.rows);
    const std::int64_t views = sinogram.columns;
    std::vector<double> shifts;
    if (!std::isnan(option[3]) || !std::isnan(option[4])) {
        shifts.resize(views);
        quelmor::viewShifts(inputs[1].values.data(), views, detectors, size, option[2],
                            std::isnan(option[3]) ? detectors / 2 : option[3],
                            std::isnan(option[4]) ? (size - 1) / 2 : option[4], shifts.data());
    } else if (inputs.size() == 5 && !inputs[4].values.empty()) {
        shifts = inputs[4].values;
    }
    Matrix filtered{sinogram.rows, sinogram.columns, std::vector<double>(sinogram.values.size())};
    quelmor::FilterJob job{sinogram.values.data(), filtered.values.data(), detectors, views};
    job.window = static_cast<quelmor::FilterWindow>(static_cast<int>(option[0]));
    job.cutoff = option[1];
    job.spacing = option[2];
    job.shifts = shifts.empty() ? nullptr : shifts.data();
    quelmor::filterViews(job, 1);
    return filtered;
}

namespace {

// QuelmorFilter's calls: each window, cutoff, spacing and shift on a small
// sinogram, then every rejection.
void addFilterCases(std::vector<CallCase>& cases) {
    std::mt19937_64 random(31);
    std::uniform_real_distribution<double> unit(-1, 1);
    const int views = 9, detectors = 17, size = 12;
    Matrix sinogram{detectors, views, {}};
    for (int i = 0; i < detectors * views; ++i) sinogram.values.push_back(unit(random) * 3);
    std::vector<double> angles, shifts;
    for (int v = 0; v < views; ++v) {
        angles.push_back(v * std::numbers::pi / views);
        shifts.push_back(unit(random) * 4);
    }
    const Matrix theta{1, views, angles}, none{};
    // filter, cutoff, spacing, center, origin
    auto options = [](std::vector<double> values) { return Matrix{1, 5, std::move(values)}; };
    const Matrix ramp = options({0, 1, 1, notANumber, notANumber});
    const std::vector<std::pair<std::string, std::vector<Matrix>>> accepted = {
        {"ramp", {sinogram, theta, scalar(size), ramp}},
        {"ramp_no_theta", {sinogram, none, scalar(0), ramp}},
        {"shepp_logan_cutoff",
         {sinogram, theta, scalar(size), options({1, 0.6, 1, notANumber, notANumber})}},
        {"cosine_spacing",
         {sinogram, none, scalar(size), options({2, 1, 0.7, notANumber, notANumber})}},
        {"hamming_center", {sinogram, theta, scalar(size), options({3, 0.9, 1, 9.25, notANumber})}},
        {"hann_origin_spacing",
         {sinogram, theta, scalar(size + 0.6), options({4, 1, 1.3, notANumber, 4.5})}},
        {"given_shifts",
         {sinogram, none, scalar(0), options({0, 0.8, 1, notANumber, notANumber}), column(shifts)}},
        {"empty_shifts", {sinogram, theta, scalar(size), ramp, none}},
        {"one_view",
         {Matrix{detectors, 1, {sinogram.values.begin(), sinogram.values.begin() + detectors}},
          scalar(0.3), scalar(size), options({0, 1, 1, 8.5, notANumber})}},
        {"empty_sinogram", {Matrix{0, 0, {}}, none, scalar(size), ramp}},
    };
    for (const auto& [name, inputs] : accepted) {
        cases.push_back(
            {"filter_" + name, inputs, 1, filteredSinogram(inputs), {}, "QuelmorFilter"});
    }
    cases.push_back({"filter_three_outputs",
                     accepted[5].second,
                     3,
                     filteredSinogram(accepted[5].second),
                     {},
                     "QuelmorFilter"});

    const std::vector<Matrix> base = accepted[0].second;
    auto refused = [&](const std::string& name, std::vector<Matrix> inputs,
                       const std::string& message, int outputCount = 1) {
        cases.push_back({"filter_" + name, std::move(inputs), outputCount, std::nullopt, message,
                         "QuelmorFilter"});
    };
    auto option = [&](int index, double value) {
        Matrix changed = ramp;
        changed.values[index] = value;
        return replacing(base, 3, changed);
    };
    refused("three_inputs", {base.begin(), base.end() - 1},
            "Four or five input arguments required.");
    std::vector<Matrix> six = accepted[6].second;
    six.push_back(scalar(1));
    refused("six_inputs", six, "Four or five input arguments required.");
    refused("four_outputs", base, "Too many output arguments.", 4);
    refused("options_4", replacing(base, 3, Matrix{1, 4, {0, 1, 1, 0}}),
            "Input 4 (options) must hold 5 values: filter, cutoff, spacing, center, origin.");
    const std::string filterChoice =
        "Option 1 (filter) must be 0 (ramp), 1 (shepp-logan), 2 (cosine), 3 (hamming) or 4 (hann).";
    refused("filter_5", option(0, 5), filterChoice);
    refused("filter_fraction", option(0, 1.5), filterChoice);
    refused("filter_nan", option(0, notANumber), filterChoice);
    const std::string cutoff =
        "Option 2 (cutoff) must be a fraction of the Nyquist frequency in (0, 1].";
    refused("cutoff_0", option(1, 0), cutoff);
    refused("cutoff_above_1", option(1, 1.01), cutoff);
    refused("spacing_negative", option(2, -1), "Option 3 (spacing) must be positive and finite.");
    refused("origin_inf", option(4, -inf),
            "Options 4 (center) and 5 (origin) must be finite, or NaN for their defaults.");
    refused("size_negative", replacing(base, 2, scalar(-1)), "Input 3 (N) must not be negative.");
    refused("size_empty", replacing(base, 2, Matrix{}), "Input 3 (N) must not be empty.");
    refused("center_without_theta", replacing(option(3, 8), 1, none),
            "Input 2 (theta) needs one angle for every column of input 1 (sinogram).");
    refused("coefficients_without_theta", accepted[1].second,
            "Input 2 (theta) needs one angle for every column of input 1 (sinogram).", 2);
    Matrix badAngle = theta;
    badAngle.values[2] = inf;
    refused("theta_inf", replacing(base, 1, badAngle), "Input 2 (theta) must be finite.");
    std::vector<Matrix> centeredShifts = option(3, 8);
    centeredShifts.push_back(column(shifts));
    refused("shifts_and_center", centeredShifts,
            "Give input 5 (shifts) or options 4 (center) and 5 (origin), not both.");
    std::vector<Matrix> shortShifts = base;
    shortShifts.push_back(column({1, 2}));
    refused("shifts_short", shortShifts,
            "Input 5 (shifts) needs one shift for every column of input 1 (sinogram).");
    std::vector<Matrix> hugeShift = base;
    hugeShift.push_back(column(shifts));
    hugeShift.back().values[4] = 1048577;
    refused("shift_beyond_2_20", hugeShift,
            "Input 5 (shifts) must be finite and at most 2^20 samples.");
    refused("far_center", option(3, 3e6),
            "The shifts that center and origin give exceed 2^20 samples.");
}

// Seeded random calls of every size class around the vector widths: random
// angles or coefficients, short and fitting detectors, infinite samples (no
// NaN inputs, so every NaN pixel is the processor's one default NaN and the
// builds agree on its bytes too).
void addRandomCalls(std::vector<CallCase>& cases, int count) {
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
            projections.values.push_back(kind == 0   ? inf
                                         : kind == 1 ? -inf
                                         : kind == 2 ? 4e-320
                                                     : unit(random) * 10);
        }
        const double code = uniform(0, 1);
        cases.push_back(imageCase(
            "random_" + std::to_string(i),
            {projections, column(cosines), column(sines), scalar(imageSize), scalar(code)}));
    }
}

}  // namespace

std::vector<CallCase> callCases() {
    std::vector<CallCase> cases;
    std::mt19937_64 random(42);

    // Worked by hand: one view along x, one along y, one tilted.
    const Matrix oneToFive = column({1, 2, 3, 4, 5});
    for (int code : {0, 1}) {
        const std::string suffix = "_code" + std::to_string(code);
        cases.push_back({"worked_1" + suffix,
                         {oneToFive, scalar(1), scalar(0), scalar(3), scalar(code)},
                         1,
                         square(3, {2, 2, 2, 3, 3, 3, 4, 4, 4}),
                         {}});
        cases.push_back({"worked_2" + suffix,
                         {oneToFive, scalar(0), scalar(1), scalar(3), scalar(code)},
                         1,
                         square(3, {4, 3, 2, 4, 3, 2, 4, 3, 2}),
                         {}});
    }
    const Matrix tens = column({10, 20, 30, 40});
    cases.push_back({"worked_3_nearest",
                     {tens, scalar(0.6), scalar(0.8), scalar(2), scalar(0)},
                     1,
                     square(2, {30, 20, 40, 30}),
                     {}});
    cases.push_back({"worked_3_linear",
                     {tens, scalar(0.6), scalar(0.8), scalar(2), scalar(1)},
                     1,
                     square(2, {30, 22, 36, 28}),
                     {}});

    // Coordinates on rounding boundaries: ties, the double below one half,
    // whole numbers, and long columns whose stepped coordinate drifts.
    const std::vector<double> counting = ramp(41, 100, 1);
    for (double c : {0.5, -0.5, -1.5, 0.49999999999999994, -0.49999999999999994, 1e-20, -1e-20}) {
        for (int code : {0, 1}) {
            cases.push_back(
                imageCase("boundary_" + std::to_string(cases.size()),
                          {column(counting), scalar(c), scalar(0.0), scalar(2), scalar(code)}));
        }
    }
    for (double s : {0.1, 0.7, 1.0 / 3.0, 0.49999999999999994}) {
        for (int code : {0, 1}) {
            cases.push_back(imageCase(
                "stepped_" + std::to_string(cases.size()),
                randomScene(257, 2 * 257 + 3, {0.3, 0.0, -0.5}, {s, s, -s}, code, random)));
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
            const std::string suffix = std::to_string(imageSize) + "_" + std::to_string(code);
            cases.push_back(imageCase(
                "scene_" + suffix, randomScene(imageSize, quelmor::coveringDetectorCount(imageSize),
                                               cosines, sines, code, random)));
            cases.push_back(
                imageCase("short_detector_" + suffix,
                          randomScene(imageSize, imageSize / 3 + 1, cosines, sines, code, random)));
        }
    }

    // Argument handling, on a small scene with one input replaced.
    const std::vector<Matrix> base =
        randomScene(5, 9, {1.0, 0.6, 0.0, -0.6}, {0.0, 0.8, 1.0, 0.8}, 1, random);
    auto with = [&](int position, Matrix replacement) {
        return replacing(base, position, std::move(replacement));
    };
    auto accepted = [&](const std::string& name, int position, Matrix replacement,
                        int outputCount = 1) {
        cases.push_back(imageCase(name, with(position, std::move(replacement)), outputCount));
    };
    auto refused = [&](const std::string& name, std::vector<Matrix> inputs,
                       const std::string& message, int outputCount = 1) {
        cases.push_back({name, std::move(inputs), outputCount, std::nullopt, message});
    };
    // Scalars are truncated toward zero, and only their first element is read.
    accepted("side_half", 3, scalar(0.5));
    accepted("side_minus_0_9", 3, scalar(-0.9));
    accepted("side_3_99", 3, scalar(3.99));
    accepted("side_multi_element", 3, Matrix{1, 3, {6, 100, -1}});
    accepted("code_1_9", 4, scalar(1.9));
    accepted("code_minus_0_9", 4, scalar(-0.9));
    accepted("code_multi_element", 4, Matrix{2, 1, {0, 7}});
    // Any other code makes no view contribute, up to the 32-bit range's ends.
    accepted("code_2", 4, scalar(2));
    accepted("code_just_below_2_31", 4, scalar(2147483647.9));
    accepted("code_just_above_minus_2_31_minus_1", 4, scalar(-2147483648.9));
    // Views are every element of the cosines, in column-major order.
    accepted("cosines_2x2", 1, Matrix{2, 2, {1.0, 0.6, 0.0, -0.6}});
    {
        std::vector<double> cosines(12), sines(12);
        for (int v = 0; v < 12; ++v) {
            cosines[v] = std::cos(v * std::numbers::pi / 12);
            sines[v] = std::sin(v * std::numbers::pi / 12);
        }
        std::vector<Matrix> inputs = randomScene(6, 11, cosines, sines, 1, random);
        inputs[1] = Matrix{3, 4, cosines};
        inputs[2] = Matrix{1, 12, sines};
        cases.push_back(imageCase("cosines_3x4_sines_row", inputs));
    }
    // Columns and sines beyond the cosines' count are not read.
    Matrix extraColumns = base[0];
    extraColumns.columns += 2;
    extraColumns.values.resize(extraColumns.values.size() + 18, inf);
    accepted("extra_columns", 0, extraColumns);
    accepted("extra_sines", 2, column({0.0, 0.8, 1.0, 0.8, notANumber, inf}));
    accepted("coefficients_off_every_detector", 1, column({1e300, -4e9, 0.0, 1e10}));
    accepted("no_outputs", 4, scalar(1), 0);
    cases.push_back({"no_views",
                     {Matrix{}, Matrix{}, Matrix{}, scalar(4), scalar(1)},
                     1,
                     square(4, std::vector<double>(16, 0.0)),
                     {}});

    // Counts are checked first, inputs before outputs.
    const std::string fiveInputs = "Five input arguments required.";
    refused("no_inputs", {}, fiveInputs);
    refused("four_inputs", {base.begin(), base.end() - 1}, fiveInputs);
    refused("four_inputs_two_outputs", {base.begin(), base.end() - 1}, fiveInputs, 2);
    std::vector<Matrix> six = base;
    six.push_back(scalar(1));
    refused("six_inputs", six, fiveInputs);
    refused("two_outputs", base, "Too many output arguments.", 2);
    // Then the scalars, the side, the arrays' sizes and the coefficients.
    refused("side_empty", with(3, Matrix{0, 1, {}}), "Input 4 (imageSize) must not be empty.");
    refused("code_empty", with(4, Matrix{1, 0, {}}), "Input 5 (interpCode) must not be empty.");
    const std::string sideRange =
        "Input 4 (imageSize) must be finite and within the 32-bit integer range.";
    const std::string codeRange =
        "Input 5 (interpCode) must be finite and within the 32-bit integer range.";
    refused("side_nan", with(3, scalar(notANumber)), sideRange);
    refused("side_inf", with(3, scalar(inf)), sideRange);
    refused("side_2_31", with(3, scalar(2147483648.0)), sideRange);
    refused("code_minus_inf", with(4, scalar(-inf)), codeRange);
    refused("code_1e10", with(4, scalar(1e10)), codeRange);
    refused("code_minus_2_31_minus_1", with(4, scalar(-2147483649.0)), codeRange);
    for (double negative : {-1.0, -2147483648.0}) {
        refused("side_negative_" + std::to_string(static_cast<long long>(-negative)),
                with(3, scalar(negative)), "Input 4 (imageSize) must not be negative.");
    }
    refused("side_46341", with(3, scalar(46341)),
            "Input 4 (imageSize) is too large: the image may hold at most 2147483647 pixels.");
    refused("too_few_columns", with(0, Matrix{9, 3, std::vector<double>(27, 1.0)}),
            "Input 1 (projections) needs a column for every element of input 2 (cosines).");
    refused("too_few_sines", with(2, column({0.0, 0.8, 1.0})),
            "Input 3 (sines) needs an element for every element of input 2 (cosines).");
    const std::string finite = "Inputs 2 (cosines) and 3 (sines) must be finite.";
    refused("cosine_nan", with(1, column({1.0, 0.6, notANumber, -0.6})), finite);
    refused("cosine_inf", with(1, column({1.0, inf, 0.0, -0.6})), finite);
    refused("sine_minus_inf", with(2, column({0.0, 0.8, 1.0, -inf})), finite);

    addRandomCalls(cases, 300);
    addProjectionCases(cases);
    addSolverCases(cases);
    addFilterCases(cases);
    return cases;
}
