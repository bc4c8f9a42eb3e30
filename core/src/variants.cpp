// The one place that chooses a kernel variant.
#include <algorithm>
#include <iterator>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include "floating_point_mode.h"
#include "interleaved_sinograms.h"
#include "quelmor/accumulate_views.h"
#include "quelmor/kernel_variants.h"
#include "quelmor/project_views.h"
#include "variant_entries.h"

namespace quelmor {
namespace {

// The list in core/CMakeLists.txt, slowest first; bestKernelVariant takes
// the last one the processor runs.
#define QUELMOR_VARIANT_ENTRY(name, features) \
    {#name, cpuFeatureBits(features), &detail::name##Kernels},
constexpr KernelVariant compiledVariants[] = {
    QUELMOR_FOR_EACH_KERNEL_VARIANT(QUELMOR_VARIANT_ENTRY)};
#undef QUELMOR_VARIANT_ENTRY
static_assert(std::string_view(compiledVariants[0].name) == "reference",
              "the reference sweep comes first: tests and fallbacks rely on it");

bool processorHas(const CpuFeatureInfo& info) {
#if defined(__i386__) || defined(__x86_64__)
    unsigned registers[4];
    if (!__get_cpuid_count(info.leaf, 0, &registers[0], &registers[1], &registers[2],
                           &registers[3]) ||
        !(registers[info.reg] >> info.bit & 1)) {
        return false;
    }
    if (info.savedState == 0) return true;
    constexpr unsigned osSavesState = 1u << 27;  // leaf 1, ecx: XGETBV is usable
    if (!__get_cpuid(1, &registers[0], &registers[1], &registers[2], &registers[3]) ||
        !(registers[2] & osSavesState)) {
        return false;
    }
    unsigned low, high;
    asm volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (low & info.savedState) == info.savedState;
#else
    (void)info;
    return false;
#endif
}

}  // namespace

bool KernelVariant::isSupported() const {
    for (const CpuFeatureInfo& info : allCpuFeatures) {
        if ((requiredFeatures & info.feature) && !processorHas(info)) return false;
    }
    return true;
}

void KernelVariant::backprojectColumns(const BackprojectionJob& job, std::int32_t firstColumn,
                                       std::int32_t endColumn) const {
    const detail::DefaultFloatingPointMode mode;
    kernels->backprojection.columnsInThreadMode(job, firstColumn, endColumn);
}

std::int32_t KernelVariant::laneWidth() const { return kernels->backprojection.laneWidth; }

std::int32_t KernelVariant::backprojectionSliceWidth() const {
    return kernels->backprojection.sliceWidth;
}

bool KernelVariant::backprojectsSlicesOf(const BackprojectionJob& shape) const {
    const std::int32_t width = backprojectionSliceWidth();
    return width > 1 && detail::sinogramSlotsFitIndices(shape.detectorCount, width);
}

std::size_t KernelVariant::interleavedSinogramSize(const BackprojectionJob& shape) const {
    return detail::interleavedSinogramDoubles(shape, backprojectionSliceWidth());
}

std::size_t KernelVariant::backprojectionSliceScratchSize(const BackprojectionJob& shape) const {
    return kernels->backprojection.sliceScratchSize(shape);
}

void KernelVariant::interleaveSinograms(std::span<const BackprojectionJob> slices,
                                        std::int32_t firstView, std::int32_t endView,
                                        double* sinograms) const {
    if (slices.empty()) return;
    const std::int32_t width = backprojectionSliceWidth();
    detail::interleaveSinograms(
        slices.data(), static_cast<std::int32_t>(std::min<std::size_t>(slices.size(), width)),
        width, firstView, endView, sinograms);
}

void KernelVariant::backprojectSlices(std::span<const BackprojectionJob> slices,
                                      const double* sinograms, std::int32_t firstColumn,
                                      std::int32_t endColumn, double* scratch) const {
    if (slices.empty()) return;
    const detail::DefaultFloatingPointMode mode;
    kernels->backprojection.slicesInThreadMode(slices.data(),
                                               static_cast<std::int32_t>(slices.size()), sinograms,
                                               firstColumn, endColumn, scratch);
}

void KernelVariant::projectViews(const ProjectionJob& job, std::int32_t firstView,
                                 std::int32_t endView) const {
    const detail::DefaultFloatingPointMode mode;
    kernels->projection.viewsInThreadMode(job, firstView, endView);
}

std::int32_t KernelVariant::sliceWidth() const { return kernels->projection.sliceWidth; }

std::size_t KernelVariant::sliceScratchSize(const ProjectionJob& shape) const {
    return kernels->projection.sliceScratchSize(shape);
}

void KernelVariant::interleaveSlices(std::span<const ProjectionJob> slices,
                                     double* interleaved) const {
    const std::size_t width = static_cast<std::size_t>(sliceWidth());
    const std::size_t pixels = slices.empty() || slices[0].imageSize <= 0
                                   ? 0
                                   : static_cast<std::size_t>(slices[0].imageSize) *
                                         static_cast<std::size_t>(slices[0].imageSize);
    const std::size_t count = std::min(slices.size(), width);
    for (std::size_t p = 0; p < pixels; ++p) {
        for (std::size_t i = 0; i < width; ++i)
            interleaved[p * width + i] = i < count ? slices[i].image[p] : 0.0;
    }
}

void KernelVariant::projectSlices(std::span<const ProjectionJob> slices, const double* interleaved,
                                  std::int32_t firstView, std::int32_t endView,
                                  double* scratch) const {
    if (slices.empty()) return;
    const detail::DefaultFloatingPointMode mode;
    kernels->projection.slicesInThreadMode(slices.data(), static_cast<std::int32_t>(slices.size()),
                                           interleaved, firstView, endView, scratch);
}

std::span<const KernelVariant> kernelVariants() { return compiledVariants; }

const KernelVariant* findKernelVariant(std::string_view name) {
    for (const KernelVariant& variant : compiledVariants) {
        if (variant.name == name) return &variant;
    }
    return nullptr;
}

const KernelVariant& bestKernelVariant() {
    for (auto it = std::rbegin(compiledVariants); it != std::rend(compiledVariants); ++it) {
        if (it->isSupported()) return *it;
    }
    return compiledVariants[0];
}

void accumulateViews(const BackprojectionJob& job) {
    bestKernelVariant().backprojectColumns(job, 0, job.imageSize);
}

void projectViews(const ProjectionJob& job) {
    bestKernelVariant().projectViews(job, 0, job.viewCount);
}

}  // namespace quelmor
