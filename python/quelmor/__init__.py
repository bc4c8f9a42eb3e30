"""Quelmor for NumPy: exact parallel-beam backprojection, slices or whole stacks.

backproject(sinogram, cosines, sines, size)  the kernel's plain sum, bit for bit
                                              the host module's image
ramp_filter(sinogram, spacing=1.0)           the ramp filter, zero-padded
fbp(sinogram, theta, size)                   filtered backprojection, scaled by pi/V
covering_detector_count(size)                detector samples covering the image

Geometry: pixel (row k, column j) lies at x = j - c, y = c - k with
c = (size - 1) // 2; detector sample b lies at coordinate b - M // 2; a pixel's
coordinate in a view is cos(theta)*x + sin(theta)*y, stepped down each column.
"""

import math
import operator

import numpy as np

from . import _kernel
from ._kernel import covering_detector_count

__all__ = ["backproject", "ramp_filter", "fbp", "covering_detector_count", "kernel_variant",
           "processor_name"]

_LARGEST_COUNT = 2**31 - 1
_SAMPLERS = {"nearest": 0, "linear": 1}


def kernel_variant():
    """The kernel variant this processor runs ("avx512window", "sse2", ...)."""
    return _kernel.kernel_variant()


def processor_name():
    """The processor's model, as it names itself."""
    return _kernel.processor_name()


def _float64(values, name):
    """`values` as a float64 array, converted only where that is exact."""
    array = np.asarray(values)
    kind, size = array.dtype.kind, array.dtype.itemsize
    if kind == "c":
        raise TypeError(f"{name} must be real, not complex ({array.dtype})")
    if kind == "b":
        raise TypeError(f"{name} must hold numbers, not booleans")
    if kind not in "fiu":
        raise TypeError(f"{name} must be a real numeric array, not {array.dtype}")
    if (kind == "f" and size <= 8) or (kind in "iu" and size <= 4):
        return array.astype(np.float64, copy=False)
    converted = array.astype(np.float64)
    if kind in "iu":
        exact = np.all((array >= -(2**53)) & (array <= 2**53))
    else:
        exact = np.all((converted == array) | (np.isnan(converted) & np.isnan(array)))
    if not exact:
        raise ValueError(f"{name} holds values that float64 cannot represent exactly ({array.dtype})")
    return converted


def _count(value, name, smallest):
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be an integer, not a boolean")
    try:
        count = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
    if count < smallest:
        raise ValueError(f"{name} must be at least {smallest}, not {count}")
    return count


def _thread_count(threads):
    """0 lets the core use every hardware thread."""
    # Threads beyond the slices and column blocks would have nothing to do.
    return 0 if threads is None else min(_count(threads, "threads", 1), 2**16)


def _sampler_code(sampler):
    if not isinstance(sampler, str) or sampler not in _SAMPLERS:
        raise ValueError(f"sampler must be 'linear' or 'nearest', not {sampler!r}")
    return _SAMPLERS[sampler]


