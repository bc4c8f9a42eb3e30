"""examples/volume_dask.py on a LocalCluster of two worker processes."""
import os
import subprocess
import sys

import numpy as np

import quelmor
import shepp_logan


def run_example(examples, tmp_path, *arguments):
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    output = tmp_path / "volume.npy"
    subprocess.run([sys.executable, examples / "volume_dask.py", "--workers", "2", "--chunk", "2",
                    "--out", output, *arguments], check=True, env=environment, cwd=tmp_path,
                   timeout=300)
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
