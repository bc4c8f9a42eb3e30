"""The `quelmor` command: from a scan file to a volume.

  quelmor recon INPUT --out OUTPUT [options]     reconstruct every detector row
  quelmor find-center INPUT [--row R | --rows A:B]   the rotation axis

`quelmor COMMAND --help` describes each. Errors are one line on standard
error and a non-zero exit status (2 for bad input, 130 when interrupted).
"""

from __future__ import annotations

import argparse
import contextlib
import json
import logging
import math
import os
import signal
import sys
import time

import numpy as np

from . import FILTERS, __version__
from .scan import ScanError, open_scan, read_sinograms
from .volume_file import VolumeError, existing_output, open_volume, remove_output

SAMPLERS = ("linear", "nearest")


class UsageError(ScanError):
    pass


def algorithms():
    """fbp, and the iterative solvers this package has."""
    import quelmor
    return ["fbp"] + [name for name in ("sirt", "cgls") if hasattr(quelmor, name)]


def _rows(text, count):
    """'A:B' (either end may be left out) as a range inside [0, count)."""
    try:
        parts = [part.strip() for part in text.split(":")]
        if len(parts) != 2:
            raise ValueError
        start = int(parts[0]) if parts[0] else 0
        stop = int(parts[1]) if parts[1] else count
    except ValueError:
        raise UsageError(f"--rows {text!r} must be A:B, detector rows A to B - 1") from None
    if not 0 <= start < stop <= count:
        raise UsageError(f"--rows {text}: the detector has rows 0:{count}")
    return start, stop


def _scan(args):
    return open_scan(args.input, dataset=args.dataset, theta=args.theta)


def _add_input_options(parser):
    parser.add_argument("input", metavar="INPUT", help="the scan: an HDF5 file (DXchange layout "
                        "unless --dataset says otherwise)")
    parser.add_argument("--dataset", help="the projections' dataset (angles, rows, columns), for a "
                        "file not in the DXchange layout (no flats or darks are then applied)")
    parser.add_argument("--theta", help="the angles in degrees: a dataset of the file, or a "
                        "range START:STOP spread evenly over the projections (default "
                        "/exchange/theta)")


def _middle_rows(start, stop):
    """A few rows around the middle of [start, stop) for finding the axis."""
    middle = (start + stop) // 2
    return max(start, middle - 1), min(stop, middle + 2)


def center_of(scan, start, stop, report=print):
    from .center import find_center
    sinograms, replaced = read_sinograms(scan, start, stop)
    if replaced:
        report(f"replaced {replaced} non-positive or non-finite transmission samples")
    return find_center(sinograms, scan.theta)


# --- find-center -------------------------------------------------------------

def find_center_command(args):
    scan = _scan(args)
    if args.row is not None:
        if not 0 <= args.row < scan.rows:
            raise UsageError(f"--row {args.row}: the detector has rows 0:{scan.rows}")
        start, stop = args.row, args.row + 1
    elif args.rows:
        start, stop = _rows(args.rows, scan.rows)
    else:
        start, stop = _middle_rows(0, scan.rows)
    started = time.perf_counter()
    center = center_of(scan, start, stop)
    print(f"rotation axis from rows {start}:{stop} of {scan.path} "
          f"({scan.angles} projections, {scan.columns} columns) in "
          f"{time.perf_counter() - started:.1f} s, in detector samples counted from 0:")
    print(f"{center:.3f}")
    return 0


# --- recon --------------------------------------------------------------------

class Progress:
    """Rows done, rate and time left: a bar redrawn on a terminal, a line every
    `interval` seconds (and at the end) elsewhere."""

    def __init__(self, total, interval, stream=sys.stderr):
        self.total, self.interval, self.stream = total, interval, stream
        self.done, self.started, self.last = 0, time.monotonic(), None
        self.terminal = stream.isatty()

    def add(self, rows):
        self.done += rows
        now = time.monotonic()
        rate = self.done / max(now - self.started, 1e-9)
        left = (self.total - self.done) / rate if rate > 0 else math.inf
        finished = self.done >= self.total
        if self.terminal:
            filled = int(30 * self.done / max(self.total, 1))
            self.stream.write(f"\r[{'#' * filled}{'.' * (30 - filled)}] {self.done}/{self.total} rows, "
                              f"{rate:.2f} rows/s, {left:.0f} s left  " + ("\n" if finished else ""))
            self.stream.flush()
        elif finished or self.last is None or now - self.last >= self.interval:
            self.last = now
            print(f"{self.done}/{self.total} rows, {rate:.2f} rows/s, {left:.0f} s left",
                  file=self.stream, flush=True)


