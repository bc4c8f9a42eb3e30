#include "matrix_file.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

// Every platform this builds for is little-endian, so the bytes are copied as they lie.
static_assert(sizeof(double) == 8);

std::uint32_t readUint32(const unsigned char* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

}  // namespace

bool readMatrixFile(const std::string& path, Matrix& matrix, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open matrix file";
        return false;
    }
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in),
                                           std::istreambuf_iterator<char>()};
    if (bytes.size() < 8) {
        error = path + ": truncated matrix file (no header)";
        return false;
    }
    matrix.rows = readUint32(bytes.data());
    matrix.columns = readUint32(bytes.data() + 4);
    // rows x columns fits in 64 bits, but x 8 may not: compare element counts.
    const std::uint64_t count = std::uint64_t{matrix.rows} * matrix.columns;
    const std::uint64_t dataBytes = bytes.size() - 8;
    if (dataBytes % 8 != 0 || dataBytes / 8 != count) {
        error = path + ": malformed matrix file: " + std::to_string(matrix.rows) + " x " +
                std::to_string(matrix.columns) + " needs " + std::to_string(count) +
                " doubles, found " + std::to_string(dataBytes) + " data bytes";
        return false;
    }
    matrix.values.resize(count);
    if (count > 0) std::memcpy(matrix.values.data(), bytes.data() + 8, dataBytes);
    return true;
}

bool writeMatrixFile(const std::string& path, const Matrix& matrix, std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::uint32_t header[2] = {matrix.rows, matrix.columns};
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    out.write(reinterpret_cast<const char*>(matrix.values.data()),
              static_cast<std::streamsize>(matrix.values.size() * sizeof(double)));
    out.close();
    if (!out) {
        error = path + ": cannot write matrix file";
        return false;
    }
    return true;
}
