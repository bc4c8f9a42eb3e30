#include "quelmor/large_memory.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <new>

namespace quelmor {
namespace {

constexpr std::size_t hugePage = std::size_t{2} << 20;
constexpr std::size_t cacheLine = 64;

std::size_t alignmentOf(std::size_t capacity) {
    return capacity >= hugePage ? hugePage : cacheLine;
}

}  // namespace

std::size_t largeMemoryCapacity(std::size_t bytes) {
    const std::size_t least = bytes == 0 ? 1 : bytes;
    const std::size_t multiple = alignmentOf(least);
    return (least + multiple - 1) / multiple * multiple;
}

LargeMemory allocateLargeMemory(std::size_t bytes) {
    const std::size_t capacity = largeMemoryCapacity(bytes);
    void* data = ::operator new (capacity, std::align_val_t{alignmentOf(capacity)});
#ifdef MADV_HUGEPAGE
    // Only advice: a kernel without transparent huge pages refuses it.
    if (capacity >= hugePage) madvise(data, capacity, MADV_HUGEPAGE);
#endif
    return {data, capacity};
}

void freeLargeMemory(LargeMemory block) {
    if (block.data) ::operator delete (block.data, std::align_val_t{alignmentOf(block.capacity)});
}

}  // namespace quelmor
