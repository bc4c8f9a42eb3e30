// Matrix files: little-endian uint32 rows, uint32 columns, then rows x columns
// little-endian float64 in column-major order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Matrix {
    std::uint32_t rows = 0;
    std::uint32_t columns = 0;
    std::vector<double> values;  // column-major
};

// False with `error` set when the file is missing, truncated or malformed.
bool readMatrixFile(const std::string& path, Matrix& matrix, std::string& error);
bool writeMatrixFile(const std::string& path, const Matrix& matrix, std::string& error);
