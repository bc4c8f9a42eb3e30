#include "quelmor/parallel.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace quelmor {
namespace {

unsigned threadsToUse(unsigned threadCount) {
    return threadCount ? threadCount : std::max(1u, std::thread::hardware_concurrency());
}

// Threads split the image on whole blocks of this many columns, a multiple of
// every variant's lane width (all are powers of two), so no thread gets a
// ragged vector in the middle of the image.
std::int32_t blockColumns() {
    std::int32_t widest = 1;
    for (const KernelVariant& variant : kernelVariants())
        widest = std::max(widest, variant.laneWidth());
    return widest;
}

// Image columns [first, end) of the job, zeroed first where `start` asks.
void sweepPart(const KernelVariant& variant, const BackprojectionJob& job, std::int32_t first,
               std::int32_t end, ImageStart start) {
    if (start == ImageStart::zeroed && end > first) {
        const std::ptrdiff_t side = job.imageSize;
        std::fill(job.image + first * side, job.image + end * side, 0.0);
    }
    variant.sweepColumns(job, first, end);
}

void sweepSplit(const BackprojectionJob& job, unsigned threadCount, const KernelVariant& chosen,
                ImageStart start) {
    const std::int64_t block = blockColumns();
    const std::int64_t columns = std::max<std::int32_t>(job.imageSize, 0);
    const std::int64_t blocks = (columns + block - 1) / block;
    const std::int64_t parts = std::min<std::int64_t>(threadCount, blocks);
    auto partStart = [&](std::int64_t part) {
        return static_cast<std::int32_t>(std::min(columns, part * blocks / parts * block));
    };
    if (parts <= 1) {
        sweepPart(chosen, job, 0, static_cast<std::int32_t>(columns), start);
        return;
    }
    std::vector<std::jthread> workers;
    for (std::int64_t part = 1; part < parts; ++part) {
        workers.emplace_back([&chosen, &job, first = partStart(part), end = partStart(part + 1),
                              start] { sweepPart(chosen, job, first, end, start); });
    }
    sweepPart(chosen, job, 0, partStart(1), start);
}

}  // namespace

void accumulateViewsParallel(const BackprojectionJob& job, unsigned threadCount,
                             const KernelVariant* variant) {
    sweepSplit(job, threadsToUse(threadCount), variant ? *variant : bestKernelVariant(),
               ImageStart::asGiven);
}

void accumulateStackParallel(std::span<const BackprojectionJob> jobs, unsigned threadCount,
                             const KernelVariant* variant, ImageStart start) {
    const KernelVariant& chosen = variant ? *variant : bestKernelVariant();
    threadCount = threadsToUse(threadCount);
    if (jobs.size() < threadCount) {
        for (const BackprojectionJob& job : jobs) sweepSplit(job, threadCount, chosen, start);
        return;
    }
    std::atomic<std::size_t> nextJob{0};
    auto takeJobs = [&] {
        for (std::size_t j; (j = nextJob.fetch_add(1)) < jobs.size();)
            sweepPart(chosen, jobs[j], 0, std::max<std::int32_t>(jobs[j].imageSize, 0), start);
    };
    std::vector<std::jthread> workers;
    for (unsigned t = 1; t < threadCount; ++t) workers.emplace_back(takeJobs);
    takeJobs();
}

}  // namespace quelmor
