// Stand-in array library (libmx): arrays are a class tag, two dimensions and
// a buffer of doubles, zero-filled on creation.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "standin_host.h"

struct mxArray_tag {
    StandinClass kind;
    std::size_t rows;
    std::size_t columns;
    std::vector<double> data;
};

// Counters shared by every thread that calls through the stand-in.
namespace {
std::atomic<long> liveArrays = 0;
std::atomic<long> arrayReads = 0;
}  // namespace

extern "C" {

STANDIN_API mxArray* standinCreateArray(StandinClass kind, std::size_t rows, std::size_t columns) {
    std::size_t elements = 0;
    if (__builtin_mul_overflow(rows, columns, &elements) ||
        elements > std::vector<double>().max_size()) {
        return nullptr;
    }
    mxArray_tag* array = nullptr;
    try {
        array = new mxArray_tag{kind, rows, columns, std::vector<double>(elements, 0.0)};
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    ++liveArrays;
    return array;
}

STANDIN_API mxArray* standinCreateShapeOnly(std::size_t rows, std::size_t columns) {
    auto* array = new mxArray_tag{StandinClass::RealDouble, rows, columns, {}};
    ++liveArrays;
    return array;
}

STANDIN_API void mxDestroyArray(mxArray* array) {
    if (array == nullptr) return;
    delete array;
    --liveArrays;
}

STANDIN_API long standinLiveArrays() { return liveArrays; }
STANDIN_API long standinArrayReads() { return arrayReads; }
STANDIN_API void standinResetArrayReads() { arrayReads = 0; }

// Like a real host, an empty array has no data address.
STANDIN_API double* mxGetPr(const mxArray* array) {
    ++arrayReads;
    auto* writable = const_cast<mxArray*>(array);
    return writable->data.empty() ? nullptr : writable->data.data();
}
STANDIN_API mwSize mxGetM(const mxArray* array) {
    ++arrayReads;
    return array->rows;
}
STANDIN_API mwSize mxGetN(const mxArray* array) {
    ++arrayReads;
    return array->columns;
}
STANDIN_API mwSize mxGetNumberOfElements(const mxArray* array) {
    ++arrayReads;
    return array->rows * array->columns;
}
STANDIN_API bool mxIsDouble(const mxArray* array) {
    ++arrayReads;
    return array->kind == StandinClass::RealDouble || array->kind == StandinClass::ComplexDouble ||
           array->kind == StandinClass::SparseDouble;
}
STANDIN_API bool mxIsComplex(const mxArray* array) {
    ++arrayReads;
    return array->kind == StandinClass::ComplexDouble;
}
STANDIN_API bool mxIsSparse(const mxArray* array) {
    ++arrayReads;
    return array->kind == StandinClass::SparseDouble;
}

// Negative sizes are refused, as a host refuses them: the module must never
// ask. A host that cannot find the memory ends the whole call, never returning
// a null handle; the stand-in ends its process with a message of its own.
STANDIN_API mxArray* mxCreateDoubleMatrix_700(int rows, int columns, mxComplexity complexity) {
    if (rows < 0 || columns < 0 || complexity != mxREAL) std::abort();
    mxArray* array = standinCreateArray(StandinClass::RealDouble, static_cast<std::size_t>(rows),
                                        static_cast<std::size_t>(columns));
    if (array == nullptr) {
        std::fprintf(stderr, "stand-in host: out of memory for a %d x %d matrix\n", rows, columns);
        std::exit(2);
    }
    return array;
}

}  // extern "C"
