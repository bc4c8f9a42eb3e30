#!/usr/bin/env python3
"""Reconstructs a volume, slice by slice, on a Dask cluster.

The volume's sinograms are a dask.array of shape (slices, M, V), chunked
along the slices; quelmor.fbp is mapped over the chunks, so each worker
reconstructs whole slices on one thread. By default the cluster is a
LocalCluster of worker processes on this machine; --scheduler ADDRESS runs
the same code on an existing cluster instead (every worker needs quelmor,
and for HDF5 input h5py and the file).

  volume_dask.py [--slices S] [--side N] [--views V] [--chunk C] [--workers W]
                 [--input PROJECTIONS.h5 --dataset PATH | --input SINOGRAMS.npy]
                 [--scheduler ADDRESS] --out VOLUME.h5|VOLUME.npy

Without --input the sinograms are those of a 3-D Shepp-Logan phantom (slices
spread over the middle half of its height). With an HDF5 file (.h5, .hdf5),
--dataset names the projections, stored as beamlines store them:
(angles, detector rows, detector columns); each detector row is one slice's
sinogram, and the workers read the rows of their chunk themselves, so the
file is never loaded whole. A .npy input holds (S, M, V) sinograms. Either
way the V views are spread evenly over [0, pi). The volume goes to an HDF5
dataset "volume" chunked by slices, or to a .npy, a chunk at a time, while a
progress bar shows the chunks done.
"""

import argparse
import os
import sys
import time

import dask.array as da
import numpy as np
from dask.distributed import Client, LocalCluster, progress

import quelmor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import shepp_logan  # noqa: E402  (the phantom beside this script)


def phantom_sinograms(slices, side, views):
    detector_count = quelmor.covering_detector_count(side)
    theta = shepp_logan.view_angles(views)
    heights = np.linspace(-0.5, 0.5, slices) if slices > 1 else [0.0]
    return np.stack([shepp_logan.sinogram(side, detector_count, theta, z) for z in heights])


HDF5_SUFFIXES = (".h5", ".hdf5")


class HDF5Projections:
    """An HDF5 dataset that every process opens for itself: dask reads it a
    chunk at a time in the task that needs the chunk. Counts what this
    process has read, so the client can say it read none of it."""
    bytes_read = 0

    def __init__(self, path, name):
        import h5py
        with h5py.File(path, "r") as file:
            dataset = file[name]
            self.shape, self.dtype, self.nbytes = dataset.shape, dataset.dtype, dataset.nbytes
        self.ndim = len(self.shape)
        self.path, self.name = path, name

    def __getitem__(self, key):
        import h5py
        with h5py.File(self.path, "r") as file:
            block = file[self.name][key]
        HDF5Projections.bytes_read += block.nbytes
        return block


def sinogram_stack(args, parser):
    """(S, M, V) sinograms as a dask.array chunked by slices, and the input's size in bytes."""
    if args.input and args.input.endswith(HDF5_SUFFIXES):
        if not args.dataset:
            parser.error("--input of HDF5 needs --dataset, the projections' path in the file")
        projections = HDF5Projections(args.input, args.dataset)
        if projections.ndim != 3:
            parser.error(f"--dataset must hold (angles, detector rows, detector columns), "
                         f"not shape {projections.shape}")
        rows = da.from_array(projections, chunks=(-1, args.chunk, -1), asarray=True,
                             meta=np.empty((0, 0, 0), projections.dtype))
        return rows.transpose(1, 2, 0), projections.nbytes
    if args.input:
        sinograms = np.load(args.input, mmap_mode="r")
        if sinograms.ndim != 3:
            parser.error(f"--input must hold (slices, M, V) sinograms, not shape {sinograms.shape}")
    else:
        sinograms = phantom_sinograms(args.slices, args.side, args.views)
    return da.from_array(sinograms, chunks=(args.chunk, -1, -1)), sinograms.nbytes


def reconstruct(stack, side, client, write):
    """quelmor.fbp over chunks of slices, one thread per task; write(first, block)
    takes each chunk's images in turn, so the client holds one at a time."""
    theta = shepp_logan.view_angles(stack.shape[2])
    volume = stack.map_blocks(quelmor.fbp, theta, side, threads=1, dtype=np.float64,
                              chunks=(stack.chunks[0], (side,), (side,)))
    futures = client.compute(volume.to_delayed().ravel().tolist())
    progress(futures)
    first = 0
    for future in futures:
        block = future.result()
        write(first, block)
        first += block.shape[0]
        future.release()


def volume_writer(path, shape):
    """write(first, block) into `path`, and a close(): HDF5 chunked by slices, or .npy."""
    if path.endswith(HDF5_SUFFIXES):
        import h5py
        file = h5py.File(path, "w")
        dataset = file.create_dataset("volume", shape, np.float64, chunks=(1,) + shape[1:])

        def write(first, block):
            dataset[first:first + len(block)] = block
        return write, file.close
    array = np.lib.format.open_memmap(path, mode="w+", dtype=np.float64, shape=shape)

    def write(first, block):
        array[first:first + len(block)] = block
    return write, array.flush


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--slices", type=int, default=16, help="phantom slices (default 16)")
    parser.add_argument("--side", type=int, default=256, help="image side N (default 256)")
    parser.add_argument("--views", type=int, default=180, help="phantom views (default 180)")
    parser.add_argument("--chunk", type=int, default=4, help="slices per task (default 4)")
    parser.add_argument("--workers", type=int, default=os.cpu_count(),
                        help="worker processes of the local cluster")
    parser.add_argument("--input", help="projections in an HDF5 file (with --dataset), or "
                        "(S, M, V) sinograms in a .npy file")
    parser.add_argument("--dataset", help="the projections' path in the HDF5 file, shaped "
                        "(angles, detector rows, detector columns)")
    parser.add_argument("--scheduler", help="address of an existing Dask scheduler")
    parser.add_argument("--out", required=True,
                        help="where to write the volume: .h5/.hdf5 (dataset 'volume') or .npy")
    args = parser.parse_args()
    for name in ("slices", "side", "views", "chunk", "workers"):
        if getattr(args, name) < 1:
            parser.error(f"--{name} must be at least 1")

    stack, input_bytes = sinogram_stack(args, parser)
    slices, views = stack.shape[0], stack.shape[2]
    write, close = volume_writer(args.out, (slices, args.side, args.side))

    cluster = None
    if not args.scheduler:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
    with Client(args.scheduler or cluster) as client:
        workers = len(client.scheduler_info()["workers"])
        started = time.perf_counter()
        reconstruct(stack, args.side, client, write)
        seconds = time.perf_counter() - started
    if cluster is not None:
        cluster.close()
    close()
    print(f"{slices} slices of side {args.side} from {views} views on {workers} workers: "
          f"{seconds:.2f} s, {slices * args.side**2 * views / seconds / 1e9:.2f} giga "
          f"pixel-updates/s; volume ({slices}, {args.side}, {args.side}) written to {args.out}")
    if args.input and args.input.endswith(HDF5_SUFFIXES):
        print(f"this process read {HDF5Projections.bytes_read} of the input's {input_bytes} "
              "bytes itself; the workers read the rest")


if __name__ == "__main__":
    main()
