"""Quelmor for NumPy: exact parallel-beam backprojection, slices or whole stacks.

backproject(sinogram, cosines, sines, size)  the kernel's plain sum, bit for bit
                                              the host module's image
project(image, cosines, sines, detector_count)
                                             its exact transpose, the forward projection
filter_sinogram(sinogram, filter="ramp")     the ramp filter, windowed, zero-padded
ramp_filter(sinogram, spacing=1.0)           the plain ramp filter
fbp(sinogram, theta, size)                   filtered backprojection, scaled by pi/V
sirt(sinogram, theta, size)                  SIRT, the least-squares image iterated
cgls(sinogram, theta, size)                  CGLS, conjugate gradients on the least squares
covering_detector_count(size)                detector samples covering the image

Geometry: pixel (row k, column j) lies at x = j - c, y = c - k with
c = (size - 1) // 2; detector sample b lies at coordinate b - M // 2; a pixel's
coordinate in a view is cos(theta)*x + sin(theta)*y, stepped down each column.
"""

from __future__ import annotations  # help() shows the hints as written

import math
import operator
import warnings
from typing import Optional

import numpy as np
import numpy.typing as npt

from . import _kernel
from ._kernel import covering_detector_count
from ._version import __version__

__all__ = ["backproject", "project", "filter_sinogram", "ramp_filter", "fbp", "sirt", "cgls",
           "covering_detector_count", "kernel_variant", "processor_name", "FILTERS", "__version__"]

_SAMPLERS = {"nearest": 0, "linear": 1}
#: The projection filters' names: the ramp alone (Ram-Lak), and the ramp
#: shaped by the Shepp-Logan, cosine, Hamming or Hann window.
FILTERS = tuple(_kernel.filter_names())


def kernel_variant() -> str:
    """The kernel variant this processor runs ("avx512window", "sse2", ...)."""
    return _kernel.kernel_variant()


def processor_name() -> str:
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


def backproject(sinogram: npt.ArrayLike, cosines: npt.ArrayLike, sines: npt.ArrayLike, size: int,
                sampler: str = "linear", threads: Optional[int] = None) -> np.ndarray:
    """Adds every view's sample at each pixel's detector coordinate, views in order.

    Parameters
    ----------
    sinogram : array_like, (M, V) or (S, M, V)
        One column of M detector samples per view, or a stack of S such
        sinograms. float64 is used as it is; real types that convert to
        float64 exactly (float16, float32, integers up to 32 bits, larger
        integers up to 2**53 in magnitude) are converted, which costs a copy.
        Any memory layout is accepted; it is copied only when the kernel's
        layout (each view's samples contiguous) needs it.
    cosines, sines : array_like
        cos(theta) and sin(theta) of each view, finite, read in C order. V is
        the number of cosines; the sinogram needs at least V columns and there
        must be at least V sines (extra ones are not read).
    size : int
        Side N of the square image.
    sampler : {"linear", "nearest"}
        Interpolation between the two samples around the coordinate, or the
        sample at floor(t + 0.5).
    threads : int, optional
        Threads to use, across slices and within a slice; None uses every
        core. The image does not depend on it.

    Returns
    -------
    numpy.ndarray
        (N, N) float64, or (S, N, N) for a stack: pixel [k, j] is row k,
        column j, byte for byte what the host module returns for the same
        call. The GIL is released while the kernel runs.

    Raises
    ------
    TypeError
        For complex, boolean, object or text arrays, and a size or thread
        count that is not an integer.
    ValueError
        For wrong dimensions, fewer columns or sines than cosines, non-finite
        coefficients, a negative or too large size, an unknown sampler or
        integers beyond 2**53.
    """
    interp_code = _sampler_code(sampler)
    thread_count = _thread_count(threads)
    samples = _float64(sinogram, "sinogram")
    _require_sinogram_dimensions(samples)
    cosines = _float64(cosines, "cosines").ravel()
    sines = _float64(sines, "sines").ravel()
    size = _count(size, "size", 0)
    detector_count, columns = samples.shape[-2:]
    # A side past 64 bits is as much too large as one past 32.
    _kernel.check_job(detector_count, columns, cosines, sines, min(size, 2**62))

    kernel_stack = _kernel_layout(samples)
    # Not zeroed here: the kernel's threads clear the images they sweep, so a
    # fresh page is first touched by a write (see ImageStart in parallel.h).
    images = _kernel.result_array((kernel_stack.shape[0], size, size))
    _kernel.backproject_stack(kernel_stack, cosines, sines, size, interp_code, thread_count,
                              images, zero_first=True)
    # Each kernel image is column-major: its transpose indexes [row, column].
    result = images.transpose(0, 2, 1)
    return result if samples.ndim == 3 else result[0]


