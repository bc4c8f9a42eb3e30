// Giga pixel-updates per second (side^2 x views per second) of every kernel
// variant, of the module file called as a host calls it (one thread, its
// own dispatch, the image allocated by the stand-in host) and of the threaded
// entry, for sides 256, 512 and 1024 with 360 views, and their ratios to the
// reference measured in the same run. The "steep" scene at side 512 has
// pixels 2.2 detector samples wide, so every view has |c| + |s| > 2. Where
// the processor has AVX-512, avx512window at side 512 also runs beside its
// own loop on tiles held in registers (register_step_loop.h).
//
// Then the work users run, through the module only: few and many views,
// large images, coarse grids (pixels several detector spacings wide), each
// as a ratio to the module's 512 x 360 rate. --baseline-module=PATH times
// another build's module file beside this one's on the same scenes.
//
// Last the projection beside the backprojection, on the same work and in the
// same run: every variant at 512 x 360, and the best variant on pixels 2 and
// 4 detector spacings wide, on a stack of 16 slices and on two threads.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <numbers>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "module_loader.h"
#ifdef QUELMOR_REGISTER_STEP_LOOP
#include "register_step_loop.h"
#endif
#include "quelmor/geometry_guide.h"
#include "quelmor/kernel_variants.h"
#include "quelmor/parallel.h"

namespace {

const char* const samplerNames[] = {"nearest", "linear"};

struct SceneKind {
    int imageSize;
    int viewCount;
    double pixelSize;  // in detector samples
    const char* label;
};
// Every variant runs these.
const SceneKind variantScenes[] = {{256, 360, 1.0, "256"},
                                   {512, 360, 1.0, "512"},
                                   {1024, 360, 1.0, "1024"},
                                   {512, 360, 2.2, "512steep"}};
// The module alone runs these; the first is the rate the others are compared with.
const SceneKind workloads[] = {
    {512, 360, 1.0, "512x360"},   {512, 90, 1.0, "512x90"},       {512, 100, 1.0, "512x100"},
    {512, 180, 1.0, "512x180"},   {512, 200, 1.0, "512x200"},     {512, 3600, 1.0, "512x3600"},
    {256, 360, 1.0, "256x360"},   {1024, 1800, 1.0, "1024x1800"}, {2048, 1800, 1.0, "2048x1800"},
    {4096, 90, 1.0, "4096x90"},   {512, 360, 2.0, "512x360px2"},  {512, 360, 3.0, "512x360px3"},
    {512, 360, 4.0, "512x360px4"}};
// Workloads the threaded entry runs too, on one thread and on two.
const char* const threadedWorkloads[] = {"512x360", "1024x1800", "4096x90"};

struct Scene {
    int imageSize;
    int viewCount;
    int detectorCount;
    std::vector<double> projections, cosines, sines, image;

