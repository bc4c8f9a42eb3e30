// The host operations the module imports, and their C types as each side of
// the module/host boundary declares them.
#pragma once

#include <string>
#include <utility>
#include <vector>

#define QUELMOR_HOST_OPERATIONS(X) \
    X(mxGetPr)                     \
    X(mxGetM)                      \
    X(mxGetN)                      \
    X(mxGetNumberOfElements)       \
    X(mxIsDouble)                  \
    X(mxIsComplex)                 \
    X(mxIsSparse)                  \
    X(mxCreateDoubleMatrix_700)    \
    X(mexErrMsgTxt)

// {operation, its type's mangled name}, the entry point (mexFunction) last.
using Signatures = std::vector<std::pair<std::string, std::string>>;

// As the module's binding (host/mex_binding.h) declares them.
Signatures moduleBindingSignatures();
