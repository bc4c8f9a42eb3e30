// The per-instruction-set sweeps, each compiled in its own translation unit.
#pragma once

#include <cstdint>

#include "quelmor/kernel_variants.h"

namespace quelmor::detail {

void sse2SweepColumns(const SweepJob& job, std::int32_t firstColumn, std::int32_t endColumn);
void sse41SweepColumns(const SweepJob& job, std::int32_t firstColumn, std::int32_t endColumn);
void avx2SweepColumns(const SweepJob& job, std::int32_t firstColumn, std::int32_t endColumn);
void avx512SweepColumns(const SweepJob& job, std::int32_t firstColumn, std::int32_t endColumn);

}  // namespace quelmor::detail
