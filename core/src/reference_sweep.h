#pragma once

#include <cstdint>

#include "quelmor/kernel_variants.h"

namespace quelmor::detail {

void referenceSweepColumns(const SweepJob& job, std::int32_t firstColumn, std::int32_t endColumn);

}  // namespace quelmor::detail
