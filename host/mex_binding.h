// The host operations the gateway uses, declared with the host's C ABI.
//
// Built for GNU Octave (QUELMOR_HOST_OCTAVE), the host's own header supplies
// them; elsewhere they are declared from host_operations.h, and the symbols are
// resolved from the host's array library (libmx) and extension library (libmex)
// at load time.
#pragma once

#include <cstddef>

#include "host_operations.h"

#if QUELMOR_HOST_OCTAVE
#include <mex.h>
// Octave's create operation takes the place of the versioned 32-bit one.
#define mxCreateDoubleMatrix_700 mxCreateDoubleMatrix
#else
extern "C" {

typedef struct mxArray_tag mxArray;
typedef std::size_t mwSize;
typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

#define QUELMOR_DECLARE_HOST_OPERATION(library, result, name, parameters) result name parameters;
QUELMOR_HOST_OPERATIONS(QUELMOR_DECLARE_HOST_OPERATION)
#undef QUELMOR_DECLARE_HOST_OPERATION

}  // extern "C"
#endif

#if defined(_WIN32)
#define QUELMOR_MODULE_EXPORT __declspec(dllexport)
#else
#define QUELMOR_MODULE_EXPORT __attribute__((visibility("default")))
#endif

// A 64-bit Windows host that enters with the stack off its 16-byte alignment
// gets it realigned here: the SSE variants' memory operands need 16 bytes.
#if defined(_WIN64)
#define QUELMOR_ENTRY_STACK __attribute__((force_align_arg_pointer))
#else
#define QUELMOR_ENTRY_STACK
#endif

extern "C" QUELMOR_MODULE_EXPORT QUELMOR_ENTRY_STACK void mexFunction(int outputCount,
                                                                      mxArray* outputs[],
                                                                      int inputCount,
                                                                      const mxArray* inputs[]);