def project(image: npt.ArrayLike, cosines: npt.ArrayLike, sines: npt.ArrayLike,
            detector_count: int, sampler: str = "linear",
            threads: Optional[int] = None) -> np.ndarray:
    """Adds every pixel into the detector samples each view reads for it.

    The exact transpose of `backproject`: each pixel's coordinate in a view is
    the one `backproject` samples at, and the pixel's value goes to the
    sample the nearest sampler reads, or, for "linear", (1 - f) times it to
    the sample below the coordinate and f times it to the one above, each
    product rounded, with f the interpolation weight. So the matrices of the
    two, probed with unit inputs, are each other's transpose bit for bit.
    Each sample receives the pixels in storage order (column by column, top
    to bottom); samples off the detector receive nothing.

    Parameters
    ----------
    image : array_like, (N, N) or (S, N, N)
        A square image, pixel [k, j] at row k and column j, or a stack of S.
        Converted to float64 under the same rules as `backproject`'s sinogram.
    cosines, sines : array_like
        cos(theta) and sin(theta) of each view, finite; V is the number of
        cosines, and there must be at least V sines (extra ones are not read).
    detector_count : int
        M, the detector samples per view; coordinate 0 falls on sample M // 2.
    sampler : {"linear", "nearest"}
    threads : int, optional
        Threads to use, across slices and views; None uses every core. The
        sinogram does not depend on it.

    Returns
    -------
    numpy.ndarray
        (M, V) float64, or (S, M, V) for a stack: one column per view. The GIL
        is released while the kernel runs.

    Raises
    ------
    TypeError
        For complex, boolean, object or text arrays, and a detector count or
        thread count that is not an integer.
    ValueError
        For an image that is not square or has the wrong dimensions, fewer
        sines than cosines, non-finite coefficients, a negative detector
        count, an unknown sampler, or sizes beyond the kernel's 32-bit counts.
    """
    interp_code = _sampler_code(sampler)
    thread_count = _thread_count(threads)
    pixels = _float64(image, "image")
    if pixels.ndim not in (2, 3) or pixels.shape[-1] != pixels.shape[-2]:
        raise ValueError(
            "image must be square, with 2 dimensions (N x N) or 3 (slices x N x N), not "
            f"shape {pixels.shape}")
    cosines = _float64(cosines, "cosines").ravel()
    sines = _float64(sines, "sines").ravel()
    detector_count = _count(detector_count, "detector_count", 0)
    size = pixels.shape[-1]
    _kernel.check_job(min(detector_count, 2**62), cosines.size, cosines, sines, size)

    stack = pixels if pixels.ndim == 3 else pixels[np.newaxis]
    # Each kernel image is column-major, each kernel sinogram view-major.
    kernel_images = _c_ordered(stack.transpose(0, 2, 1))
    sinograms = _kernel.result_array((stack.shape[0], cosines.size, detector_count), zeroed=True)
    _kernel.project_stack(kernel_images, cosines, sines, detector_count, interp_code,
                          thread_count, sinograms)
    result = sinograms.transpose(0, 2, 1)
    return result if pixels.ndim == 3 else result[0]


