"""Scan files: projections with flat and dark fields in HDF5, read a few
detector rows at a time and turned into sinograms.

The DXchange layout is the default: /exchange/data (angles, detector rows,
detector columns), /exchange/data_white and /exchange/data_dark (flat and
dark fields, each (count, rows, columns)) and /exchange/theta (one angle per
projection, in degrees). Any other HDF5 dataset of projections can be named,
with the angles from a dataset or a range.
"""

from __future__ import annotations

import dataclasses
import math
import os
from typing import Optional

import numpy as np


class ScanError(Exception):
    """A scan file that cannot be read as asked, said in one line."""


@dataclasses.dataclass(frozen=True)
class Scan:
    """Where a scan's parts are; small, so every worker can open the file itself."""
    path: str
    data: str
    flats: Optional[str]
    darks: Optional[str]
    theta_degrees: tuple
    angles: int
    rows: int
    columns: int

    @property
    def theta(self) -> np.ndarray:
        """The angles in radians, as fbp takes them."""
        return np.radians(np.asarray(self.theta_degrees, dtype=np.float64))


def _h5py():
    try:
        import h5py
    except ImportError:
        raise ScanError("reading scan files needs h5py (Debian: python3-h5py)") from None
    return h5py


def _theta_range(text, count):
    """'START:STOP' in degrees: `count` angles spread evenly over [START, STOP)."""
    try:
        start, stop = (float(part) for part in text.split(":"))
    except ValueError:
        raise ScanError(f"--theta {text!r} is neither a dataset nor a range START:STOP in degrees")
    if not (math.isfinite(start) and math.isfinite(stop)) or stop == start:
        raise ScanError(f"--theta {text!r}: the range needs two different finite angles")
    return tuple(start + (stop - start) * np.arange(count) / count)


def open_scan(path: str, dataset: Optional[str] = None, theta: Optional[str] = None,
              flats: Optional[str] = None, darks: Optional[str] = None) -> Scan:
    """Checks the scan file and its datasets; reads only the angles."""
    h5py = _h5py()
    if not os.path.exists(path):
        raise ScanError(f"{path}: no such file")
    try:
        file = h5py.File(path, "r")
    except OSError as error:
        raise ScanError(f"{path}: not a readable HDF5 file ({error})") from None
    with file:
        data = dataset or "/exchange/data"
        if dataset is None:
            flats = flats or "/exchange/data_white"
            darks = darks or "/exchange/data_dark"
            theta = theta or "/exchange/theta"
        if data not in file or not isinstance(file[data], h5py.Dataset):
            raise ScanError(f"{path}: no dataset {data} (name the projections with --dataset)")
        shape = file[data].shape
        if len(shape) != 3 or min(shape) < 1:
            raise ScanError(f"{path}: {data} must be (angles, detector rows, detector columns), "
                            f"not shape {shape}")
        for name, what in ((flats, "flat fields"), (darks, "dark fields")):
            if name is None:
                continue
            if name not in file:
                raise ScanError(f"{path}: no dataset {name} for the {what}")
            fields = file[name].shape
            if len(fields) != 3 or fields[1:] != shape[1:] or fields[0] < 1:
                raise ScanError(f"{path}: {name} ({what}) must be (count, {shape[1]}, {shape[2]}), "
                                f"not shape {fields}")
        if theta is None:
            raise ScanError("the angles are missing: give --theta DATASET or --theta START:STOP")
        if theta in file:
            angles = np.asarray(file[theta], dtype=np.float64).ravel()
        elif theta.startswith("/"):
            raise ScanError(f"{path}: no dataset {theta} for the angles")
        else:
            angles = np.asarray(_theta_range(theta, shape[0]))
    if angles.size != shape[0]:
        raise ScanError(f"{path}: {angles.size} angles for {shape[0]} projections")
    if not np.all(np.isfinite(angles)):
        raise ScanError(f"{path}: the angles must be finite")
    return Scan(path, data, flats, darks, tuple(angles.tolist()), *shape)


def _field_mean(dataset, start, stop):
    """The mean of the fields over their count, row by row in a fixed order."""
    total = np.zeros((stop - start, dataset.shape[2]))
    for k in range(dataset.shape[0]):
        total = total + np.asarray(dataset[k, start:stop], dtype=np.float64)
    return total / dataset.shape[0]


def read_sinograms(scan: Scan, start: int, stop: int):
    """Rows [start, stop) as (rows, columns, angles) sinograms: the flat- and
    dark-corrected transmission's -log. Samples whose transmission is not
    positive or not finite take the nearest good sample's value in their
    detector row (0 where the row has none); returns the sinograms and their
    count."""
    h5py = _h5py()
    with h5py.File(scan.path, "r") as file:
        data = np.asarray(file[scan.data][:, start:stop], dtype=np.float64)
        dark = _field_mean(file[scan.darks], start, stop) if scan.darks else 0.0
        flat = _field_mean(file[scan.flats], start, stop) if scan.flats else None
    if flat is not None:
        span = flat - dark
        if np.all(span == 0):
            raise ScanError(f"{scan.path}: the flat fields equal the dark fields in rows "
                            f"{start}:{stop}; there is nothing to normalise by")
        with np.errstate(divide="ignore", invalid="ignore"):
            transmission = (data - dark) / span
    else:
        transmission = data - dark
    with np.errstate(divide="ignore", invalid="ignore"):
        attenuation = -np.log(transmission)
    bad = ~np.isfinite(attenuation)
    replaced = int(np.count_nonzero(bad))
    if replaced:
        _fill_from_neighbours(attenuation, bad)
    return np.ascontiguousarray(attenuation.transpose(1, 2, 0)), replaced


def _fill_from_neighbours(values, bad):
    """Each bad sample takes the nearest good one in its detector row (the last axis)."""
    rows = values.reshape(-1, values.shape[-1])
    flags = bad.reshape(rows.shape)
    positions = np.arange(rows.shape[1])
    for row, flag in zip(rows, flags):
        if not flag.any():
            continue
        good = positions[~flag]
        if good.size == 0:
            row[:] = 0.0
            continue
        nearest = np.searchsorted(good, positions[flag]).clip(1, max(good.size - 1, 1))
        left, right = good[nearest - 1], good[np.minimum(nearest, good.size - 1)]
        pick = np.where(positions[flag] - left <= right - positions[flag], left, right)
        row[flag] = row[pick]
