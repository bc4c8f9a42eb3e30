// The host operations the gateway uses, declared with the host's C ABI.
//
// Built for GNU Octave (QUELMOR_HOST_OCTAVE), the host's own header supplies
// them; elsewhere these declarations stand, and the symbols are resolved from
// the host's array library (libmx) and extension library (libmex) at load time.
#pragma once

#include <cstddef>

#if QUELMOR_HOST_OCTAVE
#include <mex.h>
// Octave's create operation takes the place of the versioned 32-bit one.
#define mxCreateDoubleMatrix_700 mxCreateDoubleMatrix
#else
extern "C" {

typedef struct mxArray_tag mxArray;
typedef std::size_t mwSize;
typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

double* mxGetPr(const mxArray* array);
mwSize mxGetM(const mxArray* array);
mwSize mxGetN(const mxArray* array);
mwSize mxGetNumberOfElements(const mxArray* array);
bool mxIsDouble(const mxArray* array);
bool mxIsComplex(const mxArray* array);
bool mxIsSparse(const mxArray* array);
mxArray* mxCreateDoubleMatrix_700(int rows, int columns, mxComplexity complexity);

// Shows the message as an error and ends the call; it does not return.
void mexErrMsgTxt(const char* message);

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

extern "C" QUELMOR_MODULE_EXPORT QUELMOR_ENTRY_STACK void mexFunction(int outputCount, mxArray* outputs[],
                                                  int inputCount, const mxArray* inputs[]);
