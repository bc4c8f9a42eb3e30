// The one place that chooses a kernel variant.
#include <cstring>
#include <iterator>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include "floating_point_mode.h"
#include "quelmor/accumulate_views.h"
#include "quelmor/kernel_variants.h"
#include "reference_sweep.h"
#include "variant_entries.h"

namespace quelmor {
namespace {

// Every entry runs its sweep in the default floating-point mode.
template <SweepColumnsFn sweep>
void inDefaultMode(const SweepJob& job, std::int32_t firstColumn, std::int32_t endColumn) {
    const detail::DefaultFloatingPointMode mode;
    sweep(job, firstColumn, endColumn);
}

// Slowest first; bestKernelVariant takes the last one the processor runs.
constexpr KernelVariant compiledVariants[] = {
    {"reference", 0, inDefaultMode<detail::referenceSweepColumns>},
#if QUELMOR_SSE2
    {"sse2", 0, inDefaultMode<detail::sse2SweepColumns>},
    {"sse41", CpuSse41, inDefaultMode<detail::sse41SweepColumns>},
#endif
#if QUELMOR_WIDE_SIMD
    {"avx2", CpuAvx2, inDefaultMode<detail::avx2SweepColumns>},
    {"avx512", CpuAvx512f, inDefaultMode<detail::avx512SweepColumns>},
#endif
};

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

std::string_view cpuFeatureName(CpuFeature feature) {
    switch (feature) {
        case CpuSse41: return "sse4_1";
        case CpuAvx2: return "avx2";
        case CpuAvx512f: return "avx512f";
    }
    return "unknown";
}

bool KernelVariant::isSupported() const {
    for (CpuFeature feature : allCpuFeatures) {
        if ((requiredFeatures & feature) && !processorHas(feature)) return false;
    }
    return true;
}

std::string processorName() {
#if defined(__i386__) || defined(__x86_64__)
    unsigned words[12] = {};
    if (__get_cpuid_max(0x80000000u, nullptr) >= 0x80000004u) {
        for (unsigned leaf = 0; leaf < 3; ++leaf) {
            __get_cpuid(0x80000002u + leaf, &words[4 * leaf], &words[4 * leaf + 1],
                        &words[4 * leaf + 2], &words[4 * leaf + 3]);
        }
        char text[sizeof words + 1] = {};
        std::memcpy(text, words, sizeof words);
        std::string name(text);
        const auto first = name.find_first_not_of(' ');
        const auto last = name.find_last_not_of(' ');
        if (first != std::string::npos) return name.substr(first, last - first + 1);
    }
#endif
    return "unknown processor";
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

void accumulateViews(double* image, const double* projections, std::int32_t detectorCount,
                     const double* cosines, const double* sines, std::int32_t viewCount,
                     std::int32_t imageSize, std::int32_t interpCode) {
    const SweepJob job{image, projections, detectorCount, cosines,
                       sines, viewCount,   imageSize,     interpCode};
    bestKernelVariant().sweepColumns(job, 0, imageSize);
}

}  // namespace quelmor
