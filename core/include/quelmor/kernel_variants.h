// Kernel variants behind accumulateViews, for tests, benchmarks and the
// threaded entry. Every variant gives the reference sweep's image bit for bit.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "quelmor/accumulate_views.h"

namespace quelmor {

// Adds every view into image columns [firstColumn, endColumn). Columns are
// independent, so disjoint ranges may run on separate threads. Runs in the
// default floating-point mode whatever the calling thread's mode, and leaves
// that mode as it found it.
using SweepColumnsFn = void (*)(const SweepJob& job, std::int32_t firstColumn,
                                std::int32_t endColumn);

// Processor features a variant may need, named as Linux's /proc/cpuinfo names them.
enum CpuFeature : unsigned {
    CpuSse41 = 1u << 0,    // "sse4_1"
    CpuAvx2 = 1u << 1,     // "avx2"
    CpuAvx512f = 1u << 2,  // "avx512f"
};
inline constexpr CpuFeature allCpuFeatures[] = {CpuSse41, CpuAvx2, CpuAvx512f};
std::string_view cpuFeatureName(CpuFeature feature);

struct KernelVariant {
    std::string_view name;
    unsigned requiredFeatures;  // CpuFeature bits; 0 runs on every processor of the build
    SweepColumnsFn sweepColumns;

    bool isSupported() const;  // this processor has every required feature
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