    explicit Scene(const SceneKind& kind)
        : imageSize(kind.imageSize),
          viewCount(kind.viewCount),
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
    quelmor::BackprojectionJob job(int interpCode) {
        return {image.data(), projections.data(), detectorCount, cosines.data(),
                sines.data(), viewCount,          imageSize,     interpCode};
    }
    // The projection of the views' values, taken as an image, into `sinogram`.
    quelmor::ProjectionJob projectionJob(int interpCode, std::vector<double>& sinogram) const {
        sinogram.assign(projections.size(), 0.0);
        return {sinogram.data(), projections.data(), detectorCount, cosines.data(),
                sines.data(),    viewCount,          imageSize,     interpCode};
    }
};

Scene& sceneOf(const SceneKind& kind) {
    static std::map<std::string, Scene> scenes;
    return scenes.try_emplace(kind.label, kind).first->second;
}

void reportRate(benchmark::State& state, const Scene& scene) {
    state.counters["Gup/s"] = benchmark::Counter(
        static_cast<double>(scene.imageSize) * scene.imageSize * scene.viewCount * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate);
}

// "threads" 0 runs the variant's own single-threaded sweep.
void runSweep(benchmark::State& state, const quelmor::KernelVariant* variant, unsigned threads,
              int interpCode, const SceneKind* kind) {
    Scene& scene = sceneOf(*kind);
    const int imageSize = scene.imageSize;
    const quelmor::BackprojectionJob job = scene.job(interpCode);
    for (auto _ : state) {
        if (threads == 0) {
            variant->backprojectColumns(job, 0, imageSize);
        } else {
            quelmor::accumulateViewsParallel(job, threads, variant);
        }
        benchmark::DoNotOptimize(scene.image.data());
        benchmark::ClobberMemory();
    }
    reportRate(state, scene);
}

#ifdef QUELMOR_REGISTER_STEP_LOOP
// The windowed AVX-512 sweep's views down tiles held in registers
// (register_step_loop.h), on the scene's whole image.
const char* const stepLoopVariant = "avx512window";
void runStepLoop(benchmark::State& state, int interpCode, const SceneKind* kind) {
    Scene& scene = sceneOf(*kind);
    const quelmor::BackprojectionJob job = scene.job(interpCode);
    double checksum = 0;
    for (auto _ : state) {
        if (!quelmor::bench::avx512RegisterStepLoop(job, checksum)) {
            state.SkipWithError("a view takes another plan than one window per tile");
            break;
        }
        benchmark::DoNotOptimize(checksum);
    }
    reportRate(state, scene);
}
#endif

// The operations timed side by side: one image on one thread (the
// variant's own entry) or on `threads` threads, or a stack of `slices`
// images sharing the scene's geometry (the stack entries, one thread).
enum class Operation { backprojection, projection };
struct Work {
    Operation operation;
    unsigned threads;  // 0: the variant's own single-threaded entry
    int slices;        // 0: one image
};

void runWork(benchmark::State& state, const quelmor::KernelVariant* variant, Work work,
             int interpCode, const SceneKind* kind) {
    Scene& scene = sceneOf(*kind);
    const int images = work.slices > 0 ? work.slices : 1;
    std::vector<std::vector<double>> outputs(images);
    std::vector<quelmor::BackprojectionJob> backprojections;
    std::vector<quelmor::ProjectionJob> projections;
    for (auto& output : outputs) {
        if (work.operation == Operation::projection) {
            projections.push_back(scene.projectionJob(interpCode, output));
        } else {
            output = scene.image;
            backprojections.push_back(scene.job(interpCode));
            backprojections.back().image = output.data();
        }
    }
    for (auto _ : state) {
        if (work.operation == Operation::projection) {
            if (work.slices > 0) {
                quelmor::projectStackParallel(projections, 1, variant);
            } else if (work.threads == 0) {
                variant->projectViews(projections[0], 0, scene.viewCount);
            } else {
                quelmor::projectViewsParallel(projections[0], work.threads, variant);
            }
        } else {
            if (work.slices > 0) {
                quelmor::accumulateStackParallel(backprojections, 1, variant);
            } else if (work.threads == 0) {
                variant->backprojectColumns(backprojections[0], 0, scene.imageSize);
            } else {
                quelmor::accumulateViewsParallel(backprojections[0], work.threads, variant);
            }
        }
        benchmark::DoNotOptimize(outputs[0].data());
        benchmark::ClobberMemory();
    }
    state.counters["Gup/s"] = benchmark::Counter(
        static_cast<double>(scene.imageSize) * scene.imageSize * scene.viewCount * images * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate);
}

// The projection's work, each timed for both operations.
struct PairedWork {
    const char* label;
    SceneKind scene;
    Work work;  // its operation is set per run
};
const PairedWork pairedWorks[] = {
    {"512x360", {512, 360, 1.0, "512x360"}, {Operation::projection, 0, 0}},
    {"512x360px2", {512, 360, 2.0, "512x360px2"}, {Operation::projection, 0, 0}},
    {"512x360px3", {512, 360, 3.0, "512x360px3"}, {Operation::projection, 0, 0}},
    {"512x360px4", {512, 360, 4.0, "512x360px4"}, {Operation::projection, 0, 0}},
    {"stack16", {512, 360, 1.0, "512x360"}, {Operation::projection, 0, 16}},
    {"stack16px2", {512, 360, 2.0, "512x360px2"}, {Operation::projection, 0, 16}},
    {"stack16px3", {512, 360, 3.0, "512x360px3"}, {Operation::projection, 0, 16}},
    {"stack16px4", {512, 360, 4.0, "512x360px4"}, {Operation::projection, 0, 16}},
    {"threads1", {512, 360, 1.0, "512x360"}, {Operation::projection, 1, 0}},
    {"threads2", {512, 360, 1.0, "512x360"}, {Operation::projection, 2, 0}},
};
const char* const operationNames[] = {"backprojection", "projection"};

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
        matrix(scene.detectorCount, scene.viewCount, scene.projections.data()),
        matrix(1, scene.viewCount, scene.cosines.data()),
        matrix(1, scene.viewCount, scene.sines.data()), matrix(1, 1, &side), matrix(1, 1, &code)};
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
    reportRate(state, scene);
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
        for (const SceneKind& kind : variantScenes) {
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
        printStepLoop();
        printWorkloads();
        printProjection();
        printStacks();
    }

