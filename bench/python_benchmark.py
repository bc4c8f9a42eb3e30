#!/usr/bin/env python3
"""Giga pixel-updates per second through quelmor.backproject, beside the C++ benchmark.

  PYTHONPATH=build/release/python python3 bench/python_benchmark.py [BUILD_DIR]

One run prints: a 512^2 x 360 slice through quelmor.backproject on one thread
and the same variant's sweep in bench/sweep_benchmark (the Python call's
overhead is the ratio of the two), then a stack of 64 slices at side 256 on
1 and 2 threads, with the processor model and kernel variant.
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


def scene(side, slices=None):
    detector_count = 2 * int(np.ceil(0.7072 * side)) + 5
    random = np.random.default_rng(1)
    shape = (detector_count, VIEWS) if slices is None else (slices, detector_count, VIEWS)
    angles = np.arange(VIEWS) * np.pi / VIEWS
    # Each view's samples contiguous, the kernel's own layout: no copy per call.
    sinogram = np.swapaxes(np.swapaxes(random.uniform(-1, 1, shape), -1, -2).copy(), -1, -2)
    return sinogram, np.cos(angles), np.sin(angles)


def python_rate(side, sampler, threads, slices=None, repeats=15):
    """Median over `repeats` calls, after half a second of calls to warm up."""
    sinogram, cosines, sines = scene(side, slices)
    warm_until = time.perf_counter() + 0.5
    while time.perf_counter() < warm_until:
        quelmor.backproject(sinogram, cosines, sines, side, sampler, threads)
    seconds = []
    for _ in range(repeats):
        started = time.perf_counter()
        quelmor.backproject(sinogram, cosines, sines, side, sampler, threads)
        seconds.append(time.perf_counter() - started)
    return (slices or 1) * side * side * VIEWS / float(np.median(seconds)) / 1e9


def cpp_rates(build, variant):
    """Gup/s of the variant's single-threaded sweep at side 512, by sampler."""
    program = build / "bench" / "sweep_benchmark"
    with tempfile.NamedTemporaryFile(suffix=".json") as output:
        subprocess.run([program, f"--benchmark_filter=^{variant}/(nearest|linear)/512/",
                        f"--benchmark_out={output.name}", "--benchmark_out_format=json",
                        "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true",
                        "--benchmark_min_warmup_time=0.5"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        results = json.load(open(output.name))["benchmarks"]
    return {run["run_name"].split("/")[1]: run["Gup/s"] for run in results
            if run.get("aggregate_name") == "median"}


def main():
    build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build/release")
    variant = quelmor.kernel_variant()
    print(f"processor: {quelmor.processor_name()}; kernel variant: {variant}")
    # The C++ figures are taken before and after the Python ones and averaged,
    # so a drift in the processor's speed during the run shows in both alike.
    before = cpp_rates(build, variant)
    through_python = {sampler: python_rate(512, sampler, threads=1)
                      for sampler in ("nearest", "linear")}
    after = cpp_rates(build, variant)
    cpp = {sampler: (before[sampler] + after[sampler]) / 2 for sampler in before}
    print(f"side 512, {VIEWS} views, one thread (Gup/s):")
    for sampler, through_python in through_python.items():
        print(f"  {sampler:8s} quelmor.backproject {through_python:6.3f} | sweep_benchmark "
              f"{variant} {cpp[sampler]:6.3f} | Python / C++ {through_python / cpp[sampler]:5.3f}")
    print(f"stack of 64 slices at side 256, {VIEWS} views (Gup/s):")
    for sampler in ("nearest", "linear"):
        one, two = (python_rate(256, sampler, threads, slices=64, repeats=5) for threads in (1, 2))
        print(f"  {sampler:8s} 1 thread {one:6.3f} | 2 threads {two:6.3f} ({two / one:4.2f}x)")


if __name__ == "__main__":
    main()
