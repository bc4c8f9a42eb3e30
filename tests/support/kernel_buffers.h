// Buffers for kernel tests: arrays bracketed by NaN guard bands, so that a
// stray read shows as a NaN pixel and a stray write as a changed guard even
// where no sanitizer runs (Wine, Octave), and the NaN-tolerant comparison of
// images that every agreement check uses.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quelmor::testing {

// Byte for byte, except that any NaN matches any NaN: when two NaNs meet in
// one addition, which one's sign and payload survives depends on the operand
// order the compiler picks, and IEEE 754 leaves it open.
inline bool sameBytes(const double* a, const double* b, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (std::isnan(a[i]) && std::isnan(b[i])) continue;
        if (std::memcmp(&a[i], &b[i], sizeof(double)) != 0) return false;
    }
    return true;
}
inline bool sameBytes(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && sameBytes(a.data(), b.data(), a.size());
}

// `values` with a band of guard NaNs (a payload no arithmetic makes) on either side.
class GuardedArray {
public:
    static constexpr std::size_t guardLength = 24;

    explicit GuardedArray(const std::vector<double>& values)
        : storage_(values.size() + 2 * guardLength, guardValue()), size_(values.size()) {
        std::copy(values.begin(), values.end(), storage_.begin() + guardLength);
    }
    double* data() { return storage_.data() + guardLength; }
    const double* data() const { return storage_.data() + guardLength; }
    std::vector<double> values() const { return {data(), data() + size_}; }

    bool guardsIntact() const {
        const double guard = guardValue();
        for (std::size_t i = 0; i < guardLength; ++i) {
            if (std::memcmp(&storage_[i], &guard, sizeof guard) != 0) return false;
            if (std::memcmp(&storage_[guardLength + size_ + i], &guard, sizeof guard) != 0)
                return false;
        }
        return true;
    }

private:
    static double guardValue() {
        const std::uint64_t bits = 0x7FF8'0000'0BAD'F00Dull;
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    std::vector<double> storage_;
    std::size_t size_;
};

}  // namespace quelmor::testing