def _require_sinogram_dimensions(samples):
    if samples.ndim not in (2, 3):
        raise ValueError(
            "sinogram must have 2 dimensions (detector samples x views) or 3 "
            f"(slices x detector samples x views), not {samples.ndim}")


def _kernel_layout(samples):
    """(M, V) or (S, M, V) as (S, V, M) in C order: each view's samples contiguous."""
    _require_sinogram_dimensions(samples)
    stack = samples if samples.ndim == 3 else samples[np.newaxis]
    return _c_ordered(stack.transpose(0, 2, 1))


def _c_ordered(array):
    """`array` itself when it is C-ordered, else a C-ordered copy.

    Results and copies live in memory the compiled part keeps for the next
    call: freshly mapped pages cost more than the sums for a 512 x 512 image.
    """
    if array.flags.c_contiguous:
        return array
    copy = _kernel.result_array(array.shape)
    np.copyto(copy, array)
    return copy


def filter_sinogram(sinogram: npt.ArrayLike, filter: str = "ramp", cutoff: float = 1.0,
                    spacing: float = 1.0, threads: Optional[int] = None) -> np.ndarray:
    """Convolves every view (column) with the ramp kernel, its spectrum windowed.

    The kernel is 1/4 at 0, -1/(pi n)^2 at odd n and 0 at even n, divided by
    the detector spacing, so the result is in units of 1/spacing. Its
    spectrum is multiplied by the window that `filter` names, with x the
    frequency as a fraction of cutoff x Nyquist, and frequencies above the
    cutoff (x > 1) are removed:

        "ramp"         1 (Ram-Lak)
        "shepp-logan"  sin(pi x / 2) / (pi x / 2)
        "cosine"       cos(pi x / 2)
        "hamming"      0.54 + 0.46 cos(pi x)
        "hann"         0.5 + 0.5 cos(pi x)

    Views are zero-padded to an even length of at least 2M - 1 whose only
    factors are 2, 3, 5 and 7 (the cheapest to transform, by fixed costs), so
    nothing wraps around from one end of the detector to the other. The core
    filters the views on a transform of its own, the same bytes on every
    processor and platform, with the GIL released.

    Parameters
    ----------
    sinogram : array_like, (M, V) or (S, M, V)
        One column per view, or a stack of such sinograms.
    filter : str
        One of FILTERS.
    cutoff : float
        Fraction of the Nyquist frequency above which nothing passes,
        0 < cutoff <= 1.
    spacing : float
        Detector spacing, positive and finite.
    threads : int, optional
        Threads to share the views; None uses every core. The result does
        not depend on it.

    Returns
    -------
    numpy.ndarray
        float64 of the sinogram's shape.
    """
    return _filtered(sinogram, filter, cutoff, spacing, threads)


def _filtered(sinogram, filter, cutoff, spacing, threads, shifts=None):
    """filter_sinogram, each view also shifted by its own shift (samples), if given."""
    if not isinstance(filter, str) or filter not in FILTERS:
        raise ValueError(f"filter must be one of {', '.join(map(repr, FILTERS))}, not {filter!r}")
    thread_count = _thread_count(threads)
    samples = _float64(sinogram, "sinogram")
    views = _kernel_layout(samples)
    filtered = _kernel.result_array(views.shape)
    if shifts is not None:
        shifts = np.tile(shifts, views.shape[0])
    _kernel.filter_views(views.reshape(-1, views.shape[-1]), filtered.reshape(-1, views.shape[-1]),
                         filter, float(cutoff), float(spacing), thread_count, shifts)
    # Back to (S, M, V): each view's samples stay contiguous, which is the
    # layout backproject takes without a copy.
    result = filtered.transpose(0, 2, 1)
    return result if samples.ndim == 3 else result[0]


