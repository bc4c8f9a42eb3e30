// Filtered backprojection of the modified Shepp-Logan phantom: the phantom
// itself, its exact sinogram, the ramp filter and the error measure. The
// backprojection in between is the module's.
#pragma once

#include <vector>

namespace phantom {

// Pixel (k, j) of a side-N image lies at x = j - c, y = c - k with
// c = (N - 1) div 2, in pixel units; the phantom's unit disc spans N/2 pixels.
std::vector<double> rasterize(int imageSize);

// detectorCount x views, column-major: exact line integrals of the ellipses
// (in pixel units) at detector coordinates b - detectorCount/2, view v at
// angle v*pi/views.
std::vector<double> sinogram(int imageSize, int detectorCount, int views);

// Convolves every view with the discrete ramp kernel (1/4 at 0, -1/(pi n)^2
// at odd n, 0 at even n), the detector zero beyond its ends: the core's
// projection filter (quelmor/filter.h).
std::vector<double> rampFiltered(const std::vector<double>& sinogram, int detectorCount, int views);

double viewAngle(int view, int views);
double rootMeanSquareError(const std::vector<double>& a, const std::vector<double>& b);

}  // namespace phantom
