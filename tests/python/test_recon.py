"""The quelmor command on generated scans: the axis found, the volume against
the in-process reconstruction, kill and resume, overwrite, bad input."""
import json
import os
import signal
import subprocess
import sys
import time

import h5py
import numpy as np
import pytest

import make_scan
import quelmor
from quelmor.scan import open_scan, read_sinograms


def quelmor_command(*arguments, cwd=None, timeout=300, **popen):
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    command = [sys.executable, "-m", "quelmor", *map(str, arguments)]
    if popen:
        return subprocess.Popen(command, env=environment, cwd=cwd, text=True, **popen)
    return subprocess.run(command, env=environment, cwd=cwd, timeout=timeout, capture_output=True,
                          text=True)


@pytest.fixture(scope="module")
def scan(tmp_path_factory):
    path = tmp_path_factory.mktemp("scan") / "scan.h5"
    return path, make_scan.make_scan(path, rows=12, columns=96, views=121, center=52.7)


def volume_of(path):
    with h5py.File(path, "r") as file:
        return file["volume"][...], file["rows_done"][...], dict(file.attrs)


def no_traceback(result):
    assert "Traceback" not in result.stderr and len(result.stderr.strip().splitlines()) == 1, \
        result.stderr


@pytest.mark.parametrize("center, photons", [(52.7, 2e4), (41.15, 3e3), (60.5, 1e4)])
def test_find_center_finds_the_axis_within_a_quarter_sample(tmp_path, center, photons):
    path = tmp_path / "scan.h5"
    make_scan.make_scan(path, rows=6, columns=96, views=121, center=center, photons=photons)
    result = quelmor_command("find-center", path)
    assert result.returncode == 0, result.stderr
    found = float(result.stdout.strip().splitlines()[-1])
    assert abs(found - center) <= 0.25, (found, center)


def test_the_volume_is_the_in_process_reconstruction_whatever_the_chunks_and_workers(scan, tmp_path):
    path, center = scan
    one = quelmor_command("recon", path, "--out", tmp_path / "one.h5", "--center", center,
                          "--chunk", 5, "--workers", 2, "--dtype", "float64")
    other = quelmor_command("recon", path, "--out", tmp_path / "other.h5", "--center", center,
                            "--chunk", 12, "--workers", 1, "--dtype", "float64")
    assert one.returncode == 0 and other.returncode == 0, one.stderr + other.stderr
    volume, done, attributes = volume_of(tmp_path / "one.h5")
    assert volume.tobytes() == volume_of(tmp_path / "other.h5")[0].tobytes()
    assert done.all() and attributes["algorithm"] == "fbp" and attributes["center"] == center
    assert attributes["version"] == quelmor.__version__ and attributes["input"] == str(path)
    sinograms, _ = read_sinograms(open_scan(str(path)), 0, 12)
    expected = quelmor.fbp(sinograms, np.radians(np.arange(121) * 1.5), 96, center=center,
                           origin=95 / 2)
    assert volume.tobytes() == expected.tobytes()
    with h5py.File(tmp_path / "one.h5", "r") as file:
        assert file["volume"].chunks == (1, 96, 96)


def test_tiff_slices_hold_the_volumes_float32_values(scan, tmp_path):
    path, center = scan
    assert quelmor_command("recon", path, "--out", tmp_path / "v.h5", "--center", center,
                           "--rows", "3:7").returncode == 0
    result = quelmor_command("recon", path, "--out", f"{tmp_path}/slices/", "--center", center,
                             "--rows", "3:7", "--size", 96)
    assert result.returncode == 0, result.stderr
    import tifffile
    slices = np.stack([tifffile.imread(tmp_path / "slices" / f"slice_{row:05d}.tif")
                       for row in range(4)])
    volume = volume_of(tmp_path / "v.h5")[0]
    assert slices.dtype == np.float32 and slices.tobytes() == volume.tobytes()
    assert json.loads((tmp_path / "slices" / "quelmor-recon.json").read_text())["rows"] == "3:7"


