#include "quelmor/parallel.h"

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

namespace quelmor {

void accumulateViewsParallel(const SweepJob& job, unsigned threadCount,
                             const KernelVariant* variant) {
    const KernelVariant& chosen = variant ? *variant : bestKernelVariant();
    if (threadCount == 0) threadCount = std::max(1u, std::thread::hardware_concurrency());
    // Split on whole blocks of 8 columns so no thread gets a ragged SIMD block
    // in the middle of the image.
    constexpr std::int64_t blockColumns = 8;
    const std::int64_t columns = std::max<std::int32_t>(job.imageSize, 0);
    const std::int64_t blocks = (columns + blockColumns - 1) / blockColumns;
    const std::int64_t parts = std::min<std::int64_t>(threadCount, blocks);
    auto partStart = [&](std::int64_t part) {
        return static_cast<std::int32_t>(std::min(columns, part * blocks / parts * blockColumns));
    };
    if (parts <= 1) {
        chosen.sweepColumns(job, 0, static_cast<std::int32_t>(columns));
        return;
    }
    std::vector<std::jthread> workers;
    for (std::int64_t part = 1; part < parts; ++part) {
        workers.emplace_back(chosen.sweepColumns, std::cref(job), partStart(part),
                             partStart(part + 1));
    }
    chosen.sweepColumns(job, 0, partStart(1));
}

}  // namespace quelmor
