#!/usr/bin/env python3
"""Giga pixel-updates per second through quelmor.backproject, beside the C++ benchmark.

  PYTHONPATH=build/release/python python3 bench/python_benchmark.py [BUILD_DIR]

One run prints: a 512^2 x 360 slice through quelmor.backproject on one thread
and the same variant's sweep in bench/sweep_benchmark (the Python call's
overhead is the ratio of the two), then a stack of 64 slices at side 256 on
1 and 2 threads beside the C++ threaded entry's scaling, with the processor
model and kernel variant; a 4096^2 image from 90 views beside 512^2 from 360,
a fresh process's first call and later calls; then filtered backprojection
as users run it (one 1024^2 slice from 1800 views, 16 slices of 512^2 from
180): the core's filter and NumPy's FFT ramp filter (padded to a power of
two) against the backprojection on one thread, and fbp against backproject
on every core; then the solvers: one SIRT and one CGLS iteration against one projection
plus one backprojection (512^2 from 360 views, 16 x 256^2), a stack on 2
threads against 1, and against scipy.sparse.linalg.lsqr on the same weights
as a sparse matrix (256^2 from 180 views).
"""

import json
import pathlib
import subprocess
import sys
import tempfile
import time

import numpy as np

import quelmor

VIEWS = 360
ROUNDS = 7


def scene(side, slices=None):
    detector_count = quelmor.covering_detector_count(side)
    random = np.random.default_rng(1)
    shape = (detector_count, VIEWS) if slices is None else (slices, detector_count, VIEWS)
    angles = np.arange(VIEWS) * np.pi / VIEWS
    # Each view's samples contiguous, the kernel's own layout: no copy per call.
    sinogram = np.swapaxes(np.swapaxes(random.uniform(-1, 1, shape), -1, -2).copy(), -1, -2)
    return sinogram, np.cos(angles), np.sin(angles)


def python_rate(side, sampler, threads, slices=None, repeats=9):
    """Median over `repeats` calls, after a fifth of a second of calls to warm up."""
    sinogram, cosines, sines = scene(side, slices)
    warm_until = time.perf_counter() + 0.2
    while time.perf_counter() < warm_until:
        quelmor.backproject(sinogram, cosines, sines, side, sampler, threads)
    seconds = []
    for _ in range(repeats):
        started = time.perf_counter()
        quelmor.backproject(sinogram, cosines, sines, side, sampler, threads)
        seconds.append(time.perf_counter() - started)
    return (slices or 1) * side * side * VIEWS / float(np.median(seconds)) / 1e9


