// The sinograms of a pack of slices as the backprojection's slice path reads
// them: one slice per lane, each view's samples between zero slots, so that
// a lane-uniform slot index needs no mask.
//
// View v, slot s, slice i sits at (v * slots + s) * width + i. Slot 0 is what
// a coordinate off the detector reads, slot 1 the zero before sample 0, slot
// b + firstSampleSlot sample b, and the last slot the zero after the last
// sample. Lanes no slice fills hold zeros.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quelmor/accumulate_views.h"

namespace quelmor::detail {
namespace {

inline constexpr std::ptrdiff_t firstSinogramSlot = 2;

inline std::ptrdiff_t sinogramSlots(std::int32_t detectorCount) {
    return (detectorCount > 0 ? detectorCount : 0) + firstSinogramSlot + 1;
}

// Whether a view's slots, counted in doubles, fit 32-bit indices.
inline bool sinogramSlotsFitIndices(std::int32_t detectorCount, std::int32_t width) {
    return static_cast<std::int64_t>(sinogramSlots(detectorCount)) * width <= INT32_MAX;
}

// The doubles they take; the largest size_t where that does not fit in one
// (a 32-bit build), which no allocation grants.
inline std::size_t interleavedSinogramDoubles(const BackprojectionJob& shape, std::int32_t width) {
    const std::uint64_t views =
        shape.viewCount > 0 ? static_cast<std::uint64_t>(shape.viewCount) : 0;
    // At most 2^31 views, 2^31 + 2 slots and 2^6 lanes: no 64-bit overflow.
    const std::uint64_t doubles = views *
                                  static_cast<std::uint64_t>(sinogramSlots(shape.detectorCount)) *
                                  static_cast<std::uint64_t>(width);
    return doubles > SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(doubles);
}

// Views [firstView, endView) of the first `count` slices (at most width).
inline void interleaveSinograms(const BackprojectionJob* slices, std::int32_t count,
                                std::int32_t width, std::int32_t firstView, std::int32_t endView,
                                double* interleaved) {
    const std::ptrdiff_t detectorCount = slices[0].detectorCount > 0 ? slices[0].detectorCount : 0;
    const std::ptrdiff_t slots = sinogramSlots(slices[0].detectorCount);
    for (std::ptrdiff_t v = firstView; v < endView; ++v) {
        double* column = interleaved + v * slots * width;
        // The zero slots, then each lane's samples (zeros where no slice fills it).
        for (std::int32_t i = 0; i < firstSinogramSlot * width; ++i) column[i] = 0.0;
        for (std::int32_t i = 0; i < width; ++i) column[(slots - 1) * width + i] = 0.0;
        double* slot = column + firstSinogramSlot * width;
        for (std::ptrdiff_t b = 0; b < detectorCount; ++b, slot += width) {
            for (std::int32_t i = 0; i < count; ++i)
                slot[i] = slices[i].projections[v * detectorCount + b];
            for (std::int32_t i = count; i < width; ++i) slot[i] = 0.0;
        }
    }
}

}  // namespace
}  // namespace quelmor::detail