def backproject(sinogram, cosines, sines, size, sampler="linear", threads=None):
    """Adds every view's sample at each pixel's detector coordinate, views in order.

    sinogram: (M, V), one column of M detector samples per view, or a stack
        (S, M, V) of S such sinograms. float64 is used as it is; real types
        that convert to float64 exactly (float16, float32, integers up to 32
        bits, larger integers up to 2**53 in magnitude) are converted, which
        costs a copy. Any memory layout is accepted; it is copied only when
        the kernel's layout (each view's samples contiguous) needs it.
    cosines, sines: cos(theta) and sin(theta) of each view, finite, read in
        C order. V is the number of cosines; the sinogram needs at least V
        columns and there must be at least V sines (extra ones are not read).
    size: side N of the square image.
    sampler: "linear" (interpolates between the two samples around the
        coordinate) or "nearest" (the sample at floor(t + 0.5)).
    threads: threads to use, across slices and within a slice; None uses
        every core. The image does not depend on it.

    Returns (N, N) float64, or (S, N, N) for a stack: pixel [k, j] is row k,
    column j, byte for byte what the host module returns for the same call.
    The GIL is released while the kernel runs.
    """
    interp_code = _sampler_code(sampler)
    thread_count = _thread_count(threads)
    samples = _float64(sinogram, "sinogram")
    if samples.ndim not in (2, 3):
        raise ValueError(
            "sinogram must have 2 dimensions (detector samples x views) or 3 "
            f"(slices x detector samples x views), not {samples.ndim}")
    cosines = _float64(cosines, "cosines").ravel()
    sines = _float64(sines, "sines").ravel()
    size = _count(size, "size", 0)
    if size * size > _LARGEST_COUNT:
        raise ValueError(f"size {size} is too large: the image may hold at most "
                         f"{_LARGEST_COUNT} pixels")
    detector_count, columns = samples.shape[-2:]
    views = cosines.size
    if detector_count > _LARGEST_COUNT or views > _LARGEST_COUNT or detector_count * views > _LARGEST_COUNT:
        raise ValueError(f"sinogram is too large: at most {_LARGEST_COUNT} samples can be "
                         "used per slice")
    if columns < views:
        raise ValueError(f"sinogram needs a column for every cosine: {columns} columns, "
                         f"{views} cosines")
    if sines.size < views:
        raise ValueError(f"sines needs an element for every cosine: {sines.size} sines, "
                         f"{views} cosines")
    sines = sines[:views]
    if not (np.all(np.isfinite(cosines)) and np.all(np.isfinite(sines))):
        raise ValueError("cosines and sines must be finite")

    stack = samples if samples.ndim == 3 else samples[np.newaxis]
    # The kernel reads each slice as views of contiguous samples: (S, V, M) in C order.
    kernel_stack = np.ascontiguousarray(stack.transpose(0, 2, 1))
    # Not numpy.zeros: the kernel's threads clear the images they sweep, so a
    # fresh page is first touched by a write (see ImageStart in parallel.h).
    images = np.empty((stack.shape[0], size, size))
    _kernel.backproject_stack(kernel_stack, cosines, sines, size, interp_code, thread_count,
                              images, zero_first=True)
    # Each kernel image is column-major: its transpose indexes [row, column].
    result = images.transpose(0, 2, 1)
    return result if samples.ndim == 3 else result[0]


def ramp_filter(sinogram, spacing=1.0):
    """Convolves every view (column) with the discrete ramp kernel.

    The kernel is 1/4 at 0, -1/(pi n)^2 at odd n and 0 at even n, divided by
    the detector spacing, so the filter is in units of 1/spacing. The
    convolution runs through NumPy's FFT on views zero-padded to at least
    2M - 1 samples, so nothing wraps around from one end of the detector to
    the other. Takes (M, V) or a stack (S, M, V); returns float64 of that shape.
    """
    samples = _float64(sinogram, "sinogram")
    if samples.ndim not in (2, 3):
        raise ValueError(f"sinogram must have 2 or 3 dimensions, not {samples.ndim}")
    spacing = float(spacing)
    if not (math.isfinite(spacing) and spacing > 0):
        raise ValueError(f"spacing must be positive and finite, not {spacing}")
    detector_count = samples.shape[-2]
    if detector_count == 0:
        return samples.copy()
    padded = 1 << (2 * detector_count - 2).bit_length()  # the power of two >= 2M - 1
    kernel = np.zeros(padded)
    kernel[0] = 0.25
    odd = np.arange(1, detector_count, 2)
    kernel[odd] = -1.0 / (np.pi * odd) ** 2
    kernel[padded - odd] = kernel[odd]  # negative offsets, wrapped to the end
    spectrum = np.fft.rfft(samples, padded, axis=-2) * np.fft.rfft(kernel)[:, np.newaxis]
    filtered = np.fft.irfft(spectrum, padded, axis=-2)[..., :detector_count, :]
    return filtered / spacing


def fbp(sinogram, theta, size, sampler="linear", spacing=1.0, threads=None):
    """Filtered backprojection: ramp_filter, backproject, then the scale pi/V.

    sinogram: (M, V) or a stack (S, M, V) of line integrals, measured in
        pixel widths, one column per view; coordinate 0 at sample M // 2.
    theta: the V view angles in radians, normally spread over [0, pi).
    spacing: the detector spacing in pixel widths (1 when one sample is one
        pixel): views are filtered in units of 1/spacing and each pixel's
        detector coordinate is (cos(theta) x + sin(theta) y) / spacing.
    Returns (size, size), or (S, size, size) for a stack.
    """
    angles = _float64(theta, "theta").ravel()
    if not np.all(np.isfinite(angles)):
        raise ValueError("theta must be finite")
    if angles.size == 0:
        raise ValueError("theta must hold at least one angle")
    filtered = ramp_filter(sinogram, spacing)
    spacing = float(spacing)
    image = backproject(filtered, np.cos(angles) / spacing, np.sin(angles) / spacing, size,
                        sampler, threads)
    return image * (np.pi / angles.size)
