// The table of calls every build of the modules must answer as it says: the
// gateway test makes each through the stand-in host, and make_vectors writes
// each as a shared call vector that the Linux, Windows and Octave builds answer.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "matrix_file.h"

struct CallCase {
    std::string name;
    std::vector<Matrix> inputs;  // each a real double array
    int outputCount = 1;
    std::optional<Matrix> result;  // the image or sinogram the call returns, or
    std::string message;           // the error it raises
    std::string module = "Quelmor";  // or "QuelmorProject", "QuelmorSolve", "QuelmorFilter"
};

// The filtered views of a well-formed QuelmorFilter call, made as the Python
// package's fbp makes them: the core's shifts for a center or origin, or
// the given shifts, then the core's filter.
Matrix filteredSinogram(const std::vector<Matrix>& inputs);

// Every case: for each module, worked examples, rounding boundaries, scenes,
// argument handling and every rejection, then seeded random calls.
std::vector<CallCase> callCases();
