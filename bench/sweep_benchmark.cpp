// Giga pixel-updates per second (side^2 x views per second) of every kernel
// variant, of the module file called as a host calls it (one thread, its
// own dispatch, the image allocated by the stand-in host) and of the threaded
// entry, for sides 256, 512 and 1024 with 360 views, and their ratios to the
// reference measured in the same run. The
// "steep" scene at side 512 has pixels 2.2 detector samples wide, so every
// view has |c| + |s| > 2 and the most tilted are too steep for windows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "module_loader.h"
#include "quelmor/geometry_guide.h"
#include "quelmor/kernel_variants.h"
#include "quelmor/parallel.h"

namespace {

constexpr int viewCount = 360;
const char* const samplerNames[] = {"nearest", "linear"};

struct SceneKind {
    int imageSize;
    double pixelSize;  // in detector samples
    const char* label;
};
const SceneKind sceneKinds[] = {
    {256, 1.0, "256"}, {512, 1.0, "512"}, {1024, 1.0, "1024"}, {512, 2.2, "512steep"}};

struct Scene {
    int imageSize;
    int detectorCount;
    std::vector<double> projections, cosines, sines, image;

    explicit Scene(const SceneKind& kind)
        : imageSize(kind.imageSize),
          detectorCount(quelmor::coveringDetectorCount(kind.imageSize, kind.pixelSize)),
          image(static_cast<std::size_t>(kind.imageSize) * kind.imageSize, 0.0) {
        std::mt19937_64 random(1);
        std::uniform_real_distribution<double> sample(-1, 1);
        projections.resize(static_cast<std::size_t>(viewCount) * detectorCount);
        for (double& value : projections) value = sample(random);
        for (int v = 0; v < viewCount; ++v) {
            cosines.push_back(kind.pixelSize * std::cos(v * std::numbers::pi / viewCount));
            sines.push_back(kind.pixelSize * std::sin(v * std::numbers::pi / viewCount));
        }
    }
    quelmor::SweepJob job(int interpCode) {
        return {image.data(), projections.data(), detectorCount, cosines.data(),
                sines.data(), viewCount,          imageSize,     interpCode};
    }
};

Scene& sceneOf(const SceneKind& kind) {
    static std::map<std::string, Scene> scenes;
    return scenes.try_emplace(kind.label, kind).first->second;
}

void reportRate(benchmark::State& state, int imageSize) {
    state.counters["Gup/s"] =
        benchmark::Counter(static_cast<double>(imageSize) * imageSize * viewCount * 1e-9,
                           benchmark::Counter::kIsIterationInvariantRate);
}

// "threads" 0 runs the variant's own single-threaded sweep.
void runSweep(benchmark::State& state, const quelmor::KernelVariant* variant, unsigned threads,
              int interpCode, const SceneKind* kind) {
    Scene& scene = sceneOf(*kind);
    const int imageSize = scene.imageSize;
    const quelmor::SweepJob job = scene.job(interpCode);
    for (auto _ : state) {
        if (threads == 0) {
            variant->sweepColumns(job, 0, imageSize);
        } else {
            quelmor::accumulateViewsParallel(job, threads, variant);
        }
        benchmark::DoNotOptimize(scene.image.data());
        benchmark::ClobberMemory();
    }
    reportRate(state, imageSize);
}

// The module's mexFunction on the scene's arrays, through the stand-in host.
void runModule(benchmark::State& state, GatewayFunction gateway, int interpCode,
               const SceneKind* kind) {
    Scene& scene = sceneOf(*kind);
    auto matrix = [](std::size_t rows, std::size_t columns, const double* values) {
        mxArray* array = standinCreateArray(StandinClass::RealDouble, rows, columns);
        std::copy(values, values + rows * columns, mxGetPr(array));
        return array;
    };
    const double side = scene.imageSize, code = interpCode;
    const mxArray* inputs[] = {
        matrix(scene.detectorCount, viewCount, scene.projections.data()),
        matrix(1, viewCount, scene.cosines.data()), matrix(1, viewCount, scene.sines.data()),
        matrix(1, 1, &side), matrix(1, 1, &code)};
    std::string message;
    for (auto _ : state) {
        mxArray* image = nullptr;
        if (!standinCallGateway(gateway, 1, &image, 5, inputs, message)) {
            state.SkipWithError(message.c_str());
            break;
        }
        benchmark::DoNotOptimize(mxGetPr(image));
        mxDestroyArray(image);
    }
    for (const mxArray* input : inputs) mxDestroyArray(const_cast<mxArray*>(input));
    reportRate(state, scene.imageSize);
}

// Prints the usual table, then the ratios of the rates it collected.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        // With --benchmark_repetitions, the median of each benchmark's runs.
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type != Run::RT_Iteration && !median) continue;
            const std::string name = run.run_name.str();
            if (median || !medians_.count(name)) rates_[name] = run.counters.at("Gup/s").value;
            if (median) medians_.insert(name);
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const std::string best(quelmor::bestKernelVariant().name);
        std::printf(
            "\nGiga pixel-updates per second on %s, and ratios within this run (best "
            "single-thread variant: %s%s)\n",
            quelmor::processorName().c_str(), best.c_str(),
            medians_.empty() ? "" : "; medians of the repetitions");
        for (const SceneKind& kind : sceneKinds) {
            for (const char* sampler : samplerNames) {
                const std::string key = std::string(sampler) + "/" + kind.label + "/";
                const double reference = rate("reference/" + key);
                const double fast = rate(best + "/" + key);
                if (reference <= 0) continue;
                std::printf("side %-8s %-7s reference %6.3f", kind.label, sampler, reference);
                for (const auto& variant : quelmor::kernelVariants()) {
                    const double value = rate(std::string(variant.name) + "/" + key);
                    if (value > 0 && variant.name != "reference") {
                        std::printf(" | %s %6.3f (%4.2fx)", std::string(variant.name).c_str(),
                                    value, value / reference);
                    }
                }
                const double module = rate("module/" + key);
                if (module > 0) {
                    std::printf(" | module %6.3f (%4.2fx ref, %4.2fx %s)", module,
                                module / reference, module / fast, best.c_str());
                }
                for (unsigned threads : {1u, 2u}) {
                    const double value = rate("threads" + std::to_string(threads) + "/" + key);
                    if (value > 0) {
                        std::printf(" | %u thread%s %6.3f (%4.2fx ref, %4.2fx %s)", threads,
                                    threads > 1 ? "s" : "", value, value / reference, value / fast,
                                    best.c_str());
                    }
                }
                std::printf("\n");
            }
        }
    }

