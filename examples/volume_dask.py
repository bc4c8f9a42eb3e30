#!/usr/bin/env python3
"""Reconstructs a volume, slice by slice, on a Dask cluster.

The volume's sinograms are a dask.array of shape (slices, M, V), chunked
along the slices; quelmor.fbp is mapped over the chunks, so each worker
reconstructs whole slices on one thread. By default the cluster is a
LocalCluster of worker processes on this machine; --scheduler ADDRESS runs
the same code on an existing cluster instead (every worker needs quelmor).

  volume_dask.py [--slices S] [--side N] [--views V] [--chunk C] [--workers W]
                 [--input SINOGRAMS.npy] [--scheduler ADDRESS] --out VOLUME.npy

Without --input the sinograms are those of a 3-D Shepp-Logan phantom (slices
spread over the middle half of its height); with it, an (S, M, V) .npy file
whose V views are spread evenly over [0, pi).
"""

import argparse
import os
import sys
import time

import dask.array as da
import numpy as np
from dask.distributed import Client, LocalCluster

import quelmor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import shepp_logan  # noqa: E402  (the phantom beside this script)


def phantom_sinograms(slices, side, views):
    detector_count = quelmor.covering_detector_count(side)
    theta = shepp_logan.view_angles(views)
    heights = np.linspace(-0.5, 0.5, slices) if slices > 1 else [0.0]
    return np.stack([shepp_logan.sinogram(side, detector_count, theta, z) for z in heights])


def reconstruct(sinograms, side, chunk, client):
    """quelmor.fbp over chunks of slices, one thread per task."""
    views = sinograms.shape[2]
    theta = shepp_logan.view_angles(views)
    stack = da.from_array(sinograms, chunks=(chunk, -1, -1))
    volume = stack.map_blocks(quelmor.fbp, theta, side, threads=1, dtype=np.float64,
                              chunks=(stack.chunks[0], (side,), (side,)))
    return client.compute(volume).result()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--slices", type=int, default=16, help="phantom slices (default 16)")
    parser.add_argument("--side", type=int, default=256, help="image side N (default 256)")
    parser.add_argument("--views", type=int, default=180, help="phantom views (default 180)")
    parser.add_argument("--chunk", type=int, default=4, help="slices per task (default 4)")
    parser.add_argument("--workers", type=int, default=os.cpu_count(),
                        help="worker processes of the local cluster")
    parser.add_argument("--input", help="(S, M, V) sinograms in a .npy file")
    parser.add_argument("--scheduler", help="address of an existing Dask scheduler")
    parser.add_argument("--out", required=True, help="where to write the volume (.npy)")
    args = parser.parse_args()
    for name in ("slices", "side", "views", "chunk", "workers"):
        if getattr(args, name) < 1:
            parser.error(f"--{name} must be at least 1")

    if args.input:
        sinograms = np.load(args.input, mmap_mode="r")
        if sinograms.ndim != 3:
            parser.error(f"--input must hold (slices, M, V) sinograms, not shape {sinograms.shape}")
    else:
        sinograms = phantom_sinograms(args.slices, args.side, args.views)

    cluster = None
    if not args.scheduler:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
    with Client(args.scheduler or cluster) as client:
        workers = len(client.scheduler_info()["workers"])
        started = time.perf_counter()
        volume = reconstruct(sinograms, args.side, args.chunk, client)
        seconds = time.perf_counter() - started
    if cluster is not None:
        cluster.close()
    np.save(args.out, volume)
    slices, views = sinograms.shape[0], sinograms.shape[2]
    print(f"{slices} slices of side {args.side} from {views} views on {workers} workers: "
          f"{seconds:.2f} s, {slices * args.side**2 * views / seconds / 1e9:.2f} giga "
          f"pixel-updates/s; volume {volume.shape} written to {args.out}")

if __name__ == "__main__":
    main()
