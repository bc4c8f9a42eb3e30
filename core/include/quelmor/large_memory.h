// Memory for arrays of megabytes (the stack projection's interleaved images,
// the Python package's results). A block of 2 MiB or more starts on a 2 MiB
// boundary, takes whole 2 MiB, and asks the kernel for transparent huge
// pages: in a virtual machine the first touch of each 4 KiB page costs about
// 10 microseconds, so a fresh 16 MiB buffer would cost 40 ms in faults.
#pragma once

#include <cstddef>

namespace quelmor {

struct LargeMemory {
    void* data;
    std::size_t capacity;  // bytes
};

// The bytes a block for `bytes` (at least one) holds: whole 2 MiB from
// 2 MiB on, whole 64-byte cache lines below.
std::size_t largeMemoryCapacity(std::size_t bytes);

// A block of largeMemoryCapacity(bytes), aligned to 2 MiB or to 64 bytes.
// Throws std::bad_alloc.
LargeMemory allocateLargeMemory(std::size_t bytes);
void freeLargeMemory(LargeMemory block);

}  // namespace quelmor