private:
    double rate(const std::string& prefix) const {
        for (const auto& [name, value] : rates_) {
            if (name.rfind(prefix, 0) == 0) return value;
        }
        return 0;
    }
    std::map<std::string, double> rates_;
    std::set<std::string> medians_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::string error;
    const auto module = LoadedModule::open(QUELMOR_MODULE_PATH, error);
    if (!module) std::fprintf(stderr, "module entries left out: %s\n", error.c_str());
    for (const SceneKind& kind : sceneKinds) {
        for (int code : {0, 1}) {
            const std::string suffix = std::string(samplerNames[code]) + "/" + kind.label;
            for (const auto& variant : quelmor::kernelVariants()) {
                if (!variant.isSupported()) continue;
                benchmark::RegisterBenchmark((std::string(variant.name) + "/" + suffix).c_str(),
                                             runSweep, &variant, 0u, code, &kind)
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
            }
            if (module) {
                benchmark::RegisterBenchmark(("module/" + suffix).c_str(), runModule,
                                             module->gateway(), code, &kind)
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
            }
            for (unsigned threads : {1u, 2u}) {
                if (threads > cores) continue;
                benchmark::RegisterBenchmark(
                    ("threads" + std::to_string(threads) + "/" + suffix).c_str(), runSweep,
                    &quelmor::bestKernelVariant(), threads, code, &kind)
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
            }
        }
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}