def cpp_rates(build, first_part, side):
    """Gup/s of sweep_benchmark's "first_part/sampler/side" cases, by sampler."""
    program = build / "bench" / "sweep_benchmark"
    with tempfile.NamedTemporaryFile(suffix=".json") as output:
        subprocess.run([program, f"--benchmark_filter=^{first_part}/(nearest|linear)/{side}/",
                        f"--benchmark_out={output.name}", "--benchmark_out_format=json",
                        "--benchmark_min_time=0.3", "--benchmark_min_warmup_time=0.2"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        results = json.load(open(output.name))["benchmarks"]
    return {run["run_name"].split("/")[1]: run["Gup/s"] for run in results}


def main():
    build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build/release")
    variant = quelmor.kernel_variant()
    print(f"processor: {quelmor.processor_name()}; kernel variant: {variant}")
    # A shared machine's speed drifts by tens of per cent within seconds: the
    # two are measured in alternating rounds, and each figure is the median
    # over the rounds.
    rounds = {"python": {"nearest": [], "linear": []}, "cpp": {"nearest": [], "linear": []}}
    for _ in range(ROUNDS):
        for sampler, rate in cpp_rates(build, variant, 512).items():
            rounds["cpp"][sampler].append(rate)
        for sampler in ("nearest", "linear"):
            rounds["python"][sampler].append(python_rate(512, sampler, threads=1))
    print(f"side 512, {VIEWS} views, one thread, median of {ROUNDS} alternating rounds (Gup/s):")
    for sampler in ("nearest", "linear"):
        through_python = float(np.median(rounds["python"][sampler]))
        cpp = float(np.median(rounds["cpp"][sampler]))
        print(f"  {sampler:8s} quelmor.backproject {through_python:6.3f} | sweep_benchmark "
              f"{variant} {cpp:6.3f} | Python / C++ {through_python / cpp:5.3f}")
    big_images()
    print(f"stack of 64 slices at side 256, {VIEWS} views (Gup/s), and sweep_benchmark's "
          "threaded entry on one slice, to show how far this machine's cores scale:")
    cpp_one, cpp_two = (cpp_rates(build, f"threads{threads}", 256) for threads in (1, 2))
    for sampler in ("nearest", "linear"):
        one, two = (python_rate(256, sampler, threads, slices=64, repeats=5) for threads in (1, 2))
        print(f"  {sampler:8s} 1 thread {one:6.3f} | 2 threads {two:6.3f} ({two / one:4.2f}x) | "
              f"C++ {cpp_one[sampler]:6.3f} / {cpp_two[sampler]:6.3f} "
              f"({cpp_two[sampler] / cpp_one[sampler]:4.2f}x)")
    projection_beside_backprojection()
    filtered_backprojection()
    solvers()


FIRST_CALL = """
import sys, time, numpy as np, quelmor
side, views, sampler = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
angles = np.arange(views) * np.pi / views
sinogram = np.zeros((quelmor.covering_detector_count(side), views), order="F")
started = time.perf_counter()
quelmor.backproject(sinogram, np.cos(angles), np.sin(angles), side, sampler, 1)
print(time.perf_counter() - started)
"""


def big_images():
    """4096^2 from 90 views beside 512^2 from 360: a fresh process's first call (median of 3
    processes), whose result memory is new to the process, and later calls (medians of 7
    alternating rounds), whose memory the process has used before."""
    print(f"a big image beside 512^2 from {VIEWS} views, one thread (Gup/s; share of the 512^2 "
          "later calls' rate):")
    works = {512: VIEWS, 4096: 90}
    for sampler in ("nearest", "linear"):
        first, later, calls = {}, {side: [] for side in works}, {}
        for side, views in works.items():
            first[side] = float(np.median([float(subprocess.run(
                [sys.executable, "-c", FIRST_CALL, str(side), str(views), sampler], check=True,
                capture_output=True, text=True).stdout) for _ in range(3)]))
            sinogram, cosines, sines = scene(side)
            sinogram, cosines, sines = sinogram[:, :views], cosines[:views], sines[:views]
            calls[side] = lambda s=sinogram, c=cosines, n=sines, side=side: quelmor.backproject(
                s, c, n, side, sampler, 1)
            calls[side]()
        for _ in range(ROUNDS):
            for side in works:
                later[side].extend(run_seconds(calls[side], 1))
        rate = {side: {"first": side * side * views / first[side] / 1e9,
                       "later": side * side * views / float(np.median(later[side])) / 1e9}
                for side, views in works.items()}
        steady = rate[512]["later"]
        print(f"  {sampler:8s} 4096^2 x 90: first call {rate[4096]['first']:6.3f} "
              f"({rate[4096]['first'] / steady:4.2f}), later calls {rate[4096]['later']:6.3f} "
              f"({rate[4096]['later'] / steady:4.2f}) | 512^2 x {VIEWS}: later calls "
              f"{steady:6.3f}, first call {rate[512]['first']:6.3f}")


def projection_beside_backprojection():
    """quelmor.project and quelmor.backproject on the same work, alternately."""
    print(f"projection beside backprojection through the package, {VIEWS} views, Gup/s "
          "(medians of 5; ratio projection / backprojection):")
    random = np.random.default_rng(4)
    theta = np.arange(VIEWS) * np.pi / VIEWS
    works = [("512^2, 1 thread", 512, 1, 1.0, 1), ("16 x 256^2 stack, 1 thread", 256, 16, 1.0, 1),
             ("512^2, pixels 2 spacings", 512, 1, 2.0, 1), ("512^2, pixels 4 spacings", 512, 1, 4.0, 1),
             ("16 x 256^2 stack, 2 threads", 256, 16, 1.0, 2)]
    for label, side, slices, pixel, threads in works:
        detectors = quelmor.covering_detector_count(side, pixel)
        cosines, sines = pixel * np.cos(theta), pixel * np.sin(theta)
        image = random.uniform(-1, 1, (slices, side, side))
        sinogram = random.uniform(-1, 1, (slices, detectors, VIEWS))
        updates = slices * side * side * VIEWS / 1e9
        for sampler in ("nearest", "linear"):
            forward = updates / median_seconds(
                lambda: quelmor.project(image, cosines, sines, detectors, sampler, threads=threads))
            back = updates / median_seconds(
                lambda: quelmor.backproject(sinogram, cosines, sines, side, sampler, threads=threads))
            print(f"  {label:30s} {sampler:8s} projection {forward:6.3f} | backprojection "
                  f"{back:6.3f} | {forward / back:5.2f}x")


def numpy_ramp_filter(sinogram):
    """The ramp filter through NumPy's FFT, padded to the power of two >= 2M - 1."""
    detector_count = sinogram.shape[-2]
    padded = 1 << (2 * detector_count - 2).bit_length()
    kernel = np.zeros(padded)
    kernel[0] = 0.25
    odd = np.arange(1, detector_count, 2)
    kernel[odd] = kernel[padded - odd] = -1.0 / (np.pi * odd) ** 2
    spectrum = np.fft.rfft(sinogram, padded, axis=-2) * np.fft.rfft(kernel)[:, np.newaxis]
    return np.fft.irfft(spectrum, padded, axis=-2)[..., :detector_count, :]


def run_seconds(call, repeats):
    """The wall time of each of `repeats` calls."""
    seconds = []
    for _ in range(repeats):
        started = time.perf_counter()
        call()
        seconds.append(time.perf_counter() - started)
    return seconds


def median_seconds(call, repeats=5):
    call()
    return float(np.median(run_seconds(call, repeats)))


def filtered_backprojection():
    print("filtered backprojection, linear (seconds, medians of 5):")
    for side, views, slices in ((1024, 1800, None), (512, 180, 16)):
        detector_count = quelmor.covering_detector_count(side)
        random = np.random.default_rng(2)
        shape = (detector_count, views) if slices is None else (slices, detector_count, views)
        sinogram = random.uniform(-1, 1, shape)
        theta = np.arange(views) * np.pi / views
        filtered = quelmor.filter_sinogram(sinogram)
        cosines, sines = np.cos(theta), np.sin(theta)
        core = median_seconds(lambda: quelmor.filter_sinogram(sinogram, threads=1))
        numpy = median_seconds(lambda: numpy_ramp_filter(sinogram))
        one = median_seconds(lambda: quelmor.backproject(filtered, cosines, sines, side, threads=1))
        every = median_seconds(lambda: quelmor.backproject(filtered, cosines, sines, side))
        whole = median_seconds(lambda: quelmor.fbp(sinogram, theta, side))
        label = f"{slices or 1} x {side}^2 from {views} views"
        print(f"  {label:24s} one thread: filter {core:.4f} ({core / one:.2f}x the backprojection"
              f" {one:.4f}), NumPy's filter {numpy:.4f} ({numpy / one:.2f}x) | every core: fbp"
              f" {whole:.4f}, backproject {every:.4f} (fbp runs at {every / whole:.2f} of its rate)")


def iteration_seconds(solve, low=2, high=6):
    """One iteration's cost: the difference between two iteration counts, so setup cancels."""
    return (median_seconds(lambda: solve(high), 3) - median_seconds(lambda: solve(low), 3)) / (
        high - low)


def solvers():
    print("solvers, linear: seconds per iteration (medians of 3, from 6 iterations less 2), "
          "against one projection plus one backprojection:")
    one_threads = {}
    for side, views, slices in ((512, 360, None), (256, 360, 16)):
        detector_count = quelmor.covering_detector_count(side)
        random = np.random.default_rng(3)
        shape = (detector_count, views) if slices is None else (slices, detector_count, views)
        sinogram = random.uniform(0, 1, shape)
        theta = np.arange(views) * np.pi / views
        cosines, sines = quelmor._kernel.view_coefficients(theta, 1.0)
        image = np.zeros((side, side) if slices is None else (slices, side, side))
        for threads in (1, 2):
            pair = median_seconds(lambda: (quelmor.project(image, cosines, sines, detector_count,
                                                           threads=threads),
                                           quelmor.backproject(sinogram, cosines, sines, side,
                                                               threads=threads)), 3)
            figures = []
            for solver in (quelmor.sirt, quelmor.cgls):
                seconds = iteration_seconds(
                    lambda n: solver(sinogram, theta, side, n, threads=threads))
                one_threads[(solver.__name__, side, threads)] = seconds
                figures.append(f"{solver.__name__} {seconds:.4f} ({seconds / pair:.2f}x)")
            scaling = ""
            if threads == 2:
                scaling = " | 2 threads / 1: " + ", ".join(
                    f"{name} {one_threads[(name, side, 1)] / one_threads[(name, side, 2)]:.2f}x"
                    for name in ("sirt", "cgls"))
            label = f"{slices or 1} x {side}^2 from {views} views, {threads} thread(s)"
            print(f"  {label:36s} pair {pair:.4f} | " + " | ".join(figures) + scaling)
    against_scipy()


def linear_weights(side, detector_count, cosines, sines):
    """A's weights for the linear sampler as scipy.sparse CSR, rows (sample, view) as the
    sinogram ravels: t = cos x + sin y straight from the pixel's position (the kernel steps
    down each column, so a weight may differ in its last bits; probing `project` one unit
    pixel at a time costs a whole projection per pixel, minutes at this size)."""
    import scipy.sparse
    center = (side - 1) // 2
    rows, columns = np.meshgrid(np.arange(side), np.arange(side), indexing="ij")
    x, y = (columns - center).ravel(), (center - rows).ravel()
    pixel = (rows * side + columns).ravel()
    entries, samples, pixels = [], [], []
    for view, (cosine, sine) in enumerate(zip(cosines, sines)):
        coordinate = cosine * x + sine * y + detector_count // 2
        below = np.floor(coordinate)
        weight = coordinate - below
        below = below.astype(np.int64)
        for index, part in ((below, 1 - weight), (below + 1, weight)):
            inside = (index >= 0) & (index < detector_count)
            entries.append(part[inside])
            samples.append(index[inside] * len(cosines) + view)
            pixels.append(pixel[inside])
    return scipy.sparse.csr_matrix(
        (np.concatenate(entries), (np.concatenate(samples), np.concatenate(pixels))),
        shape=(detector_count * len(cosines), side * side))


def against_scipy():
    """quelmor.cgls against lsqr on a scipy.sparse matrix of the same weights, probed."""
    import scipy.sparse.linalg
    side, views = 256, 180
    detector_count = quelmor.covering_detector_count(side)
    theta = np.arange(views) * np.pi / views
    cosines, sines = quelmor._kernel.view_coefficients(theta, 1.0)
    started = time.perf_counter()
    matrix = linear_weights(side, detector_count, cosines, sines)
    built = time.perf_counter() - started
    sinogram = np.random.default_rng(4).uniform(0, 1, (detector_count, views))
    # lsqr's setup costs a different amount on every call (fresh pages for its
    # vectors), more than several iterations here: so the fastest of 5 runs of
    # 4 and of 24 iterations, and their difference.
    def per_iteration(solve, low=4, high=24):
        return (min(run_seconds(lambda: solve(high), 5)) -
                min(run_seconds(lambda: solve(low), 5))) / (high - low)

    lsqr = per_iteration(
        lambda n: scipy.sparse.linalg.lsqr(matrix, sinogram.ravel(), atol=0, btol=0, conlim=0,
                                           iter_lim=n))
    cgls = per_iteration(lambda n: quelmor.cgls(sinogram, theta, side, n, threads=1))
    sirt = per_iteration(lambda n: quelmor.sirt(sinogram, theta, side, n, threads=1))
    print(f"  {side}^2 from {views} views, one thread: scipy lsqr {lsqr:.4f} s per iteration "
          f"({matrix.nnz} weights, built in {built:.1f} s) | quelmor cgls {cgls:.4f} "
          f"({lsqr / cgls:.1f}x lsqr's speed) | sirt {sirt:.4f} ({lsqr / sirt:.1f}x)")


if __name__ == "__main__":
    main()
