// The one place that chooses a kernel variant.
#include <iterator>

#include "floating_point_mode.h"
#include "quelmor/accumulate_views.h"
#include "quelmor/kernel_variants.h"
#include "variant_entries.h"

namespace quelmor {
namespace {

// The list in core/CMakeLists.txt, slowest first; bestKernelVariant takes
// the last one the processor runs.
#define QUELMOR_VARIANT_ENTRY(name, features) \
    {#name, cpuFeatureBits(features), &detail::name##SweepKernel},
constexpr KernelVariant compiledVariants[] = {
    QUELMOR_FOR_EACH_KERNEL_VARIANT(QUELMOR_VARIANT_ENTRY)};
#undef QUELMOR_VARIANT_ENTRY
static_assert(std::string_view(compiledVariants[0].name) == "reference",
              "the reference sweep comes first: tests and fallbacks rely on it");

bool processorHas(CpuFeature feature) {
#if defined(__i386__) || defined(__x86_64__)
    __builtin_cpu_init();
    switch (feature) {
        case CpuSse41: return __builtin_cpu_supports("sse4.1");
        case CpuAvx2: return __builtin_cpu_supports("avx2");
        case CpuAvx512f: return __builtin_cpu_supports("avx512f");
    }
#endif
    (void)feature;
    return false;
}

}  // namespace

bool KernelVariant::isSupported() const {
    for (const NamedCpuFeature& named : allCpuFeatures) {
        if ((requiredFeatures & named.feature) && !processorHas(named.feature)) return false;
    }
    return true;
}

void KernelVariant::sweepColumns(const SweepJob& job, std::int32_t firstColumn,
                                 std::int32_t endColumn) const {
    const detail::DefaultFloatingPointMode mode;
    kernel->sweepColumns(job, firstColumn, endColumn);
}

std::int32_t KernelVariant::laneWidth() const { return kernel->laneWidth; }

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

void accumulateViews(const SweepJob& job) {
    bestKernelVariant().sweepColumns(job, 0, job.imageSize);
}

void accumulateViews(double* image, const double* projections, std::int32_t detectorCount,
                     const double* cosines, const double* sines, std::int32_t viewCount,
                     std::int32_t imageSize, std::int32_t interpCode) {
    accumulateViews(SweepJob{image, projections, detectorCount, cosines, sines, viewCount,
                             imageSize, interpCode});
}

}  // namespace quelmor
