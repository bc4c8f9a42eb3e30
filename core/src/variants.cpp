// The one place that chooses a kernel variant.
#include <iterator>

#include "quelmor/accumulate_views.h"
#include "quelmor/kernel_variants.h"
#include "reference_sweep.h"
#include "variant_entries.h"

namespace quelmor {
namespace {

bool everywhere() { return true; }

#if QUELMOR_SSE2
bool hasSse41() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse4.1");
}
#endif

#if QUELMOR_WIDE_SIMD
bool hasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
bool hasAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f");
}
#endif

// Slowest first; bestKernelVariant takes the last one the processor runs.
constexpr KernelVariant compiledVariants[] = {
    {"reference", everywhere, detail::referenceSweepColumns},
#if QUELMOR_SSE2
    {"sse2", everywhere, detail::sse2SweepColumns},
    {"sse41", hasSse41, detail::sse41SweepColumns},
#endif
#if QUELMOR_WIDE_SIMD
    {"avx2", hasAvx2, detail::avx2SweepColumns},
    {"avx512", hasAvx512, detail::avx512SweepColumns},
#endif
};

}  // namespace

std::span<const KernelVariant> kernelVariants() { return compiledVariants; }

const KernelVariant* findKernelVariant(std::string_view name) {
    for (const KernelVariant& variant : compiledVariants) {
        if (variant.name == name) return &variant;
    }
    return nullptr;
}

// Asked anew on every call (a few instructions) so the module keeps no state.
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
