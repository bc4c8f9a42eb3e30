// 64-bit Windows promises 16-byte stack alignment, no more, while GCC spills
// AVX and AVX-512 vectors as if it had 32 or 64. Every kernel variant runs
// here with its entry at each 16-byte phase of a 64-byte line, and the
// module's mexFunction at each 8-byte phase (misaligned by 8 included, which
// breaks even the ABI's promise); each must give its ordinary image.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kernel_buffers.h"
#include "matrix_call.h"
#include "module_loader.h"
#include "quelmor/geometry_guide.h"
#include "quelmor/kernel_variants.h"

// Calls function(context) with the stack pointer at its entry 40 + offset
// bytes below a 64-byte boundary: offset 0 is the ABI's phase (8 mod 16),
// offset 8 breaks even 16-byte alignment.
extern "C" __attribute__((naked)) void callAtStackOffset(void (*)(void*), void*, std::size_t) {
    asm(R"(
        pushq %rbp
        movq %rsp, %rbp
        andq $-64, %rsp
        subq %r8, %rsp
        subq $32, %rsp
        movq %rcx, %rax
        movq %rdx, %rcx
        callq *%rax
        movq %rbp, %rsp
        popq %rbp
        retq
    )");
}

namespace {

using quelmor::testing::sameBytes;

struct Scene {
    static constexpr int imageSize = 45;
    static constexpr int viewCount = 37;
    const int detectorCount = quelmor::coveringDetectorCount(imageSize);
    std::vector<double> projections, cosines, sines;

    Scene() {
        for (int v = 0; v < viewCount; ++v) {
            cosines.push_back(std::cos(0.083 * v));
            sines.push_back(std::sin(0.083 * v));
        }
        for (int i = 0; i < viewCount * detectorCount; ++i)
            projections.push_back(std::sin(0.37 * i));
    }
    quelmor::BackprojectionJob job(std::vector<double>& image, int interpCode) const {
        image.assign(imageSize * imageSize, 0.0);
        return {image.data(), projections.data(), detectorCount, cosines.data(),
                sines.data(), viewCount,          imageSize,     interpCode};
    }
};

struct VariantCall {
    const quelmor::KernelVariant* variant;
    quelmor::BackprojectionJob job;
};
void sweepEveryColumn(void* context) {
    auto* call = static_cast<VariantCall*>(context);
    call->variant->backprojectColumns(call->job, 0, call->job.imageSize);
}

struct GatewayCall {
    GatewayFunction gateway;
    mxArray* outputs[1];
    const mxArray* inputs[5];
};
void callGateway(void* context) {
    auto* call = static_cast<GatewayCall*>(context);
    call->gateway(1, call->outputs, 5, call->inputs);
}

constexpr std::size_t abiStackOffsets[] = {0, 16, 32, 48};
constexpr std::size_t everyStackOffset[] = {0, 8, 16, 24, 32, 40, 48, 56};

TEST(MisalignedStack, EveryVariantGivesItsImageAtEveryStackOffset) {
    const Scene scene;
    int variantsRun = 0;
    for (const quelmor::KernelVariant& variant : quelmor::kernelVariants()) {
        if (!variant.isSupported()) continue;
        ++variantsRun;
        for (int code : {quelmor::InterpNearest, quelmor::InterpLinear}) {
            std::vector<double> expected;
            variant.backprojectColumns(scene.job(expected, code), 0, Scene::imageSize);
            for (std::size_t offset : abiStackOffsets) {
                std::vector<double> image;
                VariantCall call{&variant, scene.job(image, code)};
                callAtStackOffset(sweepEveryColumn, &call, offset);
                EXPECT_TRUE(sameBytes(image, expected))
                    << variant.name << ", code " << code << ", offset " << offset;
            }
        }
    }
    EXPECT_GE(variantsRun, 2);
}

TEST(MisalignedStack, TheModuleAnswersAtEveryStackOffset) {
    std::string error;
    const auto module = LoadedModule::open(QUELMOR_MODULE_PATH, error);
    ASSERT_NE(module, nullptr) << error;
    const Scene scene;
    auto array = [](std::size_t rows, std::size_t columns, const std::vector<double>& values) {
        mxArray* made = standinCreateArray(StandinClass::RealDouble, rows, columns);
        std::memcpy(mxGetPr(made), values.data(), values.size() * sizeof(double));
        return made;
    };
    for (int code : {quelmor::InterpNearest, quelmor::InterpLinear}) {
        std::vector<mxArray*> inputs = {
            array(scene.detectorCount, Scene::viewCount, scene.projections),
            array(1, Scene::viewCount, scene.cosines), array(Scene::viewCount, 1, scene.sines),
            array(1, 1, {double(Scene::imageSize)}), array(1, 1, {double(code)})};
        const MatrixCallResult expected =
            callWithArrays(module->gateway(), 1, {inputs.begin(), inputs.end()});
        ASSERT_TRUE(expected.finished) << expected.message;
        for (std::size_t offset : everyStackOffset) {
            GatewayCall call{module->gateway(), {nullptr}, {}};
            std::copy(inputs.begin(), inputs.end(), call.inputs);
            callAtStackOffset(callGateway, &call, offset);
            ASSERT_NE(call.outputs[0], nullptr) << "offset " << offset;
            const std::vector<double> image(
                mxGetPr(call.outputs[0]),
                mxGetPr(call.outputs[0]) + mxGetNumberOfElements(call.outputs[0]));
            EXPECT_TRUE(sameBytes(image, expected.image.values))
                << "code " << code << ", offset " << offset;
            mxDestroyArray(call.outputs[0]);
        }
        for (mxArray* input : inputs) mxDestroyArray(input);
    }
    EXPECT_EQ(standinLiveArrays(), 0);
}

}  // namespace
