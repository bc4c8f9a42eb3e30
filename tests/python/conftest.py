"""Paths the Python suites need, from CTest's environment or the release build."""
import os
import pathlib
import struct
import subprocess
import sys

import numpy as np

import pytest

SOURCE = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("QUELMOR_BUILD_DIR", SOURCE / "build" / "release"))
# QUELMOR_PACKAGE=installed tests the quelmor that the interpreter has
# installed (pip, a wheel); otherwise the build's own package.
INSTALLED = os.environ.get("QUELMOR_PACKAGE") == "installed"
if not INSTALLED:
    sys.path.insert(0, str(BUILD / "python"))
sys.path.insert(0, str(SOURCE / "examples"))


def _package_under_test():
    import quelmor
    where = pathlib.Path(quelmor.__file__).resolve().parent
    if INSTALLED and where in (BUILD / "python" / "quelmor", SOURCE / "python" / "quelmor"):
        raise pytest.UsageError(f"QUELMOR_PACKAGE=installed, but quelmor comes from {where}")
    return f"quelmor {quelmor.__version__} from {where}"


PACKAGE_UNDER_TEST = _package_under_test()


def pytest_report_header():
    return PACKAGE_UNDER_TEST


def write_matrix(path, matrix):
    """A matrix file: little-endian uint32 rows and columns, then column-major doubles."""
    matrix = np.asarray(matrix, dtype="<f8")
    matrix = matrix.reshape(1, -1) if matrix.ndim < 2 else matrix
    path.write_bytes(struct.pack("<II", *matrix.shape) + matrix.tobytes(order="F"))


def read_matrix(path):
    data = path.read_bytes()
    rows, columns = struct.unpack("<II", data[:8])
    return np.frombuffer(data[8:], "<f8").reshape(columns, rows).T


def built(relative):
    path = BUILD / relative
    if not path.exists():
        pytest.fail(f"{path} is missing: build the release preset first")
    return path


@pytest.fixture(scope="session")
def call_cases(tmp_path_factory):
    """The table of call cases, as make_vectors writes it:
    (name, module, inputs, nargout, result or None)."""
    folder = tmp_path_factory.mktemp("vectors")
    subprocess.run([built("tests/make_vectors"), folder], check=True, stdout=subprocess.DEVNULL)
    cases = []
    for call in sorted(folder.iterdir()):
        inputs = [read_matrix(path) for path in sorted(call.glob("in[0-9]"))]
        expected = call / "expected"
        cases.append((call.name, (call / "module").read_text().strip(), inputs,
                      int((call / "nargout").read_text()),
                      read_matrix(expected) if expected.exists() else None))
    return cases


@pytest.fixture(scope="session")
def reconstruct_phantom():
    return built("examples/reconstruct_phantom")


@pytest.fixture(scope="session")
def examples():
    return SOURCE / "examples"
