// Memory for the arrays the package returns, kept for its next call once
// NumPy lets go of it. glibc gives freed blocks of a few MiB back to the
// system, so every call would fault its result in afresh, page by page; in a
// virtual machine a fresh 4 KiB page costs about 10 microseconds, and a
// 512 x 512 image's 512 faults cost more than its 360 views.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "quelmor/large_memory.h"

namespace quelmor::python {

class ResultMemory {
public:
    // Blocks above this size are not kept; nor is anything that would make
    // the kept blocks hold more than keptBytesLimit.
    static constexpr std::size_t largestKeptBlock = std::size_t{32} << 20;
    static constexpr std::size_t keptBytesLimit = std::size_t{128} << 20;
    static constexpr std::size_t keptBlocksLimit = 16;

    // A block of at least `bytes` (at least one), as allocateLargeMemory
    // gives it. A kept block is reused when it is no more than a quarter larger than
    // a fresh one would be.
    // Throws std::bad_alloc.
    LargeMemory take(std::size_t bytes);
    // Keeps the block for a later take, or frees it.
    void giveBack(LargeMemory block);

    std::size_t keptBytes() const;
    std::size_t keptBlocks() const;

private:
    mutable std::mutex lock_;
    std::vector<LargeMemory> kept_;  // the most recently given back last
    std::size_t keptBytes_ = 0;
};

// The package's one instance, never destroyed: arrays NumPy frees while
// the interpreter shuts down still give their blocks back to it.
ResultMemory& resultMemory();

}  // namespace quelmor::python
