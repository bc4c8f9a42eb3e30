// minihost: runs a module on matrix files without a numerical host.
//
//   minihost [--nargout K] MODULE OUTPUT INPUT...
//
// Exit 0: the first output slot was written to OUTPUT. Exit 1: the module
// raised an error, printed alone on one line of standard error; OUTPUT is not
// written. Exit 2: a problem of the loader's own (usage, a bad matrix file, a
// module that cannot be loaded).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "matrix_call.h"
#include "module_loader.h"

namespace {

int loaderError(const std::string& message) {
    std::fprintf(stderr, "minihost: %s\n", message.c_str());
    return 2;
}

bool parseCount(const char* text, int& count) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 64) return false;
    count = static_cast<int>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    int outputCount = 1;
    if (!args.empty() && args[0] == "--nargout") {
        if (args.size() < 2 || !parseCount(args[1].c_str(), outputCount)) {
            return loaderError("--nargout needs a count from 0 to 64");
        }
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() < 2) {
        return loaderError("usage: minihost [--nargout K] MODULE OUTPUT INPUT...");
    }
    std::vector<Matrix> inputs(args.size() - 2);
    std::string error;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (!readMatrixFile(args[i + 2], inputs[i], error)) return loaderError(error);
    }
    const auto module = LoadedModule::open(args[0], error);
    if (!module) return loaderError(error);

    const MatrixCallResult result = callWithMatrices(module->gateway(), outputCount, inputs);
    if (!result.hostProblem.empty()) return loaderError(result.hostProblem);
    if (!result.finished) {
        std::fprintf(stderr, "%s\n", result.message.c_str());
        return 1;
    }
    if (!result.hasImage) return loaderError("the module left the first output slot empty");
    if (!writeMatrixFile(args[1], result.image, error)) return loaderError(error);
    return 0;
}
