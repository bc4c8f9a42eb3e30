#include "quelmor/parallel.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <new>
#include <span>
#include <thread>
#include <vector>

#include "quelmor/large_memory.h"

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

// Sets image columns [first, end) of the job to zero where `start` asks.
void startColumns(const BackprojectionJob& job, std::int32_t first, std::int32_t end,
                  ImageStart start) {
    if (start == ImageStart::zeroed && end > first) {
        const std::ptrdiff_t side = job.imageSize;
        std::fill(job.image + first * side, job.image + end * side, 0.0);
    }
}

// Image columns [first, end) of the job, zeroed first where `start` asks.
void sweepPart(const KernelVariant& variant, const BackprojectionJob& job, std::int32_t first,
               std::int32_t end, ImageStart start) {
    startColumns(job, first, end, start);
    variant.backprojectColumns(job, first, end);
}

// Runs part(i) for i in [0, parts), part 0 on the calling thread.
template <class Part>
void inParallel(std::int64_t parts, Part&& part) {
    std::vector<std::jthread> workers;
    for (std::int64_t i = 1; i < parts; ++i) workers.emplace_back([&part, i] { part(i); });
    if (parts > 0) part(0);
}

// Image columns [0, imageSize) in at most threadCount ranges of whole blocks.
struct ColumnSplit {
    std::int64_t block, columns, blocks, parts;
    ColumnSplit(std::int32_t imageSize, unsigned threadCount)
        : block(blockColumns()),
          columns(std::max<std::int32_t>(imageSize, 0)),
          blocks((columns + block - 1) / block),
          parts(std::max<std::int64_t>(1, std::min<std::int64_t>(threadCount, blocks))) {}
    std::int32_t start(std::int64_t part) const {
        return static_cast<std::int32_t>(std::min(columns, part * blocks / parts * block));
    }
};

void sweepSplit(const BackprojectionJob& job, unsigned threadCount, const KernelVariant& chosen,
                ImageStart start) {
    const ColumnSplit split(job.imageSize, threadCount);
    inParallel(split.parts, [&](std::int64_t part) {
        sweepPart(chosen, job, split.start(part), split.start(part + 1), start);
    });
}

// Views [0, viewCount) in `parts` ranges of whole groups of `group` views.
struct ViewSplit {
    std::int64_t groups, parts, group, viewCount;
    ViewSplit(std::int32_t viewCount, unsigned threadCount, std::int32_t group)
        : groups((std::max<std::int32_t>(viewCount, 0) + std::int64_t{group} - 1) / group),
          parts(std::max<std::int64_t>(1, std::min<std::int64_t>(threadCount, groups))),
          group(group),
          viewCount(std::max<std::int32_t>(viewCount, 0)) {}
    std::int32_t start(std::int64_t part) const {
        return static_cast<std::int32_t>(std::min(viewCount, part * groups / parts * group));
    }
};

// Working memory for the slice path, allocated before any sweep: 64-byte
// aligned, and in huge pages from 2 MiB on (quelmor/large_memory.h).
class WorkingDoubles {
public:
    explicit WorkingDoubles(std::size_t count) : block_(allocateLargeMemory(bytesOf(count))) {}
    WorkingDoubles(const WorkingDoubles&) = delete;
    WorkingDoubles& operator=(const WorkingDoubles&) = delete;
    ~WorkingDoubles() { freeLargeMemory(block_); }
    double* get() const { return static_cast<double*>(block_.data); }

private:
    static std::size_t bytesOf(std::size_t count) {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(double))
            throw std::bad_alloc();
        return count * sizeof(double);
    }
    LargeMemory block_;
};

template <class Job>
bool sameGeometry(const Job& a, const Job& b) {
    return a.detectorCount == b.detectorCount && a.cosines == b.cosines && a.sines == b.sines &&
           a.viewCount == b.viewCount && a.imageSize == b.imageSize && a.interpCode == b.interpCode;
}

// The jobs in packs of up to `width` that share a geometry, in the jobs' order.
template <class Job>
std::vector<std::vector<Job>> packsOf(std::span<const Job> jobs, std::int32_t width) {
    std::vector<std::vector<Job>> packs;
    std::vector<bool> packed(jobs.size(), false);
    for (std::size_t first = 0; first < jobs.size(); ++first) {
        if (packed[first]) continue;
        packs.emplace_back();
        for (std::size_t j = first; j < jobs.size(); ++j) {
            if (packed[j] || !sameGeometry(jobs[first], jobs[j])) continue;
            if (packs.back().size() == static_cast<std::size_t>(width)) packs.emplace_back();
            packs.back().push_back(jobs[j]);
            packed[j] = true;
        }
    }
    return packs;
}

std::size_t pixelsOf(const ProjectionJob& job) {
    return job.imageSize > 0 ? static_cast<std::size_t>(job.imageSize) * job.imageSize : 0;
}

