// Kernel variants behind accumulateViews, for tests, benchmarks and the
// threaded entry. Every variant gives the reference sweep's image bit for bit.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "quelmor/accumulate_views.h"

namespace quelmor {

// Adds every view into image columns [firstColumn, endColumn). Columns are
// independent, so disjoint ranges may run on separate threads.
using SweepColumnsFn = void (*)(const SweepJob& job, std::int32_t firstColumn,
                                std::int32_t endColumn);

struct KernelVariant {
    std::string_view name;
    bool (*isSupported)();  // true when this processor can run it
    SweepColumnsFn sweepColumns;
};

// Every variant compiled into this build, the reference sweep first.
std::span<const KernelVariant> kernelVariants();

// The variant named `name`, or nullptr when it is not compiled in.
const KernelVariant* findKernelVariant(std::string_view name);

// The fastest compiled variant this processor supports; chosen once.
const KernelVariant& bestKernelVariant();

}  // namespace quelmor
