// Helpers for callers setting up a scan, in the kernel's units (one pixel is
// one detector spacing unless a pixel size says otherwise).
#pragma once

#include <cmath>
#include <cstdint>

namespace quelmor {

// Detector samples that cover the image's whole diagonal at every angle,
// for pixels `pixelSize` detector spacings wide, with a few samples to spare.
inline std::int32_t coveringDetectorCount(std::int32_t imageSize, double pixelSize = 1.0) {
    return 2 * static_cast<std::int32_t>(std::ceil(0.7072 * imageSize * pixelSize)) + 5;
}

}  // namespace quelmor