// One block of working memory per thread, all allocated on the calling
// thread before any starts, so that a failed allocation reaches the caller.
class WorkingSets {
public:
    WorkingSets(std::int64_t threads, std::size_t count) {
        for (std::int64_t t = 0; t < threads; ++t) sets_.emplace_back(count);
    }
    double* operator[](std::int64_t thread) const { return sets_[thread].get(); }

private:
    std::deque<WorkingDoubles> sets_;
};

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
    const std::int32_t width = chosen.backprojectionSliceWidth();
    const auto packs = packsOf(jobs, width);
    // A pack of one slice takes the single-image path, which wastes no lanes.
    auto needsLanes = [&](const std::vector<BackprojectionJob>& pack) {
        return pack.size() > 1 && chosen.backprojectsSlicesOf(pack[0]);
    };
    auto sweepPack = [&](const std::vector<BackprojectionJob>& pack, const double* sinograms,
                         std::int32_t first, std::int32_t end, double* scratch) {
        if (!needsLanes(pack)) {
            for (const BackprojectionJob& job : pack) sweepPart(chosen, job, first, end, start);
            return;
        }
        for (const BackprojectionJob& job : pack) startColumns(job, first, end, start);
        chosen.backprojectSlices(pack, sinograms, first, end, scratch);
    };
    if (packs.size() >= threadCount) {
        std::size_t sinogramSize = 0, scratchSize = 0;
        for (const auto& pack : packs) {
            if (!needsLanes(pack)) continue;
            sinogramSize = std::max(sinogramSize, chosen.interleavedSinogramSize(pack[0]));
            scratchSize = std::max(scratchSize, chosen.backprojectionSliceScratchSize(pack[0]));
        }
        const WorkingSets sinograms(threadCount, sinogramSize), scratch(threadCount, scratchSize);
        std::atomic<std::size_t> nextPack{0};
        inParallel(threadCount, [&](std::int64_t thread) {
            for (std::size_t p; (p = nextPack.fetch_add(1)) < packs.size();) {
                const auto& pack = packs[p];
                if (needsLanes(pack))
                    chosen.interleaveSinograms(pack, 0, pack[0].viewCount, sinograms[thread]);
                sweepPack(pack, sinograms[thread], 0, std::max<std::int32_t>(pack[0].imageSize, 0),
                          scratch[thread]);
            }
        });
        return;
    }
    for (const auto& pack : packs) {
        const bool lanes = needsLanes(pack);
        const WorkingDoubles sinograms(lanes ? chosen.interleavedSinogramSize(pack[0]) : 0);
        const ColumnSplit columns(pack[0].imageSize, threadCount);
        const WorkingSets scratch(columns.parts,
                                  lanes ? chosen.backprojectionSliceScratchSize(pack[0]) : 0);
        if (lanes) {
            const ViewSplit views(pack[0].viewCount, threadCount, 1);
            inParallel(views.parts, [&](std::int64_t part) {
                chosen.interleaveSinograms(pack, views.start(part), views.start(part + 1),
                                           sinograms.get());
            });
        }
        inParallel(columns.parts, [&](std::int64_t part) {
            sweepPack(pack, sinograms.get(), columns.start(part), columns.start(part + 1),
                      scratch[part]);
        });
    }
}

void projectViewsParallel(const ProjectionJob& job, unsigned threadCount,
                          const KernelVariant* variant) {
    const KernelVariant& chosen = variant ? *variant : bestKernelVariant();
    const ViewSplit split(job.viewCount, threadsToUse(threadCount), chosen.sliceWidth());
    inParallel(split.parts, [&](std::int64_t part) {
        chosen.projectViews(job, split.start(part), split.start(part + 1));
    });
}

void projectStackParallel(std::span<const ProjectionJob> jobs, unsigned threadCount,
                          const KernelVariant* variant) {
    const KernelVariant& chosen = variant ? *variant : bestKernelVariant();
    threadCount = threadsToUse(threadCount);
    const std::int32_t width = chosen.sliceWidth();
    const auto packs = packsOf(jobs, width);
    // A pack of one slice takes the single-image path, which wastes no lanes.
    auto projectPack = [&](const std::vector<ProjectionJob>& pack, const double* interleaved,
                           std::int32_t first, std::int32_t end, double* scratch) {
        if (pack.size() == 1 || width == 1) {
            for (const ProjectionJob& job : pack) chosen.projectViews(job, first, end);
        } else {
            chosen.projectSlices(pack, interleaved, first, end, scratch);
        }
    };
    auto needsLanes = [&](const std::vector<ProjectionJob>& pack) {
        return pack.size() > 1 && width > 1;
    };
    if (packs.size() >= threadCount) {
        std::size_t pixels = 0, scratchSize = 0;
        for (const auto& pack : packs) {
            if (!needsLanes(pack)) continue;
            pixels = std::max(pixels, pixelsOf(pack[0]));
            scratchSize = std::max(scratchSize, chosen.sliceScratchSize(pack[0]));
        }
        const WorkingSets interleaved(threadCount, pixels * static_cast<std::size_t>(width));
        const WorkingSets scratch(threadCount, scratchSize);
        std::atomic<std::size_t> nextPack{0};
        inParallel(threadCount, [&](std::int64_t thread) {
            for (std::size_t p; (p = nextPack.fetch_add(1)) < packs.size();) {
                if (needsLanes(packs[p])) chosen.interleaveSlices(packs[p], interleaved[thread]);
                projectPack(packs[p], interleaved[thread], 0, packs[p][0].viewCount,
                            scratch[thread]);
            }
        });
        return;
    }
    for (const auto& pack : packs) {
        const WorkingDoubles interleaved(needsLanes(pack) ? pixelsOf(pack[0]) * width : 0);
        if (needsLanes(pack)) chosen.interleaveSlices(pack, interleaved.get());
        const ViewSplit split(pack[0].viewCount, threadCount, width);
        const WorkingSets scratch(split.parts,
                                  needsLanes(pack) ? chosen.sliceScratchSize(pack[0]) : 0);
        inParallel(split.parts, [&](std::int64_t part) {
            projectPack(pack, interleaved.get(), split.start(part), split.start(part + 1),
                        scratch[part]);
        });
    }
}

}  // namespace quelmor