def interrupt_after_two_chunks(arguments, sig):
    """Starts recon, sends `sig` to its whole process group (as Ctrl-C on a
    terminal does) once two chunks are written; returns its exit code and stderr."""
    process = quelmor_command(*arguments, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              start_new_session=True)
    lines = []
    for line in process.stderr:
        lines.append(line)
        if line.startswith("4/"):
            os.killpg(process.pid, sig)
            break
    rest = process.communicate(timeout=120)[1]
    return process.returncode, "".join(lines) + (rest or "")


@pytest.mark.parametrize("sig", [signal.SIGKILL, signal.SIGINT])
def test_a_killed_run_resumes_to_the_bytes_of_an_uninterrupted_one(scan, tmp_path, sig):
    path, center = scan
    common = ["--center", center, "--chunk", 2, "--workers", 1, "--log-interval", 0]
    whole = quelmor_command("recon", path, "--out", tmp_path / "whole.h5", *common)
    assert whole.returncode == 0, whole.stderr
    code, stderr = interrupt_after_two_chunks(["recon", path, "--out", tmp_path / "cut.h5", *common],
                                              sig)
    if sig == signal.SIGINT:
        assert code == 130 and "Traceback" not in stderr and "--resume" in stderr, stderr
    _, done, _ = volume_of(tmp_path / "cut.h5")
    assert 2 <= done.sum() < 12, done
    refused = quelmor_command("recon", path, "--out", tmp_path / "cut.h5", *common)
    assert refused.returncode == 2 and "--resume" in refused.stderr
    resumed = quelmor_command("recon", path, "--out", tmp_path / "cut.h5", "--resume", *common)
    assert resumed.returncode == 0 and "already done" in resumed.stdout, resumed.stderr
    assert volume_of(tmp_path / "cut.h5")[0].tobytes() == volume_of(tmp_path / "whole.h5")[0].tobytes()


