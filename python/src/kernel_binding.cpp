// The Python package's compiled part: hands checked float64 stacks to the
// core's threaded stack entry, with the GIL released while it runs. The
// package's Python layer converts and checks what users pass; this layer
// checks again what it relies on, so a direct call cannot make the kernel
// read or write outside the arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "quelmor/check_job.h"
#include "quelmor/filter.h"
#include "quelmor/geometry_guide.h"
#include "quelmor/kernel_variants.h"
#include "quelmor/parallel.h"
#include "quelmor/project_views.h"
#include "quelmor/solvers.h"
#include "quelmor/view_angles.h"
#include "result_memory.h"

namespace py = pybind11;

namespace {

using Doubles = py::array_t<double, py::array::c_style>;

void require(bool condition, const std::string& message) {
    if (!condition) throw py::value_error(message);
}

// Raises the first problem with a backprojection, worded for the package's users.
void requireValidJob(std::int64_t detectorCount, std::int64_t columns, Doubles cosines,
                     Doubles sines, std::int64_t imageSize) {
    require(cosines.ndim() == 1 && sines.ndim() == 1, "cosines and sines need 1 dimension");
    const std::int64_t views = cosines.shape(0), sineCount = sines.shape(0);
    using quelmor::JobProblem;
    using Count = std::uint64_t;  // numpy's dimensions are never negative
    switch (quelmor::checkJob({imageSize, Count(detectorCount), Count(views), Count(columns),
                               Count(sineCount), cosines.data(), sines.data()})) {
        case JobProblem::none: return;
        case JobProblem::negativeImageSize:
            throw py::value_error("size must be at least 0, not " + std::to_string(imageSize));
        case JobProblem::imageTooLarge:
            throw py::value_error(
                "size is too large: the image may hold at most 2147483647 pixels");
        case JobProblem::tooManyDetectorSamples:
        case JobProblem::tooManyViews:
        case JobProblem::tooManySamples:
            throw py::value_error(
                "sinogram is too large: at most 2147483647 samples can be used per slice");
        case JobProblem::tooFewProjectionColumns:
            throw py::value_error(
                "sinogram needs a column for every cosine: " + std::to_string(columns) +
                " columns, " + std::to_string(views) + " cosines");
        case JobProblem::tooFewSines:
            throw py::value_error(
                "sines needs an element for every cosine: " + std::to_string(sineCount) +
                " sines, " + std::to_string(views) + " cosines");
        case JobProblem::nonFiniteCoefficients:
            throw py::value_error("cosines and sines must be finite");
    }
}

// A C-ordered float64 array of `shape` in memory the package reuses (see
// result_memory.h), zeroed or as the last array there left it.
Doubles resultArray(const std::vector<py::ssize_t>& shape, bool zeroed) {
    std::size_t elements = 1;
    for (const py::ssize_t extent : shape) {
        require(extent >= 0, "array dimensions must be at least 0");
        if (extent != 0 && elements > std::numeric_limits<std::size_t>::max() / sizeof(double) /
                                          static_cast<std::size_t>(extent))
            throw std::bad_alloc();
        elements *= static_cast<std::size_t>(extent);
    }
    auto* block =
        new quelmor::LargeMemory(quelmor::python::resultMemory().take(elements * sizeof(double)));
    const py::capsule owner(block, [](void* released) {
        auto* given = static_cast<quelmor::LargeMemory*>(released);
        quelmor::python::resultMemory().giveBack(*given);
        delete given;
    });
    if (zeroed) std::memset(block->data, 0, elements * sizeof(double));
    return Doubles(shape, static_cast<double*>(block->data), owner);
}

// stack: (slices, columns, detector samples), each slice one column-major
// sinogram; images: (slices, side, side) earlier sums, or anything with
// zeroFirst, each slice a column-major image. Views beyond the coefficients'
// count are not read.
void backprojectStack(Doubles stack, Doubles cosines, Doubles sines, std::int64_t imageSize,
                      std::int32_t interpCode, unsigned threadCount, Doubles images,
                      bool zeroFirst) {
    require(stack.ndim() == 3 && images.ndim() == 3, "stack and images need 3 dimensions");
    const std::int64_t slices = stack.shape(0), detectorCount = stack.shape(2);
    requireValidJob(detectorCount, stack.shape(1), cosines, sines, imageSize);
    const std::int64_t viewCount = cosines.shape(0);
    require(
        images.shape(0) == slices && images.shape(1) == imageSize && images.shape(2) == imageSize,
        "images must have shape (slices, size, size)");
    require(images.writeable(), "images must be writeable");

    std::vector<quelmor::BackprojectionJob> jobs;
    for (std::int64_t s = 0; s < slices; ++s) {
        jobs.push_back({images.mutable_data(s), stack.data(s),
                        static_cast<std::int32_t>(detectorCount), cosines.data(), sines.data(),
                        static_cast<std::int32_t>(viewCount), static_cast<std::int32_t>(imageSize),
                        interpCode});
    }
    py::gil_scoped_release unlocked;
    quelmor::accumulateStackParallel(
        jobs, threadCount, nullptr,
        zeroFirst ? quelmor::ImageStart::zeroed : quelmor::ImageStart::asGiven);
}

// images: (slices, side, side), each slice a column-major image; sinograms:
// (slices, views, detector samples), each slice a column-major sinogram that
// the views' sums are added into.
void projectStack(Doubles images, Doubles cosines, Doubles sines, std::int64_t detectorCount,
                  std::int32_t interpCode, unsigned threadCount, Doubles sinograms) {
    require(images.ndim() == 3 && sinograms.ndim() == 3, "images and sinograms need 3 dimensions");
    require(images.shape(1) == images.shape(2), "images must be square");
    require(detectorCount >= 0,
            "detector_count must be at least 0, not " + std::to_string(detectorCount));
    const std::int64_t slices = images.shape(0), imageSize = images.shape(1);
    const std::int64_t viewCount = cosines.ndim() == 1 ? cosines.shape(0) : 0;
    requireValidJob(detectorCount, viewCount, cosines, sines, imageSize);
    require(sinograms.shape(0) == slices && sinograms.shape(1) == viewCount &&
                sinograms.shape(2) == detectorCount,
            "sinograms must have shape (slices, views, detector_count)");
    require(sinograms.writeable(), "sinograms must be writeable");

    std::vector<quelmor::ProjectionJob> jobs;
    for (std::int64_t s = 0; s < slices; ++s) {
        jobs.push_back({sinograms.mutable_data(s), images.data(s),
                        static_cast<std::int32_t>(detectorCount), cosines.data(), sines.data(),
                        static_cast<std::int32_t>(viewCount), static_cast<std::int32_t>(imageSize),
                        interpCode});
    }
    py::gil_scoped_release unlocked;
    quelmor::projectStackParallel(jobs, threadCount);
}

// views: (count, detector samples), each row one view; filtered: the same
// shape, written in place (it may be views itself).
void filterViews(Doubles views, Doubles filtered, const std::string& window, double cutoff,
                 double spacing, unsigned threadCount, std::optional<Doubles> shifts) {
    require(views.ndim() == 2 && filtered.ndim() == 2 && views.shape(0) == filtered.shape(0) &&
                views.shape(1) == filtered.shape(1),
            "views and filtered need the same 2 dimensions");
    require(views.shape(1) <= std::numeric_limits<std::int32_t>::max(),
            "at most 2147483647 detector samples per view");
    require(filtered.writeable(), "filtered must be writeable");
    require(!shifts || (shifts->ndim() == 1 && shifts->shape(0) == views.shape(0)),
            "shifts needs one element for every view");
    const auto named = quelmor::filterWindowNamed(window);
    require(named.has_value(), "unknown filter " + window);
    const quelmor::FilterJob job{views.data(),
                                 filtered.mutable_data(),
                                 static_cast<std::int32_t>(views.shape(1)),
                                 views.shape(0),
                                 *named,
                                 cutoff,
                                 spacing,
                                 shifts ? shifts->data() : nullptr};
    py::gil_scoped_release unlocked;
    quelmor::filterViews(job, threadCount);
}

// (cosines, sines) of theta over spacing, from the core's one angle function.
py::tuple viewCoefficients(Doubles theta, double spacing) {
    require(theta.ndim() == 1, "theta needs 1 dimension");
    Doubles cosines(theta.shape(0)), sines(theta.shape(0));
    quelmor::viewCoefficients(theta.data(), theta.shape(0), spacing, cosines.mutable_data(),
                              sines.mutable_data());
    return py::make_tuple(cosines, sines);
}

Doubles viewShifts(Doubles theta, std::int32_t detectorCount, std::int32_t imageSize,
                   double spacing, double center, double origin) {
    require(theta.ndim() == 1, "theta needs 1 dimension");
    Doubles shifts(theta.shape(0));
    quelmor::viewShifts(theta.data(), theta.shape(0), detectorCount, imageSize, spacing, center,
                        origin, shifts.mutable_data());
    return shifts;
}

// stack: (slices, views, detector samples), each slice a column-major
// sinogram; images: (slices, side, side) column-major, the start when
// start_from_image and the result. callback(iteration, norms), norms one per
// slice (NaN for a slice stopped earlier), is called with the GIL held; an exception it raises
// stops the solve and is raised again. Returns each slice's (iterations, residual norm).
py::list solveStack(const std::string& method, Doubles stack, Doubles cosines, Doubles sines,
                    std::optional<Doubles> shifts, std::int64_t imageSize, std::int32_t interpCode,
                    std::int32_t iterations, double tolerance, double relaxation, bool nonnegative,
                    bool startFromImage, unsigned threadCount, Doubles images,
                    std::optional<py::function> callback) {
    require(method == "sirt" || method == "cgls", "method must be 'sirt' or 'cgls'");
    require(stack.ndim() == 3 && images.ndim() == 3, "stack and images need 3 dimensions");
    const std::int64_t slices = stack.shape(0), detectorCount = stack.shape(2);
    requireValidJob(detectorCount, stack.shape(1), cosines, sines, imageSize);
    const std::int64_t viewCount = cosines.shape(0);
    require(stack.shape(1) == viewCount, "stack needs one row per view");
    require(
        images.shape(0) == slices && images.shape(1) == imageSize && images.shape(2) == imageSize,
        "images must have shape (slices, size, size)");
    require(images.writeable(), "images must be writeable");
    require(!shifts || (shifts->ndim() == 1 && shifts->shape(0) == viewCount),
            "shifts needs one element for every view");
    require(interpCode == quelmor::InterpNearest || interpCode == quelmor::InterpLinear,
            "unknown interpolation code");

    const quelmor::SolverGeometry geometry{static_cast<std::int32_t>(detectorCount),
                                           static_cast<std::int32_t>(viewCount),
                                           static_cast<std::int32_t>(imageSize),
                                           interpCode,
                                           cosines.data(),
                                           sines.data(),
                                           shifts ? shifts->data() : nullptr};
    quelmor::SolverOptions options;
    options.method = method == "sirt" ? quelmor::SolverMethod::sirt : quelmor::SolverMethod::cgls;
    options.iterations = iterations;
    options.tolerance = tolerance;
    options.relaxation = relaxation;
    options.nonnegative = nonnegative;
    options.startFromImage = startFromImage;
    options.threadCount = threadCount;
    if (const char* problem = quelmor::solverOptionsProblem(options))
        throw py::value_error(problem);

    std::vector<quelmor::SolverSlice> jobs;
    for (std::int64_t s = 0; s < slices; ++s)
        jobs.push_back({stack.data(s), images.mutable_data(s)});
    std::vector<quelmor::SolverOutcome> outcomes(jobs.size());
    // A Python exception cannot cross the core's frames safely without the
    // GIL: it is left set on this thread, the solve stops, and it is raised
    // once back.
    bool raised = false;
    quelmor::SolverReport report;
    if (callback) {
        report = [&](std::int32_t iteration, std::span<const double> norms) {
            py::gil_scoped_acquire locked;
            try {
                const py::array_t<double> copied(static_cast<py::ssize_t>(norms.size()),
                                                 norms.data());
                return py::bool_((*callback)(iteration, copied)).cast<bool>();
            } catch (py::error_already_set& error) {
                error.restore();
                raised = true;
                return true;
            }
        };
    }
    {
        py::gil_scoped_release unlocked;
        quelmor::solveStack(geometry, jobs, options, report, outcomes);
    }
    if (raised) throw py::error_already_set();
    py::list result;
    for (const auto& outcome : outcomes)
        result.append(py::make_tuple(outcome.iterations, outcome.residualNorm));
    return result;
}

}  // namespace

