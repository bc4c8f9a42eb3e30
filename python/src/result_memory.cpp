#include "result_memory.h"

#include "quelmor/large_memory.h"

namespace quelmor::python {

LargeMemory ResultMemory::take(std::size_t bytes) {
    if (bytes == 0) bytes = 1;
    const std::size_t fresh = largeMemoryCapacity(bytes);
    {
        const std::lock_guard locked(lock_);
        for (auto block = kept_.rbegin(); block != kept_.rend(); ++block) {
            if (block->capacity >= bytes && block->capacity <= fresh + fresh / 4) {
                const LargeMemory taken = *block;
                kept_.erase(std::next(block).base());
                keptBytes_ -= taken.capacity;
                return taken;
            }
        }
    }
    return allocateLargeMemory(bytes);
}

void ResultMemory::giveBack(LargeMemory block) {
    std::vector<LargeMemory> released;
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
    for (const LargeMemory& gone : released) freeLargeMemory(gone);
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
