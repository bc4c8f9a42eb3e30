// One call of a module's gateway through the stand-in host, as a host makes it.
#pragma once

#include <string>
#include <vector>

#include "matrix_file.h"
#include "standin_host.h"

struct MatrixCallResult {
    std::string hostProblem;  // not empty: the stand-in could not make the call
    bool finished = false;    // false: the module raised `message`
    std::string message;
    bool hasImage = false;  // the first output slot was filled
    Matrix image;
};

// Calls `gateway` on `inputs`, which stay the caller's, and copies out the
// first output. Every output is destroyed before returning.
MatrixCallResult callWithArrays(GatewayFunction gateway, int outputCount,
                                const std::vector<const mxArray*>& inputs);

// Every input is passed as a real double array; the arrays are destroyed
// before returning.
MatrixCallResult callWithMatrices(GatewayFunction gateway, int outputCount,
                                  const std::vector<Matrix>& inputs);
