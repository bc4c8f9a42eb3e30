// Kernel variants behind accumulateViews and projectViews, for tests,
// benchmarks and the threaded entries. Every variant gives the reference's
// image and sinogram bit for bit.
// The variants and their required processor features are listed once, in
// core/CMakeLists.txt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "quelmor/accumulate_views.h"
#include "quelmor/project_views.h"

namespace quelmor {

namespace detail {
struct KernelSet;
}

// Processor features a variant may need.
enum CpuFeature : unsigned {
    CpuSse41 = 1u << 0,
    CpuAvx2 = 1u << 1,
    CpuAvx512f = 1u << 2,
    CpuFma = 1u << 3,
};
// Where the processor reports a feature: cpuid's `leaf` (subleaf 0) sets
// `bit` of register `reg`. A feature of wider registers also needs the
// operating system to save their state: every bit of `savedState` set in XCR0.
struct CpuFeatureInfo {
    enum Register { eax, ebx, ecx, edx };
    CpuFeature feature;
    std::string_view name;  // as Linux's /proc/cpuinfo spells it
    unsigned leaf;
    Register reg;
    unsigned bit;
    unsigned savedState;
};
inline constexpr CpuFeatureInfo allCpuFeatures[] = {
    {CpuSse41, "sse4_1", 1, CpuFeatureInfo::ecx, 19, 0},
    {CpuAvx2, "avx2", 7, CpuFeatureInfo::ebx, 5, 0x06},         // SSE and AVX state
    {CpuFma, "fma", 1, CpuFeatureInfo::ecx, 12, 0x06},          // SSE and AVX state
    {CpuAvx512f, "avx512f", 7, CpuFeatureInfo::ebx, 16, 0xe6},  // and the mask and upper ZMM state
};

// The bits of space-separated feature names ("sse4_1 avx2"); an unknown name
// does not compile.
consteval unsigned cpuFeatureBits(std::string_view names) {
    unsigned bits = 0;
    while (!names.empty()) {
        const auto end = names.find(' ');
        const std::string_view name = names.substr(0, end);
        if (!name.empty()) {
            bool known = false;
            for (const CpuFeatureInfo& named : allCpuFeatures) {
                if (named.name == name) {
                    bits |= named.feature;
                    known = true;
                }
            }
            if (!known) throw "unknown processor feature";
        }
        names = end == std::string_view::npos ? std::string_view{} : names.substr(end + 1);
    }
    return bits;
}

struct KernelVariant {
    std::string_view name;
    unsigned requiredFeatures;  // CpuFeature bits; 0 runs on every processor of the build
    const detail::KernelSet* kernels;

    bool isSupported() const;  // this processor has every required feature

    // Each operation below runs in the default floating-point mode whatever
    // the calling thread's mode, and leaves that mode as it found it.

    // Backprojection: adds every view into image columns [firstColumn,
    // endColumn). Columns are independent, so disjoint ranges may run on
    // separate threads.
    void backprojectColumns(const BackprojectionJob& job, std::int32_t firstColumn,
                            std::int32_t endColumn) const;
    // Neighbouring columns one vector holds; a column range starting at a
    // multiple of it never splits a vector.
    std::int32_t laneWidth() const;

    // Backprojection of up to backprojectionSliceWidth() slices that share
    // one geometry (sizes, coefficients and code), one slice per lane; each
    // image exactly as backprojectColumns makes it. `sinograms` holds the
    // slices' samples as interleaveSinograms writes them
    // (interleavedSinogramSize doubles, read by every thread), `scratch`
    // backprojectionSliceScratchSize doubles, 64-byte aligned, that no other
    // thread uses. With a slice width of 1 the slices go one by one.
    std::int32_t backprojectionSliceWidth() const;
    // Whether backprojectSlices takes this geometry: a slice width above 1,
    // and each view's interleaved samples within reach of 32-bit indices.
    bool backprojectsSlicesOf(const BackprojectionJob& shape) const;
    std::size_t interleavedSinogramSize(const BackprojectionJob& shape) const;
    std::size_t backprojectionSliceScratchSize(const BackprojectionJob& shape) const;
    // Views [firstView, endView) of the slices' sinograms.
    void interleaveSinograms(std::span<const BackprojectionJob> slices, std::int32_t firstView,
                             std::int32_t endView, double* sinograms) const;
    void backprojectSlices(std::span<const BackprojectionJob> slices, const double* sinograms,
                           std::int32_t firstColumn, std::int32_t endColumn, double* scratch) const;

    // Projection: adds the image into the sinogram's views [firstView,
    // endView). Views are independent, so disjoint ranges may run on separate
    // threads.
    void projectViews(const ProjectionJob& job, std::int32_t firstView, std::int32_t endView) const;

    // Projection of up to sliceWidth() slices that share one geometry (sizes,
    // coefficients and code), one slice per lane; each sinogram exactly as
    // projectViews makes it. `interleaved` holds the images as
    // interleaveSlices writes them, `scratch` sliceScratchSize doubles that no
    // other thread uses. With a slice width of 1 the slices go one by one.
    std::int32_t sliceWidth() const;
    std::size_t sliceScratchSize(const ProjectionJob& shape) const;
    // Writes pixel p of slice i to interleaved[p * sliceWidth() + i], zero
    // for the lanes no slice fills: sliceWidth() x imageSize^2 doubles.
    void interleaveSlices(std::span<const ProjectionJob> slices, double* interleaved) const;
    void projectSlices(std::span<const ProjectionJob> slices, const double* interleaved,
                       std::int32_t firstView, std::int32_t endView, double* scratch) const;
};

// Every variant compiled into this build, slowest first, the reference sweep first of all.
std::span<const KernelVariant> kernelVariants();

// The variant named `name`, or nullptr when it is not compiled in.
const KernelVariant* findKernelVariant(std::string_view name);

// The last variant in kernelVariants() that this processor supports. The
// processor is asked on every call (a few instructions): nothing is kept.
const KernelVariant& bestKernelVariant();

// The processor's model as it names itself ("AMD EPYC 7B13"), for reports.
std::string processorName();

}  // namespace quelmor