PYBIND11_MODULE(_kernel, module) {
    module.doc() = "Quelmor's compiled kernel entry; use the functions of the quelmor package.";
    module.def("backproject_stack", &backprojectStack, py::arg("stack"), py::arg("cosines"),
               py::arg("sines"), py::arg("image_size"), py::arg("interp_code"), py::arg("threads"),
               py::arg("images").noconvert(), py::arg("zero_first") = false);
    module.def("project_stack", &projectStack, py::arg("images"), py::arg("cosines"),
               py::arg("sines"), py::arg("detector_count"), py::arg("interp_code"),
               py::arg("threads"), py::arg("sinograms").noconvert());
    module.def("result_array", &resultArray, py::arg("shape"), py::arg("zeroed") = false,
               "A float64 array in memory the package reuses for its results.");
    module.def(
        "result_memory_kept",
        [] {
            const auto& memory = quelmor::python::resultMemory();
            return py::make_tuple(memory.keptBlocks(), memory.keptBytes());
        },
        "(blocks, bytes) of result memory kept for reuse.");
    module.def(
        "check_job", &requireValidJob, py::arg("detector_count"), py::arg("columns"),
        py::arg("cosines"), py::arg("sines"), py::arg("image_size"),
        "Raises ValueError for the first problem with a backprojection's sizes or coefficients.");
    module.def("solve_stack", &solveStack, py::arg("method"), py::arg("stack"), py::arg("cosines"),
               py::arg("sines"), py::arg("shifts"), py::arg("image_size"), py::arg("interp_code"),
               py::arg("iterations"), py::arg("tolerance"), py::arg("relaxation"),
               py::arg("nonnegative"), py::arg("start_from_image"), py::arg("threads"),
               py::arg("images").noconvert(), py::arg("callback") = py::none());
    module.def("view_coefficients", &viewCoefficients, py::arg("theta"), py::arg("spacing"),
               "(cos(theta) / spacing, sin(theta) / spacing), the same bits on every platform.");
    module.def("view_shifts", &viewShifts, py::arg("theta"), py::arg("detector_count"),
               py::arg("image_size"), py::arg("spacing"), py::arg("center"), py::arg("origin"),
               "Each view's data offset in samples for fbp's center and origin.");
    module.def("filter_views", &filterViews, py::arg("views"), py::arg("filtered").noconvert(),
               py::arg("window"), py::arg("cutoff"), py::arg("spacing"), py::arg("threads"),
               py::arg("shifts") = py::none());
    module.def(
        "filter_length",
        [](std::int32_t detectorCount) { return quelmor::filterLength(detectorCount); },
        py::arg("detector_count"), "The filter's transform length for views of that many samples.");
    module.def(
        "filter_names",
        [] {
            std::vector<std::string> names;
            for (std::string_view name : quelmor::filterWindowNames()) names.emplace_back(name);
            return names;
        },
        "The projection filters' names.");
    module.def(
        "kernel_variant", [] { return std::string(quelmor::bestKernelVariant().name); },
        "The kernel variant this processor runs.");
    module.def("processor_name", &quelmor::processorName, "The processor's model name.");
    module.def("covering_detector_count", &quelmor::coveringDetectorCount, py::arg("size"),
               py::arg("pixel_size") = 1.0,
               "Detector samples that cover a side-`size` image's diagonal at every angle, for\n"
               "pixels `pixel_size` detector spacings wide, with a few samples to spare.");
}
