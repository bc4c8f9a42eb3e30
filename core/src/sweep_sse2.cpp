// The blocked sweep on SSE2 lanes.
#include "blocked_sweep.h"
#include "sse2_lanes.h"
#include "variant_entries.h"

namespace quelmor::detail {

void sse2SweepColumns(const SweepJob& job, std::int32_t firstColumn, std::int32_t endColumn) {
    blockedSweepColumns<Sse2Lanes>(job, firstColumn, endColumn);
}

}  // namespace quelmor::detail
