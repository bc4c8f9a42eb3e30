// The host operations the module imports, each once:
//   X(library, result type, name, parameter list)
// The binding declares them from this list (mex_binding.h), the Windows build
// writes the import definitions of libmx.dll and libmex.dll from it, and the
// module's symbol check expects exactly its names.
#pragma once

#define QUELMOR_HOST_OPERATIONS(X)                                                                 \
    X(libmx, double*, mxGetPr, (const mxArray* array))                                             \
    X(libmx, mwSize, mxGetM, (const mxArray* array))                                               \
    X(libmx, mwSize, mxGetN, (const mxArray* array))                                               \
    X(libmx, mwSize, mxGetNumberOfElements, (const mxArray* array))                                \
    X(libmx, bool, mxIsDouble, (const mxArray* array))                                             \
    X(libmx, bool, mxIsComplex, (const mxArray* array))                                            \
    X(libmx, bool, mxIsSparse, (const mxArray* array))                                             \
    X(libmx, mxArray*, mxCreateDoubleMatrix_700, (int rows, int columns, mxComplexity complexity)) \
    /* Shows the message as an error and ends the call; it does not return. */                     \
    X(libmex, void, mexErrMsgTxt, (const char* message))
