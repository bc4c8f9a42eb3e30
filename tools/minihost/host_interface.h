// The host's C interface as a host provides it: the array library's (libmx)
// and the extension library's (libmex) operations a module may import, and
// the entry point a host calls. Written from the host's side, independently
// of any module's declarations, so a module's binding can be checked against it.
#pragma once

#include <cstddef>

extern "C" {

typedef struct mxArray_tag mxArray;
// The host's size type: as wide as a pointer (64-bit on 64-bit hosts).
typedef std::size_t mwSize;
typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

double* mxGetPr(const mxArray* array);
mwSize mxGetM(const mxArray* array);
mwSize mxGetN(const mxArray* array);
mwSize mxGetNumberOfElements(const mxArray* array);
bool mxIsDouble(const mxArray* array);
bool mxIsComplex(const mxArray* array);
bool mxIsSparse(const mxArray* array);
// The versioned create operation keeps 32-bit dimensions on every host.
mxArray* mxCreateDoubleMatrix_700(int rows, int columns, mxComplexity complexity);
void mxDestroyArray(mxArray* array);

// Raises `message` as the call's error and ends the call: it never returns.
void mexErrMsgTxt(const char* message);

}  // extern "C"

// A module's entry point, mexFunction.
using GatewayFunction = void (*)(int outputCount, mxArray* outputs[], int inputCount,
                                 const mxArray* inputs[]);