private:
    // The sweep's share of its own loop with the tiles in registers.
    void printStepLoop() const {
        if (!hasPrefix("registers/")) return;
        std::printf(
            "\nThe sweep against its views down 8 x 8 tiles held in registers (no tile loads, "
            "transposes or stores), side 512, Gup/s\n");
        for (const char* sampler : samplerNames) {
            const std::string key = std::string(sampler) + "/512/";
            for (const auto& variant : quelmor::kernelVariants()) {
                const double loop = rate("registers/" + std::string(variant.name) + "/" + key);
                const double sweep = rate(std::string(variant.name) + "/" + key);
                if (loop > 0 && sweep > 0)
                    std::printf("%-12s %-7s registers %6.3f | sweep %6.3f (%4.2f of it)\n",
                                std::string(variant.name).c_str(), sampler, loop, sweep,
                                sweep / loop);
            }
        }
    }

    // The backprojection of 16 slices of one geometry (lanes across slices)
    // beside one slice's, and on coarse grids beside the stack's unit grid.
    void printStacks() const {
        if (!hasPrefix("backprojection/")) return;
        std::printf(
            "\nBackprojection of a stack of 16 slices beside one slice on %s, one thread, Gup/s\n",
            quelmor::processorName().c_str());
        std::printf("%-14s %-8s %-6s %9s %9s %7s %13s\n", "variant", "sampler", "pixel",
                    "one slice", "stack", "ratio", "of stack 1px");
        for (const char* sampler : samplerNames) {
            for (const auto& variant : quelmor::kernelVariants()) {
                const std::string prefix =
                    "backprojection/" + std::string(variant.name) + "/" + sampler + "/";
                const double stackUnit = rate(prefix + "stack16/");
                for (const char* pixel : {"", "px2", "px3", "px4"}) {
                    const double one = rate(prefix + "512x360" + pixel + "/");
                    const double stack = rate(prefix + "stack16" + pixel + "/");
                    if (one <= 0 || stack <= 0) continue;
                    std::printf("%-14s %-8s %-6s %9.3f %9.3f %6.2fx %13.2f\n",
                                std::string(variant.name).c_str(), sampler, *pixel ? pixel : "1",
                                one, stack, stack / one, stack / stackUnit);
                }
            }
        }
    }

    // The projection beside the backprojection: rates and their ratio.
    void printProjection() const {
        if (!hasPrefix("projection/")) return;
        const std::string best(quelmor::bestKernelVariant().name);
        // processorName() already says the family and model.
        std::printf("\nProjection beside backprojection on %s, Gup/s\n",
                    quelmor::processorName().c_str());
        std::printf("%-22s %-8s %14s %11s %7s\n", "work", "sampler", "backprojection", "projection",
                    "ratio");
        auto row = [&](const std::string& work, const char* sampler, const std::string& back,
                       const std::string& forth) {
            const double b = rate(back), f = rate(forth);
            if (b > 0 && f > 0)
                std::printf("%-22s %-8s %14.3f %11.3f %6.2fx\n", work.c_str(), sampler, b, f,
                            f / b);
        };
        for (const char* sampler : samplerNames) {
            for (const auto& variant : quelmor::kernelVariants()) {
                const std::string key = std::string(variant.name) + "/" + sampler + "/512x360/";
                row(std::string(variant.name) + " 512x360", sampler, "backprojection/" + key,
                    "projection/" + key);
            }
            for (const PairedWork& work : pairedWorks) {
                // 512x360 has its row in every variant's list above.
                if (std::string(work.label) == "512x360") continue;
                const std::string key = best + "/" + sampler + "/" + work.label + "/";
                row(best + " " + work.label, sampler, "backprojection/" + key, "projection/" + key);
            }
            for (const char* operation : operationNames) {
                const double one =
                    rate(std::string(operation) + "/" + best + "/" + sampler + "/threads1/");
                const double two =
                    rate(std::string(operation) + "/" + best + "/" + sampler + "/threads2/");
                if (one > 0 && two > 0)
                    std::printf("%-22s %-8s 2 threads / 1 thread: %4.2fx\n", operation, sampler,
                                two / one);
            }
        }
    }

    // The module on each workload, as a share of its 512 x 360 rate, beside
    // the baseline module where one was given.
    void printWorkloads() const {
        if (!hasPrefix("module/")) return;
        std::printf("\nThe module on the work users run (one thread; share of its %s rate)\n",
                    workloads[0].label);
        std::printf("%-12s %-8s %8s %7s", "work", "sampler", "Gup/s", "share");
        const bool baseline = hasPrefix("baseline/");
        if (baseline) std::printf(" %9s %7s %8s", "baseline", "share", "speedup");
        std::printf("\n");
        for (const SceneKind& kind : workloads) {
            for (const char* sampler : samplerNames) {
                const std::string key = std::string(sampler) + "/" + kind.label + "/";
                const std::string unitKey = std::string(sampler) + "/" + workloads[0].label + "/";
                const double module = rate("module/" + key);
                if (module <= 0) continue;
                std::printf("%-12s %-8s %8.3f %7.2f", kind.label, sampler, module,
                            module / rate("module/" + unitKey));
                const double before = rate("baseline/" + key);
                if (baseline && before > 0) {
                    std::printf(" %9.3f %7.2f %7.2fx", before, before / rate("baseline/" + unitKey),
                                module / before);
                }
                for (unsigned threads : {1u, 2u}) {
                    const double value = rate("threads" + std::to_string(threads) + "/" + key);
                    if (value > 0)
                        std::printf(" | %u thread%s %6.3f", threads, threads > 1 ? "s" : "", value);
                }
                const double one = rate("threads1/" + key), two = rate("threads2/" + key);
                if (one > 0 && two > 0) std::printf(" (%4.2fx)", two / one);
                std::printf("\n");
            }
        }
    }
    bool hasPrefix(const std::string& prefix) const {
        for (const auto& entry : rates_) {
            if (entry.first.rfind(prefix, 0) == 0) return true;
        }
        return false;
    }
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

