#include "quelmor/parallel.h"

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

namespace quelmor {
namespace {

// Threads split the image on whole blocks of this many columns, a multiple of
// every variant's lane width (all are powers of two), so no thread gets a
// ragged vector in the middle of the image.
std::int32_t blockColumns() {
    std::int32_t widest = 1;
    for (const KernelVariant& variant : kernelVariants())
        widest = std::max(widest, variant.laneWidth());
    return widest;
}

}  // namespace

void accumulateViewsParallel(const SweepJob& job, unsigned threadCount,
                             const KernelVariant* variant) {
    const KernelVariant& chosen = variant ? *variant : bestKernelVariant();
    if (threadCount == 0) threadCount = std::max(1u, std::thread::hardware_concurrency());
    const std::int64_t block = blockColumns();
    const std::int64_t columns = std::max<std::int32_t>(job.imageSize, 0);
    const std::int64_t blocks = (columns + block - 1) / block;
    const std::int64_t parts = std::min<std::int64_t>(threadCount, blocks);
    auto partStart = [&](std::int64_t part) {
        return static_cast<std::int32_t>(std::min(columns, part * blocks / parts * block));
    };
    if (parts <= 1) {
        chosen.sweepColumns(job, 0, static_cast<std::int32_t>(columns));
        return;
    }
    std::vector<std::jthread> workers;
    for (std::int64_t part = 1; part < parts; ++part) {
        workers.emplace_back([&chosen, &job, first = partStart(part), end = partStart(part + 1)] {
            chosen.sweepColumns(job, first, end);
        });
    }
    chosen.sweepColumns(job, 0, partStart(1));
}

}  // namespace quelmor
