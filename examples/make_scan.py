#!/usr/bin/env python3
"""Writes a simulated parallel-beam scan in the DXchange layout, for trying
`quelmor recon` and `quelmor find-center` without a beamline.

  make_scan.py OUT.h5 [--rows R] [--columns W] [--views V] [--center C]
               [--photons I0] [--seed S]

The object is the 3-D Shepp-Logan phantom (examples/shepp_logan.py), its
height spread over the detector rows, its attenuation scaled so the densest
path keeps about 15% of the beam. The rotation axis falls on detector column
C (fractional allowed, default a few samples right of the middle); counts
carry Poisson noise for I0 photons per sample in the flat field. The file
holds /exchange/data (V, R, W) as uint16, /exchange/data_white (4 flats),
/exchange/data_dark (4 darks) and /exchange/theta in degrees over [0, 180].
"""

import argparse
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import shepp_logan  # noqa: E402  (the phantom beside this script)


def make_scan(path, rows=8, columns=128, views=181, center=None, photons=2e4, seed=1):
    """Writes the scan; returns the rotation axis's column."""
    import h5py
    center = columns / 2 + 5.3 if center is None else center
    random = np.random.default_rng(seed)
    theta = np.arange(views) * 180.0 / (views - 1)  # both 0 and 180 degrees
    side = int(columns * 0.8)
    heights = np.linspace(-0.6, 0.6, rows)
    paths = np.stack([shepp_logan.sinogram(side, columns, np.radians(theta), z, center=center)
                      for z in heights])  # (rows, columns, views)
    attenuation = paths * (1.9 / paths.max())
    dark_level, dark_noise = 100.0, 3.0
    expected = photons * np.exp(-attenuation).transpose(2, 0, 1) + dark_level
    data = random.poisson(expected) + random.normal(0, dark_noise, expected.shape)
    flats = random.poisson(photons, (4, rows, columns)) + dark_level
    darks = random.normal(dark_level, dark_noise, (4, rows, columns))
    as_counts = lambda values: np.clip(np.rint(values), 0, 65535).astype(np.uint16)  # noqa: E731
    with h5py.File(path, "w") as file:
        file["/exchange/data"] = as_counts(data)
        file["/exchange/data_white"] = as_counts(flats)
        file["/exchange/data_dark"] = as_counts(darks)
        file["/exchange/theta"] = theta
    return center


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out", help="the HDF5 file to write")
    parser.add_argument("--rows", type=int, default=8, help="detector rows, the slices (default 8)")
    parser.add_argument("--columns", type=int, default=128, help="detector columns (default 128)")
    parser.add_argument("--views", type=int, default=181, help="projections over [0, 180] degrees")
    parser.add_argument("--center", type=float, help="the rotation axis's column (default W/2 + 5.3)")
    parser.add_argument("--photons", type=float, default=2e4, help="flat-field counts per sample")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    center = make_scan(args.out, args.rows, args.columns, args.views, args.center, args.photons,
                       args.seed)
    print(f"{args.out}: {args.views} projections of {args.rows} x {args.columns}, "
          f"rotation axis at column {center}")


if __name__ == "__main__":
    main()