def reconstruct_rows(scan, start, stop, settings):
    """One task: rows [start, stop) read, normalised and reconstructed on one
    thread; returns (start, images in the output's type, replaced samples)."""
    import quelmor
    sinograms, replaced = read_sinograms(scan, start, stop)
    common = dict(center=settings["center"], origin=(settings["size"] - 1) / 2,
                  sampler=settings["sampler"], threads=1)
    if settings["algorithm"] == "fbp":
        images = quelmor.fbp(sinograms, scan.theta, settings["size"], filter=settings["filter"],
                             cutoff=settings["cutoff"], **common)
    else:
        solve = getattr(quelmor, settings["algorithm"])
        extra = {} if settings["iterations"] is None else {"iterations": settings["iterations"]}
        images = solve(sinograms, scan.theta, settings["size"], **extra, **common)
    return start, images.astype(settings["dtype"]), replaced


@contextlib.contextmanager
def dask_client(args, tasks):
    """A client of the cluster at --scheduler, or of local worker processes
    that leave Ctrl-C to this process (which stops them)."""
    from dask.distributed import Client, LocalCluster
    if args.scheduler:
        with Client(args.scheduler, timeout="30s") as client:
            yield client
        return
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN)  # inherited by the workers
    try:
        cluster = LocalCluster(n_workers=max(1, min(args.workers, tasks)), threads_per_worker=1,
                               processes=True, dashboard_address=None,
                               silence_logs=logging.CRITICAL)
    finally:
        signal.signal(signal.SIGINT, previous)
    try:
        with Client(cluster) as client:
            yield client
    finally:
        cluster.close(timeout=10)


def recon_command(args):
    if args.algorithm not in algorithms():
        raise UsageError(f"--algorithm {args.algorithm}: this package has {', '.join(algorithms())}")
    for name, smallest in (("size", 1), ("chunk", 1), ("workers", 1), ("iterations", 0)):
        value = getattr(args, name)
        if value is not None and value < smallest:
            raise UsageError(f"--{name} must be at least {smallest}, not {value}")
    if not 0 < args.cutoff <= 1:
        raise UsageError(f"--cutoff must be in (0, 1], not {args.cutoff}")
    if args.overwrite and args.resume:
        raise UsageError("--overwrite and --resume exclude each other")
    scan = _scan(args)
    start, stop = _rows(args.rows, scan.rows) if args.rows else (0, scan.rows)
    size = args.size or scan.columns
    output_exists = existing_output(args.out)
    if output_exists and not (args.overwrite or args.resume):
        raise UsageError(f"{args.out} exists: --overwrite replaces it, --resume completes it")
    parent = os.path.dirname(os.path.abspath(args.out.rstrip("/") or "."))
    if not os.access(parent, os.W_OK):
        raise VolumeError(f"{args.out}: cannot write in {parent}")

    if args.center == "auto":
        center = None
        if args.resume and output_exists:
            center = _stored_center(args.out)
        if center is None:
            center = center_of(scan, *_middle_rows(start, stop), report=lambda line: print(line))
            print(f"rotation axis found at {center:.3f}")
    else:
        try:
            center = float(args.center)
        except ValueError:
            raise UsageError(f"--center {args.center!r} must be a number or auto") from None
        if not math.isfinite(center):
            raise UsageError("--center must be finite")
    settings = dict(center=center, size=size, algorithm=args.algorithm, sampler=args.sampler,
                    filter=args.filter, cutoff=args.cutoff, iterations=args.iterations,
                    dtype=args.dtype)
    parameters = dict(settings, version=__version__, input=os.path.abspath(args.input),
                      dataset=scan.data, rows=f"{start}:{stop}")
    if output_exists and args.overwrite:
        remove_output(args.out)
    volume = open_volume(args.out, stop - start, size, np.dtype(args.dtype), parameters,
                         args.resume)
    try:
        return _run(args, scan, start, stop, settings, volume)
    finally:
        volume.close()


def _stored_center(output):
    from .volume_file import PARAMETERS_FILE, is_folder
    try:
        if is_folder(output):
            with open(os.path.join(output, PARAMETERS_FILE)) as file:
                return float(json.load(file)["center"])
        import h5py
        with h5py.File(output, "r") as file:
            return float(json.loads(file.attrs["parameters"])["center"])
    except (OSError, KeyError, ValueError, TypeError):
        return None


