// The one place that chooses a kernel variant.
#include <iterator>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

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

void KernelVariant::sweepColumns(const BackprojectionJob& job, std::int32_t firstColumn,
                                 std::int32_t endColumn) const {
    const detail::DefaultFloatingPointMode mode;
    kernel->sweepInThreadMode(job, firstColumn, endColumn);
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

void accumulateViews(const BackprojectionJob& job) {
    bestKernelVariant().sweepColumns(job, 0, job.imageSize);
}

}  // namespace quelmor
