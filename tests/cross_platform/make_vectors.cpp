// Writes the table of call cases as the shared call vectors that every build
// of the module (Linux, Windows under Wine, GNU Octave) must answer as the
// table says: one folder per call holding in1..inK as matrix files, `nargout`
// (the number of results asked for), `module` (the module it calls) and either
// `expected`, the result's matrix file, or `expected_message`, the error's text. With --fuzz-seeds, writes
// the same calls (those small enough) in the byte form gateway_fuzzer decodes,
// as its seed corpus: MODULE's calls alone.
//
//   make_vectors DIR
//   make_vectors --fuzz-seeds DIR MODULE
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "call_cases.h"

namespace {

namespace fs = std::filesystem;

// gateway_fuzzer's form: input and output counts, then per array a class byte
// (0: real double), rows, columns and, per element, selector 0 and the
// double's eight bytes. Calls with a dimension over 47 do not fit.
bool writeFuzzSeed(const fs::path& path, const CallCase& call) {
    std::string bytes{static_cast<char>(call.inputs.size()), static_cast<char>(call.outputCount)};
    for (const Matrix& input : call.inputs) {
        if (input.rows > 47 || input.columns > 47) return false;
        bytes += {0, static_cast<char>(input.rows), static_cast<char>(input.columns)};
        for (double value : input.values) {
            bytes += '\0';
            bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
        }
    }
    std::ofstream(path, std::ios::binary) << bytes;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const bool fuzzSeeds = argc == 4 && std::string(argv[1]) == "--fuzz-seeds";
    if (argc != 2 && !fuzzSeeds) {
        std::fprintf(stderr, "usage: make_vectors DIR | make_vectors --fuzz-seeds DIR MODULE\n");
        return 2;
    }
    const fs::path directory = argv[fuzzSeeds ? 2 : 1];
    const std::vector<CallCase> calls = callCases();
    int written = 0;
    for (const CallCase& call : calls) {
        if (fuzzSeeds) {
            if (call.module != argv[3]) continue;
            fs::create_directories(directory);
            written += writeFuzzSeed(directory / call.name, call);
            continue;
        }
        const fs::path folder = directory / call.name;
        fs::create_directories(folder);
        std::string error;
        for (std::size_t i = 0; i < call.inputs.size(); ++i) {
            if (!writeMatrixFile((folder / ("in" + std::to_string(i + 1))).string(), call.inputs[i],
                                 error)) {
                std::fprintf(stderr, "make_vectors: %s\n", error.c_str());
                return 1;
            }
        }
        std::ofstream(folder / "nargout") << call.outputCount << "\n";
        std::ofstream(folder / "module") << call.module << "\n";
        if (!call.result) {
            std::ofstream(folder / "expected_message") << call.message << "\n";
        } else if (!writeMatrixFile((folder / "expected").string(), *call.result, error)) {
            std::fprintf(stderr, "make_vectors: %s\n", error.c_str());
            return 1;
        }
        ++written;
    }
    std::printf("%d calls written to %s\n", written, directory.c_str());
    return 0;
}
