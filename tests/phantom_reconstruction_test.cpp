// The main job's reconstruction through the module: close to the phantom,
// and far from it when the picture is flipped, so orientation and centre are
// what the error measures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "matrix_call.h"
#include "module_loader.h"
#include "phantom.h"
#include "quelmor/geometry_guide.h"

namespace {

// Quelmor(filtered, cosines, sines, side, code) through the module, scaled by pi/V.
std::vector<double> backprojectThroughModule(const std::vector<double>& filtered, int detectorCount,
                                             const std::vector<double>& cosines,
                                             const std::vector<double>& sines, int imageSize,
                                             int interpCode) {
    std::string error;
    const auto module = LoadedModule::open(QUELMOR_MODULE_PATH, error);
    EXPECT_NE(module, nullptr) << error;
    const auto count = [](std::size_t n) { return static_cast<std::uint32_t>(n); };
    const std::size_t views = cosines.size();
    const MatrixCallResult call =
        callWithMatrices(module->gateway(), 1,
                         {Matrix{count(detectorCount), count(views), filtered},
                          Matrix{1, count(views), cosines}, Matrix{1, count(views), sines},
                          Matrix{1, 1, {double(imageSize)}}, Matrix{1, 1, {double(interpCode)}}});
    EXPECT_TRUE(call.finished) << call.message;
    std::vector<double> image = call.image.values;
    for (double& pixel : image) pixel *= std::numbers::pi / static_cast<double>(views);
    return image;
}

std::vector<double> reconstruct(int imageSize, int views, int interpCode) {
    const int detectorCount = quelmor::coveringDetectorCount(imageSize);
    const auto filtered = phantom::rampFiltered(phantom::sinogram(imageSize, detectorCount, views),
                                                detectorCount, views);
    std::vector<double> cosines, sines;
    for (int v = 0; v < views; ++v) {
        cosines.push_back(std::cos(phantom::viewAngle(v, views)));
        sines.push_back(std::sin(phantom::viewAngle(v, views)));
    }
    return backprojectThroughModule(filtered, detectorCount, cosines, sines, imageSize, interpCode);
}

std::vector<double> upsideDown(const std::vector<double>& image, int imageSize) {
    std::vector<double> flipped(image.size());
    for (int j = 0; j < imageSize; ++j) {
        for (int k = 0; k < imageSize; ++k)
            flipped[j * imageSize + k] = image[j * imageSize + (imageSize - 1 - k)];
    }
    return flipped;
}

// Moves the picture `pixels` columns to the right, as a wrong centre would.
std::vector<double> shiftedRight(const std::vector<double>& image, int imageSize, int pixels) {
    std::vector<double> shifted(image.size(), 0.0);
    for (int j = pixels; j < imageSize; ++j) {
        for (int k = 0; k < imageSize; ++k)
            shifted[j * imageSize + k] = image[(j - pixels) * imageSize + k];
    }
    return shifted;
}

TEST(PhantomReconstruction, ErrorIsSmallAndWouldShowAWrongOrientationOrCentre) {
    const int imageSize = 256;
    const std::vector<double> truth = phantom::rasterize(imageSize);
    const std::vector<double> linearImage = reconstruct(imageSize, 180, 1);
    const double linear = phantom::rootMeanSquareError(linearImage, truth);
    const double nearest = phantom::rootMeanSquareError(reconstruct(imageSize, 180, 0), truth);
    const double flipped = phantom::rootMeanSquareError(upsideDown(linearImage, imageSize), truth);
    const double offCentre =
        phantom::rootMeanSquareError(shiftedRight(linearImage, imageSize, 2), truth);
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

// The README's geometry guide: with pixel size h detector spacings, pass
// cos*h and sin*h; pixel (k, j) then lies at x = (j - c)*h, y = (c - k)*h.
TEST(GeometryGuide, OffCentreDiscLandsWhereTheGuideSays) {
    const int imageSize = 64;
    const double pixelSize = 1.5;             // in detector spacings
    const double discX = 9.0, discY = -15.0;  // centre, in detector spacings
    const double radius = 12.0;
    const int detectorCount = quelmor::coveringDetectorCount(imageSize, pixelSize);
    const int views = 180;
    std::vector<double> sinogram(static_cast<std::size_t>(detectorCount) * views, 0.0);
    std::vector<double> cosines, sines;
    for (int v = 0; v < views; ++v) {
        const double theta = v * std::numbers::pi / views;
        // The disc's chord along x*cos + y*sin = s, s = 0 on sample M/2.
        const double centre = discX * std::cos(theta) + discY * std::sin(theta);
        for (int b = 0; b < detectorCount; ++b) {
            const double offset = (b - detectorCount / 2) - centre;
            if (offset * offset < radius * radius)
                sinogram[v * detectorCount + b] = 2 * std::sqrt(radius * radius - offset * offset);
        }
        cosines.push_back(std::cos(theta) * pixelSize);
        sines.push_back(std::sin(theta) * pixelSize);
    }
    const auto image =
        backprojectThroughModule(phantom::rampFiltered(sinogram, detectorCount, views),
                                 detectorCount, cosines, sines, imageSize, 1);
    // Centroid of the bright pixels, in (column, row).
    double mass = 0, column = 0, row = 0;
    for (int j = 0; j < imageSize; ++j) {
        for (int k = 0; k < imageSize; ++k) {
            const double value = image[j * imageSize + k];
            if (value < 0.5) continue;
            mass += value;
            column += value * j;
            row += value * k;
        }
    }
    ASSERT_GT(mass, 0);
    const double c = (imageSize - 1) / 2;
    EXPECT_NEAR(column / mass, c + discX / pixelSize, 0.1);
    EXPECT_NEAR(row / mass, c - discY / pixelSize, 0.1);
    // Inside, the density comes out near 1.
    const int centreColumn = static_cast<int>(c + discX / pixelSize);
    const int centreRow = static_cast<int>(c - discY / pixelSize);
    EXPECT_NEAR(image[centreColumn * imageSize + centreRow], 1.0, 0.1);
}

}  // namespace