def test_a_worker_killed_midway_is_replaced_and_the_volume_is_whole(scan, tmp_path):
    import psutil
    path, center = scan
    common = ["--center", center, "--chunk", 2, "--workers", 1, "--log-interval", 0]
    whole = quelmor_command("recon", path, "--out", tmp_path / "whole.h5", *common)
    process = quelmor_command("recon", path, "--out", tmp_path / "cut.h5", *common,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    killed = []
    for line in process.stderr:
        if line.startswith("2/"):
            # The worker: the deepest process below the client (its nanny starts it).
            below = psutil.Process(process.pid).children(recursive=True)
            worker = max(below, key=lambda p: len(p.parents()))
            worker.kill()
            killed.append(worker.pid)
            break
    process.communicate(timeout=120)
    assert killed and process.returncode == 0
    assert volume_of(tmp_path / "cut.h5")[0].tobytes() == volume_of(tmp_path / "whole.h5")[0].tobytes()
    assert whole.returncode == 0


def test_an_existing_output_is_left_untouched_without_overwrite(scan, tmp_path):
    path, center = scan
    output = tmp_path / "kept.h5"
    output.write_bytes(b"precious")
    before = os.stat(output).st_mtime_ns
    for extra in ([], ["--resume"], ["--center", "nowhere", "--overwrite"]):
        result = quelmor_command("recon", path, "--out", output, "--rows", "0:2", *extra)
        assert result.returncode == 2, result.stderr
        no_traceback(result)
    assert output.read_bytes() == b"precious" and os.stat(output).st_mtime_ns == before
    assert quelmor_command("recon", path, "--out", output, "--rows", "0:2", "--center", center,
                           "--overwrite").returncode == 0
    assert volume_of(output)[1].all()


def test_non_finite_and_non_positive_samples_are_replaced_and_counted(scan, tmp_path):
    path, center = scan
    damaged = tmp_path / "damaged.h5"
    damaged.write_bytes(path.read_bytes())
    with h5py.File(damaged, "a") as file:
        data = file["/exchange/data"]
        data[10, 4, 30] = 0  # below the dark level: no transmission
        data[20, 4, 31:33] = 0
    result = quelmor_command("recon", damaged, "--out", tmp_path / "v.h5", "--center", center,
                             "--rows", "4:5")
    assert result.returncode == 0 and "replaced 3 " in result.stdout, result.stdout
    assert np.isfinite(volume_of(tmp_path / "v.h5")[0]).all()


def test_bad_input_is_one_line_and_a_non_zero_exit(scan, tmp_path):
    path, _ = scan
    wrong = tmp_path / "wrong.h5"
    with h5py.File(wrong, "w") as file:
        file["/exchange/data"] = np.ones((5, 4))
        file["/flat/data"] = np.ones((5, 2, 4))
        file["/flat/theta"] = np.arange(4.0)
        file["/same/data"] = np.ones((3, 2, 4))
        file["/same/data_white"] = np.full((1, 2, 4), 7.0)
        file["/same/data_dark"] = np.full((1, 2, 4), 7.0)
        file["/same/theta"] = np.arange(3.0)
    cases = [
        (["recon", tmp_path / "none.h5"], "no such file"),
        (["recon", path, "--dataset", "/exchange/missing", "--theta", "0:180"], "no dataset"),
        (["recon", wrong], "must be (angles, detector rows, detector columns)"),
        (["recon", wrong, "--dataset", "/flat/data", "--theta", "/flat/theta"],
         "4 angles for 5 projections"),
        (["recon", path, "--rows", "10:40"], "the detector has rows 0:12"),
        (["recon", path, "--theta", "sideways"], "neither a dataset nor a range"),
        (["find-center", path, "--row", "12"], "the detector has rows 0:12"),
    ]
    for arguments, words in cases:
        result = quelmor_command(*arguments, "--out", tmp_path / "out.h5") if arguments[0] == "recon" \
            else quelmor_command(*arguments)
        assert result.returncode == 2 and words in result.stderr, (arguments, result.stderr)
        no_traceback(result)
    # Flats equal to darks: nothing to normalise by, said when the rows are read.
    result = subprocess.run([sys.executable, "-c", f"""
import quelmor.scan as s
scan = s.open_scan({str(wrong)!r}, dataset="/same/data", theta="/same/theta",
                   flats="/same/data_white", darks="/same/data_dark")
s.read_sinograms(scan, 0, 2)"""], capture_output=True, text=True,
                            env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert "the flat fields equal the dark fields" in result.stderr
    read_only = tmp_path / "read_only"
    read_only.mkdir()
    read_only.chmod(0o500)
    result = quelmor_command("recon", path, "--out", read_only / "v.h5", "--center", 48)
    if os.geteuid() != 0:  # root writes anywhere
        assert result.returncode == 2 and "cannot write" in result.stderr, result.stderr
        no_traceback(result)


def test_an_existing_dask_cluster_gives_the_same_volume(scan, tmp_path):
    from dask.distributed import LocalCluster
    path, center = scan
    local = quelmor_command("recon", path, "--out", tmp_path / "local.h5", "--center", center,
                            "--rows", "0:6")
    with LocalCluster(n_workers=1, threads_per_worker=1, processes=True, dashboard_address=None) \
            as cluster:
        remote = quelmor_command("recon", path, "--out", tmp_path / "remote.h5", "--center", center,
                                 "--rows", "0:6", "--scheduler", cluster.scheduler_address)
    assert local.returncode == 0 and remote.returncode == 0, remote.stderr
    assert volume_of(tmp_path / "local.h5")[0].tobytes() == volume_of(tmp_path / "remote.h5")[0].tobytes()


@pytest.mark.parametrize("command", [[], ["recon"], ["find-center"]])
def test_every_command_answers_help(command):
    result = quelmor_command(*command, "--help")
    assert result.returncode == 0 and "usage: quelmor" in result.stdout