// Registers one benchmark, timed in wall-clock milliseconds.
template <class... Args>
void addBenchmark(const std::string& name, Args&&... args) {
    benchmark::RegisterBenchmark(name.c_str(), std::forward<Args>(args)...)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::string baselinePath;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--baseline-module=", 0) == 0) {
            baselinePath = argument.substr(argument.find('=') + 1);
        } else {
            std::fprintf(stderr,
                         "unknown argument %s (besides Google Benchmark's own, only "
                         "--baseline-module=PATH)\n",
                         argv[i]);
            return 2;
        }
    }
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::string error;
    const auto module = LoadedModule::open(QUELMOR_MODULE_PATH, error);
    if (!module) std::fprintf(stderr, "module entries left out: %s\n", error.c_str());
    std::unique_ptr<LoadedModule> baseline;
    if (!baselinePath.empty()) {
        baseline = LoadedModule::open(baselinePath, error);
        if (!baseline) {
            std::fprintf(stderr, "baseline module: %s\n", error.c_str());
            return 2;
        }
    }
    auto addThreaded = [&](const std::string& suffix, int code, const SceneKind* kind) {
        for (unsigned threads : {1u, 2u}) {
            if (threads > cores) continue;
            addBenchmark("threads" + std::to_string(threads) + "/" + suffix, runSweep,
                         &quelmor::bestKernelVariant(), threads, code, kind);
        }
    };
    for (const SceneKind& kind : variantScenes) {
        for (int code : {0, 1}) {
            const std::string suffix = std::string(samplerNames[code]) + "/" + kind.label;
            for (const auto& variant : quelmor::kernelVariants()) {
                if (!variant.isSupported()) continue;
                addBenchmark(std::string(variant.name) + "/" + suffix, runSweep, &variant, 0u, code,
                             &kind);
            }
            if (module) addBenchmark("module/" + suffix, runModule, module->gateway(), code, &kind);
            addThreaded(suffix, code, &kind);
#ifdef QUELMOR_REGISTER_STEP_LOOP
            const auto* loopVariant = quelmor::findKernelVariant(stepLoopVariant);
            if (std::string(kind.label) == "512" && loopVariant && loopVariant->isSupported()) {
                addBenchmark("registers/" + std::string(stepLoopVariant) + "/" + suffix,
                             runStepLoop, code, &kind);
            }
#endif
        }
    }
    for (const SceneKind& kind : workloads) {
        for (int code : {0, 1}) {
            const std::string suffix = std::string(samplerNames[code]) + "/" + kind.label;
            if (module) addBenchmark("module/" + suffix, runModule, module->gateway(), code, &kind);
            if (baseline) {
                addBenchmark("baseline/" + suffix, runModule, baseline->gateway(), code, &kind);
            }
            for (const char* threaded : threadedWorkloads) {
                if (std::string(threaded) == kind.label) addThreaded(suffix, code, &kind);
            }
        }
    }
    for (int code : {0, 1}) {
        for (int op = 0; op < 2; ++op) {
            const auto operation = static_cast<Operation>(op);
            for (const auto& variant : quelmor::kernelVariants()) {
                if (!variant.isSupported()) continue;
                addBenchmark(std::string(operationNames[op]) + "/" + std::string(variant.name) +
                                 "/" + samplerNames[code] + "/512x360",
                             runWork, &variant, Work{operation, 0, 0}, code, &pairedWorks[0].scene);
            }
            // Every variant's stack beside its one slice; the best one's below.
            for (const auto& variant : quelmor::kernelVariants()) {
                if (!variant.isSupported() || operation != Operation::backprojection ||
                    &variant == &quelmor::bestKernelVariant() ||
                    variant.backprojectionSliceWidth() == 1)
                    continue;
                addBenchmark(std::string(operationNames[op]) + "/" + std::string(variant.name) +
                                 "/" + samplerNames[code] + "/stack16",
                             runWork, &variant, Work{operation, 0, 16}, code,
                             &pairedWorks[0].scene);
            }
            for (const PairedWork& paired : pairedWorks) {
                if (paired.work.threads > cores || std::string(paired.label) == "512x360") continue;
                Work work = paired.work;
                work.operation = operation;
                addBenchmark(std::string(operationNames[op]) + "/" +
                                 std::string(quelmor::bestKernelVariant().name) + "/" +
                                 samplerNames[code] + "/" + paired.label,
                             runWork, &quelmor::bestKernelVariant(), work, code, &paired.scene);
            }
        }
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}
