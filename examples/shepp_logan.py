"""The modified Shepp-Logan phantom and its exact sinogram, in Quelmor's geometry.

Pixel (k, j) of a side-N image lies at x = j - c, y = c - k with
c = (N - 1) // 2, in pixel units; the phantom's unit disc spans N/2 pixels.
Each ellipse is the cut at height z (on the same unit scale) through an
ellipsoid whose semi-axis along z is its semi-axis along y, so slices at
z != 0 give a volume whose ellipses shrink away from the middle slice.
"""

import numpy as np

# Density, semi-axes along x and y, centre, rotation in degrees, on the unit square.
ELLIPSES = np.array([
    [1.0, 0.69, 0.92, 0.0, 0.0, 0.0], [-0.8, 0.6624, 0.874, 0.0, -0.0184, 0.0],
    [-0.2, 0.11, 0.31, 0.22, 0.0, -18.0], [-0.2, 0.16, 0.41, -0.22, 0.0, 18.0],
    [0.1, 0.21, 0.25, 0.0, 0.35, 0.0], [0.1, 0.046, 0.046, 0.0, 0.1, 0.0],
    [0.1, 0.046, 0.046, 0.0, -0.1, 0.0], [0.1, 0.046, 0.023, -0.08, -0.605, 0.0],
    [0.1, 0.023, 0.023, 0.0, -0.606, 0.0], [0.1, 0.023, 0.046, 0.06, -0.605, 0.0],
])


def _ellipses_at(z):
    """(density, a, b, x0, y0, radians) of the ellipses the slice at z cuts."""
    for density, a, b, x0, y0, degrees in ELLIPSES:
        if abs(z) < b:
            shrink = np.sqrt(1.0 - (z / b) ** 2)
            yield density, a * shrink, b * shrink, x0, y0, np.radians(degrees)


def view_angles(views):
    """Views spread evenly over [0, pi)."""
    return np.arange(views) * np.pi / views


def rasterize(size, z=0.0, origin=None):
    """The phantom's density at every pixel centre: (size, size), [row, column].

    The phantom's centre falls on pixel index `origin` of rows and columns
    (fractional allowed); by default (size - 1) // 2.
    """
    center = (size - 1) // 2 if origin is None else origin
    scale = size / 2.0
    x = (np.arange(size) - center) / scale
    y = (center - np.arange(size)) / scale
    dx0, dy0 = np.meshgrid(x, y)
    image = np.zeros((size, size))
    for density, a, b, x0, y0, angle in _ellipses_at(z):
        dx, dy = dx0 - x0, dy0 - y0
        u = dx * np.cos(angle) + dy * np.sin(angle)
        v = -dx * np.sin(angle) + dy * np.cos(angle)
        image += np.where(u * u / (a * a) + v * v / (b * b) <= 1.0, density, 0.0)
    return image


def sinogram(size, detector_count, theta, z=0.0, spacing=1.0, center=None):
    """Exact line integrals, in pixel units: (detector_count, len(theta)).

    Sample b lies at coordinate (b - center) * spacing pixels, the phantom's
    centre at coordinate 0; center is detector_count // 2 unless given.
    """
    scale = size / 2.0
    center = detector_count // 2 if center is None else center
    t = ((np.arange(detector_count) - center) * spacing / scale)[:, np.newaxis]
    theta = np.asarray(theta, dtype=np.float64)[np.newaxis, :]
    result = np.zeros((detector_count, theta.shape[1]))
    for density, a, b, x0, y0, angle in _ellipses_at(z):
        relative = theta - angle
        r2 = (a * np.cos(relative)) ** 2 + (b * np.sin(relative)) ** 2
        s = t - (x0 * np.cos(theta) + y0 * np.sin(theta))
        inside = s * s < r2
        chord = 2.0 * density * a * b * np.sqrt(np.where(inside, r2 - s * s, 0.0)) / r2
        result += np.where(inside, chord, 0.0)
    return result * scale


def rmse(a, b):
    return float(np.sqrt(np.mean((np.asarray(a) - np.asarray(b)) ** 2)))