def _run(args, scan, start, stop, settings, volume):
    done = volume.rows_done()
    chunks = []  # whole chunks of the row range, the rows not yet done
    for first in range(start, stop, args.chunk):
        last = min(first + args.chunk, stop)
        if not done[first - start:last - start].all():
            chunks.append((first, last))
    total = stop - start
    if not chunks:
        print(f"{args.out}: all {total} rows were already done")
        return 0
    already = total - sum(last - first for first, last in chunks)
    if already:
        print(f"resuming: {already} of {total} rows already done")
    progress = Progress(total, args.log_interval)
    progress.done = already
    started, replaced = time.perf_counter(), 0
    from dask.distributed import as_completed
    try:
        with dask_client(args, len(chunks)) as client:
            futures = [client.submit(reconstruct_rows, scan, first, last, settings, pure=False)
                       for first, last in chunks]
            for future in as_completed(futures):
                first, images, count = future.result()
                volume.write(first - start, images)
                replaced += count
                progress.add(len(images))
                future.release()
    except KeyboardInterrupt:
        finished = int(volume.rows_done().sum())
        print(f"\nquelmor: interrupted with {finished} of {total} rows written; "
              f"run it again with --resume to finish", file=sys.stderr)
        return 130
    seconds = time.perf_counter() - started
    rows = total - already
    if replaced:
        print(f"replaced {replaced} non-positive or non-finite transmission samples")
    print(f"{rows} rows of {scan.angles} projections into {settings['size']} x {settings['size']} "
          f"slices ({settings['algorithm']}, axis {settings['center']:.3f}) in {seconds:.1f} s, "
          f"{rows / seconds:.2f} rows/s; volume in {args.out}")
    return 0


# --- the command --------------------------------------------------------------

def parser():
    main = argparse.ArgumentParser(prog="quelmor", description=__doc__.split("\n\n")[0])
    main.add_argument("--version", action="version", version=f"quelmor {__version__}")
    commands = main.add_subparsers(dest="command", metavar="COMMAND", required=True)

    recon = commands.add_parser("recon", help="reconstruct a scan into a volume",
                                description="Reconstructs every detector row of a scan into a "
                                "slice: flats and darks applied, -log taken, the grid centred "
                                "on the rotation axis. Killed or interrupted, it leaves the rows "
                                "it finished; --resume completes the rest to the same bytes.")
    _add_input_options(recon)
    recon.add_argument("--out", required=True, metavar="OUTPUT",
                       help="an HDF5 file (dataset /volume, rows x N x N) or, ending in /, a "
                       "folder of TIFF slices")
    recon.add_argument("--center", default="auto", help="the rotation axis in detector samples "
                       "from 0, or auto to find it (default)")
    recon.add_argument("--algorithm", default="fbp", help=f"one of {', '.join(algorithms())} "
                       "(default fbp)")
    recon.add_argument("--iterations", type=int, help="iterations of sirt or cgls (default: "
                       "theirs, 100 and 20)")
    recon.add_argument("--sampler", choices=SAMPLERS, default="linear")
    recon.add_argument("--filter", choices=FILTERS, default="ramp", help="fbp's filter")
    recon.add_argument("--cutoff", type=float, default=1.0, help="fbp's cutoff, a fraction of "
                       "Nyquist in (0, 1]")
    recon.add_argument("--size", type=int, help="side N of each slice (default: the detector's "
                       "width)")
    recon.add_argument("--rows", help="detector rows A:B only (default every row)")
    recon.add_argument("--chunk", type=int, default=8, help="rows per task (default 8)")
    where = recon.add_mutually_exclusive_group()
    where.add_argument("--workers", type=int, default=os.cpu_count() or 1,
                       help="local worker processes (default: one per core)")
    where.add_argument("--scheduler", metavar="ADDRESS", help="a Dask scheduler to run on "
                       "instead (its workers need quelmor, h5py and the input file)")
    recon.add_argument("--dtype", choices=("float32", "float64"), default="float32",
                       help="float32 (default) or float64, the exact values")
    recon.add_argument("--resume", action="store_true", help="complete an interrupted run's output")
    recon.add_argument("--overwrite", action="store_true", help="replace an existing output")
    recon.add_argument("--log-interval", type=float, default=10.0, metavar="SECONDS",
                       help="seconds between progress lines when not on a terminal (default 10)")
    recon.set_defaults(run=recon_command)

    center = commands.add_parser("find-center", help="find the rotation axis",
                                 description="Finds the rotation axis to a fraction of a sample: "
                                 "registers the projections nearest 0 and 180 degrees, then "
                                 "refines on reconstructions of a few rows. Prints it last, on "
                                 "its own line, in detector samples counted from 0.")
    _add_input_options(center)
    rows = center.add_mutually_exclusive_group()
    rows.add_argument("--row", type=int, help="one detector row")
    rows.add_argument("--rows", help="detector rows A:B (default: three in the middle)")
    center.set_defaults(run=find_center_command)
    return main


def main(argv=None) -> int:
    args = parser().parse_args(argv)
    try:
        return args.run(args)
    except ScanError as error:
        print(f"quelmor: error: {error}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print("\nquelmor: interrupted", file=sys.stderr)
        return 130
    except Exception as error:  # one line, never a traceback, unless asked for
        if os.environ.get("QUELMOR_DEBUG"):
            raise
        print(f"quelmor: error: {type(error).__name__}: {error} (QUELMOR_DEBUG=1 shows where)",
              file=sys.stderr)
        return 1
