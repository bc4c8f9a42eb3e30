// The processor's own name, for benchmark and test reports. Apart from the
// variant table so that the module, which never asks, links no string code
// and no allocator.
#include <cstring>
#include <string>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include "quelmor/kernel_variants.h"

namespace quelmor {

std::string processorName() {
#if defined(__i386__) || defined(__x86_64__)
    unsigned words[12] = {};
    if (__get_cpuid_max(0x80000000u, nullptr) >= 0x80000004u) {
        for (unsigned leaf = 0; leaf < 3; ++leaf) {
            __get_cpuid(0x80000002u + leaf, &words[4 * leaf], &words[4 * leaf + 1],
                        &words[4 * leaf + 2], &words[4 * leaf + 3]);
        }
        char text[sizeof words + 1] = {};
        std::memcpy(text, words, sizeof words);
        std::string name(text);
        const auto first = name.find_first_not_of(' ');
        const auto last = name.find_last_not_of(' ');
        if (first != std::string::npos) return name.substr(first, last - first + 1);
    }
#endif
    return "unknown processor";
}

}  // namespace quelmor
