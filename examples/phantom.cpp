#include "phantom.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "quelmor/filter.h"

namespace phantom {
namespace {

// The ten-ellipse modified Shepp-Logan phantom (higher contrast): density,
// semi-axes along x and y, centre, rotation in degrees, on the unit square.
struct Ellipse {
    double density, semiAxisX, semiAxisY, centerX, centerY, degrees;
};
constexpr Ellipse ellipses[] = {
    {1.0, 0.69, 0.92, 0.0, 0.0, 0.0},      {-0.8, 0.6624, 0.874, 0.0, -0.0184, 0.0},
    {-0.2, 0.11, 0.31, 0.22, 0.0, -18.0},  {-0.2, 0.16, 0.41, -0.22, 0.0, 18.0},
    {0.1, 0.21, 0.25, 0.0, 0.35, 0.0},     {0.1, 0.046, 0.046, 0.0, 0.1, 0.0},
    {0.1, 0.046, 0.046, 0.0, -0.1, 0.0},   {0.1, 0.046, 0.023, -0.08, -0.605, 0.0},
    {0.1, 0.023, 0.023, 0.0, -0.606, 0.0}, {0.1, 0.023, 0.046, 0.06, -0.605, 0.0},
};

double radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

}  // namespace

double viewAngle(int view, int views) { return view * std::numbers::pi / views; }

std::vector<double> rasterize(int imageSize) {
    const int center = (imageSize - 1) / 2;
    const double scale = imageSize / 2.0;
    std::vector<double> image(static_cast<std::size_t>(imageSize) * imageSize, 0.0);
    for (int j = 0; j < imageSize; ++j) {
        for (int k = 0; k < imageSize; ++k) {
            const double x = (j - center) / scale;
            const double y = (center - k) / scale;
            double value = 0.0;
            for (const Ellipse& e : ellipses) {
                const double angle = radians(e.degrees);
                const double dx = x - e.centerX, dy = y - e.centerY;
                const double u = dx * std::cos(angle) + dy * std::sin(angle);
                const double v = -dx * std::sin(angle) + dy * std::cos(angle);
                const double r =
                    (u * u) / (e.semiAxisX * e.semiAxisX) + (v * v) / (e.semiAxisY * e.semiAxisY);
                if (r <= 1.0) value += e.density;
            }
            image[static_cast<std::size_t>(j) * imageSize + k] = value;
        }
    }
    return image;
}

std::vector<double> sinogram(int imageSize, int detectorCount, int views) {
    const double scale = imageSize / 2.0;
    const int detectorCenter = detectorCount / 2;
    std::vector<double> result(static_cast<std::size_t>(detectorCount) * views, 0.0);
    for (int view = 0; view < views; ++view) {
        const double theta = viewAngle(view, views);
        for (int b = 0; b < detectorCount; ++b) {
            const double t = (b - detectorCenter) / scale;
            double integral = 0.0;
            for (const Ellipse& e : ellipses) {
                const double relative = theta - radians(e.degrees);
                const double r2 =
                    e.semiAxisX * e.semiAxisX * std::cos(relative) * std::cos(relative) +
                    e.semiAxisY * e.semiAxisY * std::sin(relative) * std::sin(relative);
                const double s = t - (e.centerX * std::cos(theta) + e.centerY * std::sin(theta));
                if (s * s < r2) {
                    integral +=
                        2.0 * e.density * e.semiAxisX * e.semiAxisY * std::sqrt(r2 - s * s) / r2;
                }
            }
            // Lengths in pixel units, as the backprojection measures them.
            result[static_cast<std::size_t>(view) * detectorCount + b] = integral * scale;
        }
    }
    return result;
}

std::vector<double> rampFiltered(const std::vector<double>& sinogram, int detectorCount,
                                 int views) {
    std::vector<double> filtered(sinogram.size(), 0.0);
    quelmor::filterViews({sinogram.data(), filtered.data(), detectorCount, views});
    return filtered;
}

double rootMeanSquareError(const std::vector<double>& a, const std::vector<double>& b) {
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
    return a.empty() ? 0.0 : std::sqrt(sum / a.size());
}

}  // namespace phantom
