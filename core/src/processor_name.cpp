// The processor's own name, with its family and model, for benchmark and
// test reports. Apart from the
// variant table so that the module, which never asks, links no string code
// and no allocator.
#include <cstring>
#include <string>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include "quelmor/kernel_variants.h"

namespace quelmor {
namespace {

// Virtual machines often give only a vendor's brand ("AMD EPYC"); the family
// and model numbers tell the generation apart (family 25 model 17 is Zen 4).
std::string familyAndModel() {
#if defined(__i386__) || defined(__x86_64__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        unsigned family = (eax >> 8) & 0xF;
        unsigned model = (eax >> 4) & 0xF;
        if (family == 6 || family == 15) model += ((eax >> 16) & 0xF) << 4;
        if (family == 15) family += (eax >> 20) & 0xFF;
        return " (family " + std::to_string(family) + ", model " + std::to_string(model) + ")";
    }
#endif
    return "";
}

}  // namespace

std::string processorName() {
#if defined(__i386__) || defined(__x86_64__)
    unsigned words[12] = {};
    if (static_cast<unsigned>(__get_cpuid_max(0x80000000u, nullptr)) >= 0x80000004u) {
        for (unsigned leaf = 0; leaf < 3; ++leaf) {
            __get_cpuid(0x80000002u + leaf, &words[4 * leaf], &words[4 * leaf + 1],
                        &words[4 * leaf + 2], &words[4 * leaf + 3]);
        }
        char text[sizeof words + 1] = {};
        std::memcpy(text, words, sizeof words);
        std::string name(text);
        const auto first = name.find_first_not_of(' ');
        const auto last = name.find_last_not_of(' ');
        if (first != std::string::npos)
            return name.substr(first, last - first + 1) + familyAndModel();
    }
#endif
    return "unknown processor";
}

}  // namespace quelmor
