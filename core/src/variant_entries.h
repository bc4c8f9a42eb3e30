// What each kernel variant's source file defines: `<name>Kernels`, one slot
// per operation, for every variant in core/CMakeLists.txt's list.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quelmor/accumulate_views.h"
#include "quelmor/project_views.h"
#include "variant_list.h"

namespace quelmor::detail {

// Every slot runs in whatever floating-point mode the thread is in.
struct BackprojectionKernel {
    // Adds every view into image columns [firstColumn, endColumn).
    void (*columnsInThreadMode)(const BackprojectionJob& job, std::int32_t firstColumn,
                                std::int32_t endColumn);
    std::int32_t laneWidth;
    // The same for `count` slices of one geometry (1 <= count <= sliceWidth),
    // their sinograms interleaved (interleaved_sinograms.h).
    void (*slicesInThreadMode)(const BackprojectionJob* slices, std::int32_t count,
                               const double* sinograms, std::int32_t firstColumn,
                               std::int32_t endColumn, double* scratch);
    std::size_t (*sliceScratchSize)(const BackprojectionJob& shape);
    std::int32_t sliceWidth;
};

struct ProjectionKernel {
    // Adds the image into views [firstView, endView).
    void (*viewsInThreadMode)(const ProjectionJob& job, std::int32_t firstView,
                              std::int32_t endView);
    // The same for `count` slices of one geometry (1 <= count <= sliceWidth),
    // their images interleaved.
    void (*slicesInThreadMode)(const ProjectionJob* slices, std::int32_t count,
                               const double* interleaved, std::int32_t firstView,
                               std::int32_t endView, double* scratch);
    std::size_t (*sliceScratchSize)(const ProjectionJob& shape);
    std::int32_t sliceWidth;
};

struct KernelSet {
    BackprojectionKernel backprojection;
    ProjectionKernel projection;
};

#define QUELMOR_DECLARE_KERNELS(name, features) extern const KernelSet name##Kernels;
QUELMOR_FOR_EACH_KERNEL_VARIANT(QUELMOR_DECLARE_KERNELS)
#undef QUELMOR_DECLARE_KERNELS

}  // namespace quelmor::detail
