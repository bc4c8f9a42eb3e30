// The main job's reconstruction through the module: close to the phantom,
// and far from it when the picture is flipped, so orientation and centre are
// what the error measures.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "matrix_call.h"
#include "module_loader.h"
#include "phantom.h"

namespace {

std::vector<double> reconstruct(int side, int views, int interpCode) {
    std::string error;
    const auto module = LoadedModule::open(QUELMOR_MODULE_PATH, error);
    EXPECT_NE(module, nullptr) << error;
    const int detectorCount = phantom::detectorCountFor(side);
    const auto filtered =
        phantom::rampFiltered(phantom::sinogram(side, detectorCount, views), detectorCount, views);
    std::vector<double> cosines, sines;
    for (int v = 0; v < views; ++v) {
        cosines.push_back(std::cos(phantom::viewAngle(v, views)));
        sines.push_back(std::sin(phantom::viewAngle(v, views)));
    }
    const auto count = [](std::size_t n) { return static_cast<std::uint32_t>(n); };
    const MatrixCallResult call =
        callWithMatrices(module->gateway(), 1,
                         {Matrix{count(detectorCount), count(views), filtered},
                          Matrix{1, count(views), cosines}, Matrix{1, count(views), sines},
                          Matrix{1, 1, {double(side)}}, Matrix{1, 1, {double(interpCode)}}});
    EXPECT_TRUE(call.finished) << call.message;
    std::vector<double> image = call.image.values;
    for (double& pixel : image) pixel *= std::numbers::pi / views;
    return image;
}

std::vector<double> upsideDown(const std::vector<double>& image, int side) {
    std::vector<double> flipped(image.size());
    for (int j = 0; j < side; ++j) {
        for (int k = 0; k < side; ++k) flipped[j * side + k] = image[j * side + (side - 1 - k)];
    }
    return flipped;
}

// Moves the picture `pixels` columns to the right, as a wrong centre would.
std::vector<double> shiftedRight(const std::vector<double>& image, int side, int pixels) {
    std::vector<double> shifted(image.size(), 0.0);
    for (int j = pixels; j < side; ++j) {
        for (int k = 0; k < side; ++k) shifted[j * side + k] = image[(j - pixels) * side + k];
    }
    return shifted;
}

TEST(PhantomReconstruction, ErrorIsSmallAndWouldShowAWrongOrientationOrCentre) {
    const int side = 256;
    const std::vector<double> truth = phantom::rasterize(side);
    const std::vector<double> linearImage = reconstruct(side, 180, 1);
    const double linear = phantom::rootMeanSquareError(linearImage, truth);
    const double nearest = phantom::rootMeanSquareError(reconstruct(side, 180, 0), truth);
    const double flipped = phantom::rootMeanSquareError(upsideDown(linearImage, side), truth);
    const double offCentre =
        phantom::rootMeanSquareError(shiftedRight(linearImage, side, 2), truth);
    std::printf(
        "RMSE at side 256, 180 views: linear %.4f, nearest %.4f; linear upside down %.4f, "
        "two pixels off centre %.4f\n",
        linear, nearest, flipped, offCentre);
    EXPECT_LE(linear, 0.05);
    EXPECT_LE(nearest, 0.065);
    EXPECT_LT(linear, nearest);
    EXPECT_GT(flipped, 2 * 0.05);
    EXPECT_GT(offCentre, 2 * 0.05);
}

}  // namespace
