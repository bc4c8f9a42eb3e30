#include "matrix_call.h"

#include <algorithm>

MatrixCallResult callWithArrays(GatewayFunction gateway, int outputCount,
                                const std::vector<const mxArray*>& inputs) {
    MatrixCallResult result;
    // A host always has room for the first result, even when none was asked for.
    std::vector<mxArray*> outputs(std::max(outputCount, 1), nullptr);
    std::vector<const mxArray*> inputSlots(inputs);
    result.finished =
        standinCallGateway(gateway, outputCount, outputs.data(),
                           static_cast<int>(inputSlots.size()), inputSlots.data(), result.message);
    if (result.finished && outputs[0] != nullptr) {
        result.hasImage = true;
        result.image.rows = static_cast<std::uint32_t>(mxGetM(outputs[0]));
        result.image.columns = static_cast<std::uint32_t>(mxGetN(outputs[0]));
        const double* values = mxGetPr(outputs[0]);
        if (values != nullptr) {
            result.image.values.assign(values, values + mxGetNumberOfElements(outputs[0]));
        }
    }
    for (mxArray* output : outputs) mxDestroyArray(output);
    return result;
}

MatrixCallResult callWithMatrices(GatewayFunction gateway, int outputCount,
                                  const std::vector<Matrix>& inputs) {
    std::vector<mxArray*> arrays;
    auto destroyAll = [&arrays] {
        for (mxArray* array : arrays) mxDestroyArray(array);
    };
    for (const Matrix& input : inputs) {
        mxArray* array = standinCreateArray(StandinClass::RealDouble, input.rows, input.columns);
        if (array == nullptr || input.values.size() != std::uint64_t{input.rows} * input.columns) {
            MatrixCallResult problem;
            problem.hostProblem = "cannot hold a " + std::to_string(input.rows) + " x " +
                                  std::to_string(input.columns) + " input matrix";
            mxDestroyArray(array);
            destroyAll();
            return problem;
        }
        std::copy(input.values.begin(), input.values.end(), mxGetPr(array));
        arrays.push_back(array);
    }
    const MatrixCallResult result =
        callWithArrays(gateway, outputCount, {arrays.begin(), arrays.end()});
    destroyAll();
    return result;
}
