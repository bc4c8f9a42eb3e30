"""examples/volume_dask.py on a LocalCluster of two worker processes."""
import os
import subprocess
import sys

import h5py
import numpy as np

import quelmor
import shepp_logan


def run_example(examples, tmp_path, *arguments, out="volume.npy"):
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    output = tmp_path / out
    result = subprocess.run([sys.executable, examples / "volume_dask.py", "--workers", "2",
                             "--chunk", "2", "--out", output, *arguments], check=True,
                            env=environment, cwd=tmp_path, timeout=300, capture_output=True,
                            text=True)
    if out.endswith(".h5"):
        with h5py.File(output, "r") as file:
            return file["volume"][...], file["volume"].chunks, result.stdout
    return np.load(output)


def test_volume_from_the_cluster_is_the_in_process_reconstruction(examples, tmp_path):
    random = np.random.default_rng(3)
    stack = random.uniform(-1, 1, (5, 53, 40))  # 5 slices: the last chunk is short
    np.save(tmp_path / "sinograms.npy", stack)
    volume = run_example(examples, tmp_path, "--input", tmp_path / "sinograms.npy", "--side", "37")
    theta = shepp_logan.view_angles(40)
    expected = quelmor.backproject(quelmor.ramp_filter(stack), np.cos(theta), np.sin(theta), 37,
                                   threads=1) * (np.pi / 40)
    assert volume.shape == (5, 37, 37)
    assert volume.tobytes() == np.ascontiguousarray(expected).tobytes()


def test_phantom_volume_shrinks_away_from_the_middle_slice(examples, tmp_path):
    volume = run_example(examples, tmp_path, "--slices", "3", "--side", "64", "--views", "90")
    middle, top = (shepp_logan.rasterize(64, z) for z in (0.0, 0.5))
    assert shepp_logan.rmse(volume[1], middle) < 0.1
    assert shepp_logan.rmse(volume[2], top) < 0.1
    assert shepp_logan.rmse(volume[2], middle) > 2 * shepp_logan.rmse(volume[2], top)


def test_hdf5_projections_read_by_the_workers_give_the_in_process_volume(examples, tmp_path):
    # As a beamline stores them: (angles, detector rows, detector columns),
    # float32, seven rows (slices) read in chunks of two: the file is several
    # times a chunk's size, and the client reads none of it itself.
    theta = shepp_logan.view_angles(40)
    stack = np.stack([shepp_logan.sinogram(37, 57, theta, z) for z in np.linspace(-0.4, 0.4, 7)])
    with h5py.File(tmp_path / "scan.h5", "w") as file:
        file.create_dataset("entry/data", data=stack.transpose(2, 0, 1).astype(np.float32))
    volume, chunks, report = run_example(examples, tmp_path, "--input", tmp_path / "scan.h5",
                                         "--dataset", "entry/data", "--side", "37", out="out.h5")
    expected = quelmor.fbp(stack.astype(np.float32), theta, 37, threads=1)
    assert volume.shape == (7, 37, 37) and chunks == (1, 37, 37)
    assert volume.tobytes() == np.ascontiguousarray(expected).tobytes()
    assert f"this process read 0 of the input's {7 * 57 * 40 * 4} bytes" in report
