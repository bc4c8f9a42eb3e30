// A stand-in for the numerical host's array and extension libraries, so the
// module can be loaded and called without a host: by tests, by the minihost
// loader and by the examples. Never linked into the module itself.
#pragma once

#include <cstddef>
#include <string>

#include "host_interface.h"

#if defined(_WIN32)
#define STANDIN_API __declspec(dllexport)
#else
#define STANDIN_API __attribute__((visibility("default")))
#endif

// Array kinds a host user can pass; only RealDouble is what the module reads.
enum class StandinClass {
    RealDouble,
    ComplexDouble,
    SparseDouble,
    Single,
    Int32,
    Logical,
    Char,
    Cell
};

extern "C" {
// Zero-filled; nullptr when rows x columns doubles cannot be held.
STANDIN_API mxArray* standinCreateArray(StandinClass kind, std::size_t rows, std::size_t columns);
// Dimensions without data (mxGetPr gives nullptr): lets tests pass sizes no
// memory could hold, to check that they are refused before any read.
STANDIN_API mxArray* standinCreateShapeOnly(std::size_t rows, std::size_t columns);
// Arrays created and not yet destroyed, for leak checks.
STANDIN_API long standinLiveArrays();
// Calls of the host's read operations (mxGetPr, mxGetM, ...) since the last reset.
STANDIN_API long standinArrayReads();
STANDIN_API void standinResetArrayReads();
}

// Calls the gateway the way a host does. Returns true when it finished; when
// it raised an error, returns false with the message, and destroys whatever it
// had placed in the output slots, as a host does.
STANDIN_API bool standinCallGateway(GatewayFunction gateway, int outputCount, mxArray** outputs,
                                    int inputCount, const mxArray** inputs, std::string& message);
