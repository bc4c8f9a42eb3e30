#include "result_memory.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace quelmor::python {
namespace {

constexpr std::size_t hugePage = std::size_t{2} << 20;
constexpr std::size_t cacheLine = 64;

std::size_t roundedUp(std::size_t bytes, std::size_t multiple) {
    return (bytes + multiple - 1) / multiple * multiple;
}

std::size_t alignmentFor(std::size_t bytes) { return bytes >= hugePage ? hugePage : cacheLine; }

std::size_t capacityFor(std::size_t bytes) { return roundedUp(bytes, alignmentFor(bytes)); }

ResultBlock allocated(std::size_t bytes) {
    const std::size_t alignment = alignmentFor(bytes), capacity = capacityFor(bytes);
    void* data = std::aligned_alloc(alignment, capacity);
    if (!data) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    // Only advice: a kernel without transparent huge pages refuses it.
    if (alignment == hugePage) madvise(data, capacity, MADV_HUGEPAGE);
#endif
    return {data, capacity};
}

}  // namespace

ResultBlock ResultMemory::take(std::size_t bytes) {
    if (bytes == 0) bytes = 1;
    const std::size_t fresh = capacityFor(bytes);
    {
        const std::lock_guard locked(lock_);
        for (auto block = kept_.rbegin(); block != kept_.rend(); ++block) {
            if (block->capacity >= bytes && block->capacity <= fresh + fresh / 4) {
                const ResultBlock taken = *block;
                kept_.erase(std::next(block).base());
                keptBytes_ -= taken.capacity;
                return taken;
            }
        }
    }
    return allocated(bytes);
}

void ResultMemory::giveBack(ResultBlock block) {
    std::vector<ResultBlock> released;
    {
        const std::lock_guard locked(lock_);
        if (block.capacity <= largestKeptBlock) {
            kept_.push_back(block);
            keptBytes_ += block.capacity;
        } else {
            released.push_back(block);
        }
        // The oldest go first.
        std::size_t dropped = 0;
        while (dropped < kept_.size() &&
               (kept_.size() - dropped > keptBlocksLimit || keptBytes_ > keptBytesLimit)) {
            keptBytes_ -= kept_[dropped].capacity;
            released.push_back(kept_[dropped++]);
        }
        kept_.erase(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(dropped));
    }
    for (const ResultBlock& gone : released) std::free(gone.data);
}

std::size_t ResultMemory::keptBytes() const {
    const std::lock_guard locked(lock_);
    return keptBytes_;
}

std::size_t ResultMemory::keptBlocks() const {
    const std::lock_guard locked(lock_);
    return kept_.size();
}

ResultMemory& resultMemory() {
    static ResultMemory* const memory = new ResultMemory;
    return *memory;
}

}  // namespace quelmor::python