def ramp_filter(sinogram: npt.ArrayLike, spacing: float = 1.0) -> np.ndarray:
    """The plain ramp filter: filter_sinogram(sinogram, "ramp", 1.0, spacing)."""
    return filter_sinogram(sinogram, "ramp", 1.0, spacing)


def fbp(sinogram: npt.ArrayLike, theta: npt.ArrayLike, size: int, sampler: str = "linear",
        filter: str = "ramp", cutoff: float = 1.0, spacing: float = 1.0,
        center: Optional[float] = None, origin: Optional[float] = None,
        threads: Optional[int] = None) -> np.ndarray:
    """Filtered backprojection: filter_sinogram, backproject, then the scale pi/V.

    Parameters
    ----------
    sinogram : array_like, (M, V) or (S, M, V)
        Line integrals, measured in pixel widths, one column per view;
        coordinate 0 at sample M // 2.
    theta : array_like
        The V view angles in radians, normally spread over [0, pi); one for
        every view. Angles spanning more than 2 pi give a warning (they are
        probably degrees: numpy.deg2rad converts them).
    size : int
        Side N of the image.
    sampler : {"linear", "nearest"}
        As backproject takes it.
    filter, cutoff
        The projection filter and its cutoff, as filter_sinogram takes them.
    spacing : float
        The detector spacing in pixel widths (1 when one sample is one
        pixel): views are filtered in units of 1/spacing and each pixel's
        detector coordinate is (cos(theta) x + sin(theta) y) / spacing.
    center : float, optional
        Where the rotation axis falls on the detector, in samples counted
        from 0; it may be fractional. None: M // 2.
    origin : float, optional
        The pixel index, the same for rows and columns, on which the axis
        falls; it may be fractional. None: (size - 1) // 2. Tools that put
        the axis at pixel size // 2 (scikit-image) need origin=size // 2;
        those that centre the grid on the axis need origin=(size - 1) / 2.
    threads : int, optional
        As backproject and filter_sinogram take it.

    Returns
    -------
    numpy.ndarray
        (size, size), or (S, size, size) for a stack. With center and origin
        None it is byte for byte backproject(filter_sinogram(...),
        cos(theta) / spacing, sin(theta) / spacing, size) * (pi / V), with
        cos and sin the core's (core/README.md, "View angles": the same bits
        on every platform, within an ulp of NumPy's). Other
        values shift each view by (center - M // 2) + ((size - 1) // 2 -
        origin)(cos(theta) - sin(theta)) / spacing samples inside the
        filter's transform, so the backprojection reads each pixel's own
        sample; between samples the shift interpolates band-limited.

    Raises
    ------
    ValueError
        For a theta of another length than the views, or not finite, and
        whatever filter_sinogram and backproject refuse.
    """
    angles, _ = _view_angles(theta, sinogram)
    shifts = _shifts(angles, sinogram, size, spacing, center, origin)
    filtered = _filtered(sinogram, filter, cutoff, spacing, threads, shifts)
    cosines, sines = _kernel.view_coefficients(angles, float(spacing))
    image = backproject(filtered, cosines, sines, size, sampler, threads)
    image *= np.pi / angles.size  # in place: the image is this call's own
    return image


def _view_angles(theta, sinogram, stacklevel=3):
    """theta as float64, checked against the sinogram's views."""
    angles = _float64(theta, "theta").ravel()
    if not np.all(np.isfinite(angles)):
        raise ValueError("theta must be finite")
    if angles.size == 0:
        raise ValueError("theta must hold at least one angle")
    views = np.shape(sinogram)[-1] if np.ndim(sinogram) in (2, 3) else None
    if views is not None and views != angles.size:
        raise ValueError(f"theta needs an angle for every view: {angles.size} angles, "
                         f"{views} views")
    if np.ptp(angles) > 2 * np.pi:
        warnings.warn(f"theta spans {np.ptp(angles):.4g} radians, more than 2 pi: angles are "
                      "radians (numpy.deg2rad converts degrees)", stacklevel=stacklevel)
    return np.ascontiguousarray(angles), views


