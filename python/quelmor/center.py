"""Finding the rotation axis of a scan, to a fraction of a detector sample.

First the projections nearest 0 and 180 degrees are registered: the one is
the other mirrored about the axis, so the shift that best aligns the first
with the second reversed, found by cross-correlation and refined by a
parabola through the peak, gives the axis. Then the axis is refined on the
slices themselves: each is reconstructed (fbp, the grid centred on the
candidate axis) at candidates 0.2 samples apart around the first estimate,
and the one whose images have the most energy (sum of squares: edges that
line up, rather than the arcs of a misplaced axis) wins, refined again by a
parabola through its neighbours.
"""

from __future__ import annotations

import numpy as np

from . import fbp


def _subsample_peak(values, index):
    """The peak's position refined by a parabola through it and its neighbours."""
    before, peak, after = values[index - 1], values[index], values[(index + 1) % values.size]
    curvature = before - 2 * peak + after
    return index + (0.5 * (before - after) / curvature if curvature < 0 else 0.0)


def register_opposite_views(sinograms: np.ndarray, theta: np.ndarray):
    """The axis from the views nearest 0 and pi: (axis, how far the second is
    from pi in radians), or None when the views span less than about pi."""
    turned = np.mod(theta, 2 * np.pi)
    first = int(np.argmin(np.minimum(turned, 2 * np.pi - turned)))
    second = int(np.argmin(np.abs(turned - np.mod(turned[first] + np.pi, 2 * np.pi))))
    miss = abs(np.mod(turned[second] - turned[first], 2 * np.pi) - np.pi)
    if miss > np.radians(5):
        return None
    columns = sinograms.shape[1]
    ahead = sinograms[:, :, first].sum(axis=0)
    mirrored = sinograms[:, :, second].sum(axis=0)[::-1]
    length = 2 * columns
    spectrum = np.fft.rfft(ahead - ahead.mean(), length) * np.conj(
        np.fft.rfft(mirrored - mirrored.mean(), length))
    correlation = np.fft.irfft(spectrum, length)
    shift = _subsample_peak(correlation, int(np.argmax(correlation)))
    if shift > length / 2:
        shift -= length
    # The mirrored view is the first shifted by 2 axis - (columns - 1).
    return (columns - 1 + shift) / 2, miss


def image_energy(sinograms, theta, center, size, filter="shepp-logan"):
    images = fbp(sinograms, theta, size, filter=filter, center=center, origin=(size - 1) / 2)
    return float(np.sum(images * images))


STEP = 0.2  # samples between candidates; the parabola refines between them


def find_center(sinograms: np.ndarray, theta: np.ndarray) -> float:
    """The rotation axis in detector samples counted from 0, from (S, M, V)
    sinograms of a few slices and their angles in radians."""
    sinograms = np.asarray(sinograms, dtype=np.float64)
    columns = sinograms.shape[1]
    registered = register_opposite_views(sinograms, theta)
    if registered is None:
        first, reach = (columns - 1) / 2, columns / 4
    else:
        first, miss = registered
        # Views a little off opposite register a little off the axis.
        reach = 1.0 if miss < np.radians(0.5) else 3.0
    size = columns
    candidates = first + np.arange(-reach, reach + 1e-9, STEP)
    candidates = candidates[(candidates > 0) & (candidates < columns - 1)]
    if candidates.size < 3:
        return float(first)
    energies = np.array([image_energy(sinograms, theta, c, size) for c in candidates])
    best = int(np.argmax(energies))
    if 0 < best < candidates.size - 1:
        return float(candidates[0] + STEP * _subsample_peak(energies, best))
    return float(candidates[best])
