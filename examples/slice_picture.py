#!/usr/bin/env python3
"""Writes one slice of a volume that `quelmor recon` made as a greyscale PNG.

  slice_picture.py VOLUME.h5 OUT.png [--row R]

The slice's values from its 1st to its 99th percentile span black to white.
"""

import argparse
import struct
import zlib

import h5py
import numpy as np


def write_png(path, grey):
    """8-bit greyscale PNG from a (rows, columns) array of 0..255."""
    rows = b"".join(b"\x00" + row.tobytes() for row in np.asarray(grey, dtype=np.uint8))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", grey.shape[1], grey.shape[0], 8, 0, 0, 0, 0)
    with open(path, "wb") as file:
        file.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
                   + chunk(b"IEND", b""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("volume")
    parser.add_argument("out")
    parser.add_argument("--row", type=int, help="the slice (default: the middle one)")
    args = parser.parse_args()
    with h5py.File(args.volume, "r") as file:
        volume = file["volume"]
        image = np.asarray(volume[volume.shape[0] // 2 if args.row is None else args.row], float)
    low, high = np.percentile(image, [1, 99])
    write_png(args.out, np.clip((image - low) / (high - low) * 255, 0, 255).round())


if __name__ == "__main__":
    main()