def _shifts(angles, sinogram, size, spacing, center, origin):
    """Each view's data offset in samples for center and origin, or None for neither."""
    if np.ndim(sinogram) not in (2, 3) or (center is None and origin is None):
        return None
    detector_count = np.shape(sinogram)[-2]
    size = _count(size, "size", 0)
    center = detector_count // 2 if center is None else float(center)
    origin = (size - 1) // 2 if origin is None else float(origin)
    if not (math.isfinite(center) and math.isfinite(origin)):
        raise ValueError("center and origin must be finite")
    # A spacing of 0 gives infinite shifts; the filter and the solvers refuse it.
    return _kernel.view_shifts(angles, detector_count, size, float(spacing), center, origin)


def _solve(method, sinogram, theta, size, iterations, sampler, spacing, center, origin,
           nonnegative, relaxation, x0, tolerance, threads, callback):
    angles, _ = _view_angles(theta, sinogram, stacklevel=4)
    samples = _float64(sinogram, "sinogram")
    _require_sinogram_dimensions(samples)
    size = _count(size, "size", 0)
    iterations = _count(iterations, "iterations", 0)
    if iterations > 2**31 - 1:
        raise ValueError(f"iterations must be at most 2147483647, not {iterations}")
    interp_code = _sampler_code(sampler)
    thread_count = _thread_count(threads)
    spacing = float(spacing)
    if not (math.isfinite(spacing) and spacing > 0):
        raise ValueError(f"spacing must be positive and finite, not {spacing}")
    relaxation, tolerance = float(relaxation), float(tolerance)
    if not 0 < relaxation < 2:
        raise ValueError(f"relaxation must lie in (0, 2), not {relaxation}")
    if not (math.isfinite(tolerance) and tolerance >= 0):
        raise ValueError(f"tolerance must be finite and at least 0, not {tolerance}")
    if callback is not None and not callable(callback):
        raise TypeError("callback must be callable or None")
    shifts = _shifts(angles, samples, size, spacing, center, origin)
    cosines, sines = _kernel.view_coefficients(angles, spacing)
    _kernel.check_job(samples.shape[-2], samples.shape[-1], cosines, sines, min(size, 2**62))

    kernel_stack = _kernel_layout(samples)
    slices = kernel_stack.shape[0]
    images = _kernel.result_array((slices, size, size))
    if x0 is not None:
        start = _float64(x0, "x0")
        if start.shape != samples.shape[:-2] + (size, size):
            raise ValueError(f"x0 must have shape {samples.shape[:-2] + (size, size)}, not "
                             f"{start.shape}")
        # Kernel images are column-major.
        images[...] = (start if start.ndim == 3 else start[np.newaxis]).transpose(0, 2, 1)
    report = None
    if callback is not None:
        def report(iteration, norms):
            return callback(iteration, float(norms[0]) if samples.ndim == 2 else norms)
    _kernel.solve_stack(method, kernel_stack, cosines, sines, shifts, size, interp_code,
                        iterations, tolerance, relaxation, bool(nonnegative), x0 is not None,
                        thread_count, images, report)
    result = images.transpose(0, 2, 1)
    return result if samples.ndim == 3 else result[0]


