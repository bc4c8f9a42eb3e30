// Iterative reconstruction over the projection A (projectViews) and its
// exact transpose B (accumulateViews): SIRT and CGLS, for a stack of slices
// that share one geometry. Every sum runs in one defined order
// (core/README.md, "The solvers"), so the images do not depend on the thread
// count, the kernel variant or the platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace quelmor {

// The geometry every slice shares, as the kernels take it, and optionally
// each view's data offset (viewShifts from view_angles.h): view v's sample b
// is then read at b + viewShifts[v] of the given sinogram, interpolated
// linearly (exactly for whole shifts), 0 off the detector.
struct SolverGeometry {
    std::int32_t detectorCount;
    std::int32_t viewCount;
    std::int32_t imageSize;
    std::int32_t interpCode;
    const double* cosines;
    const double* sines;
    const double* viewShifts = nullptr;  // viewCount samples, or nullptr for none
};

struct SolverSlice {
    const double* sinogram;  // detectorCount x viewCount, column-major
    double* image;           // imageSize x imageSize, column-major: the start, then the result
};

enum class SolverMethod { sirt, cgls };

struct SolverOptions {
    SolverMethod method = SolverMethod::sirt;
    std::int32_t iterations = 100;  // at least 0
    // Stop a slice once ||y - A x|| <= tolerance ||y||; 0 runs every iteration.
    double tolerance = 0.0;
    double relaxation = 1.0;      // SIRT only, in (0, 2)
    bool nonnegative = false;     // SIRT only: x <- max(x, 0) after each step
    bool startFromImage = false;  // otherwise each image starts as zeros
    unsigned threadCount = 0;     // 0: one per hardware thread
};

// Called on the caller's thread after every iteration with each slice's
// residual norm ||y - A x|| (NaN for a slice that stopped earlier); true
// stops every slice. An exception it throws leaves solveStack through it.
using SolverReport = std::function<bool(std::int32_t iteration, std::span<const double> norms)>;

struct SolverOutcome {
    std::int32_t iterations;  // updates made
    double residualNorm;      // ||y - A x|| after them (CGLS: its recursive residual)
};

// Solves every slice, the slices in lockstep so each projection and
// backprojection runs the whole stack through the threaded stack entries.
// Each slice's image is bit for bit the one it gets when solved alone, with
// any thread count. Allocates per slice two images and sinograms at most
// (plus the shifted sinogram with viewShifts). Throws std::invalid_argument
// for options out of range (solverOptionsProblem) or a geometry checkJob
// refuses; `outcomes` may be empty, or holds one per slice.
void solveStack(const SolverGeometry& geometry, std::span<const SolverSlice> slices,
                const SolverOptions& options, const SolverReport& report = {},
                std::span<SolverOutcome> outcomes = {});

// What is wrong with `options`, or nullptr.
const char* solverOptionsProblem(const SolverOptions& options);

// The reductions' defined order: a vector is cut into blocks of
// reductionBlock elements, each block summed left to right from 0.0, and the
// block sums added pairwise (pairwiseTotal), so any split of the blocks
// between threads gives the same bits.
inline constexpr std::size_t reductionBlock = 1024;

// sums[i] = the left-to-right sum of a[k] * b[k] over block firstBlock + i,
// for the blocks [firstBlock, endBlock) of an n-element vector.
void dotBlockSums(const double* a, const double* b, std::size_t n, std::size_t firstBlock,
                  std::size_t endBlock, double* sums);
// Adds neighbours (0 + 1, 2 + 3, ...) level by level, an odd last one
// carried up as it is, until one sum remains; 0 for none. Overwrites sums.
double pairwiseTotal(std::span<double> sums);
// The dot product in that order.
double orderedDot(const double* a, const double* b, std::size_t n);

}  // namespace quelmor
