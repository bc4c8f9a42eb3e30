// What each kernel variant's source file defines: `<name>SweepKernel`, for
// every variant in core/CMakeLists.txt's list.
#pragma once

#include <cstdint>

#include "quelmor/accumulate_views.h"
#include "variant_list.h"

namespace quelmor::detail {

// Adds every view into image columns [firstColumn, endColumn), in whatever
// floating-point mode the thread is in.
using SweepFn = void (*)(const BackprojectionJob& job, std::int32_t firstColumn, std::int32_t endColumn);

struct SweepKernel {
    SweepFn sweepInThreadMode;
    std::int32_t laneWidth;
};

#define QUELMOR_DECLARE_SWEEP_KERNEL(name, features) extern const SweepKernel name##SweepKernel;
QUELMOR_FOR_EACH_KERNEL_VARIANT(QUELMOR_DECLARE_SWEEP_KERNEL)
#undef QUELMOR_DECLARE_SWEEP_KERNEL

}  // namespace quelmor::detail