_SOLVER_PARAMETERS = """
    Parameters
    ----------
    sinogram : array_like, (M, V) or (S, M, V)
        Line integrals, one column per view, or a stack of S sinograms that
        share the geometry; converted to float64 as `backproject` converts.
    theta : array_like
        The V view angles in radians, one per view, as `fbp` takes them.
    size : int
        Side N of the image.
    iterations : int
        Most updates to make, at least 0.
    sampler : {"linear", "nearest"}
        The projection pair's interpolation.
    spacing : float
        The detector spacing in pixel widths, as for `fbp`.
    center, origin : float, optional
        Where the axis falls on the detector (samples) and on the pixel grid
        (index), as for `fbp`. Either one set moves each view's data by
        fbp's shift before the solve, interpolating linearly between samples
        (exactly for whole-sample shifts), samples off the detector read
        as 0.@EXTRA@
    x0 : array_like, optional
        The starting image, (N, N) or (S, N, N); None starts from zeros.
    tolerance : float
        Stop a slice once ||y - A x|| <= tolerance ||y||; 0 runs every
        iteration (a slice whose residual is exactly 0 stops anyway).
    threads : int, optional
        Threads across slices and inside each projection; None uses every
        core. The images do not depend on it, and each slice's is the one it
        gets alone.
    callback : callable, optional
        callback(iteration, residual_norm) after each iteration, residual_norm
        being ||y - A x|| (for a stack a float64 array, one per slice, NaN for
        a slice already stopped). A true result stops every slice; an
        exception it raises stops the solve and propagates.

    Returns
    -------
    numpy.ndarray
        (N, N), or (S, N, N) for a stack: the least-squares image itself,
        unscaled. The GIL is released while the core works, and taken back
        only to call `callback`.

    Raises
    ------
    TypeError
        For counts that are not integers, and arrays `backproject` refuses.
    ValueError
        For iterations < 0, a tolerance that is negative or not finite, an
        x0 of the wrong shape, a theta of the wrong length, and whatever
        `backproject` refuses.@RAISES@
    """


def _solver_parameters(extra, raises):
    return _SOLVER_PARAMETERS.replace("@EXTRA@", extra).replace("@RAISES@", raises)


def sirt(sinogram: npt.ArrayLike, theta: npt.ArrayLike, size: int, iterations: int = 100,
         sampler: str = "linear", spacing: float = 1.0, center: Optional[float] = None,
         origin: Optional[float] = None, nonnegative: bool = False, relaxation: float = 1.0,
         x0: Optional[npt.ArrayLike] = None, tolerance: float = 0.0,
         threads: Optional[int] = None, callback=None) -> np.ndarray:
    return _solve("sirt", sinogram, theta, size, iterations, sampler, spacing, center, origin,
                  nonnegative, relaxation, x0, tolerance, threads, callback)


sirt.__doc__ = """SIRT: x <- x + relaxation C B R (y - A x), from x0 or zeros.

    A is `project` and B its transpose `backproject`, with fbp's coefficients
    cos(theta) / spacing and sin(theta) / spacing; R holds 1 / (A 1), the
    reciprocal row sums, and C 1 / (B 1), the column sums', 0 where a sum is
    0. The sums in every norm run in the core's defined order
    (core/README.md, "The solvers"), so the image is the same on every host.
""" + _solver_parameters(extra="""
    nonnegative : bool
        Set negative pixels to 0 after each update.
    relaxation : float
        The step's factor lambda, 0 < relaxation < 2.""", raises="""
        Also for a relaxation outside (0, 2).""")


def cgls(sinogram: npt.ArrayLike, theta: npt.ArrayLike, size: int, iterations: int = 20,
         sampler: str = "linear", spacing: float = 1.0, center: Optional[float] = None,
         origin: Optional[float] = None, x0: Optional[npt.ArrayLike] = None,
         tolerance: float = 0.0, threads: Optional[int] = None, callback=None) -> np.ndarray:
    return _solve("cgls", sinogram, theta, size, iterations, sampler, spacing, center, origin,
                  False, 1.0, x0, tolerance, threads, callback)


cgls.__doc__ = """CGLS: conjugate gradients on min ||y - A x||, from x0 or zeros.

    The textbook recursion with A = `project` and B = `backproject`: r = y -
    A x, s = B r, p = s, gamma = <s, s>; then q = A p, alpha = gamma / <q, q>,
    x += alpha p, r -= alpha q, s = B r, p = s + (<s, s> / gamma) p. Each
    iteration costs one projection and one backprojection; the residual norm
    reported is the recursion's r. It stops early where B r or A p is 0.
""" + _solver_parameters(extra="", raises="")
