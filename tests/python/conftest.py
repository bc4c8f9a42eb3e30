"""Paths the Python suites need, from CTest's environment or the release build."""
import os
import pathlib
import sys

import pytest

SOURCE = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("QUELMOR_BUILD_DIR", SOURCE / "build" / "release"))
sys.path.insert(0, str(BUILD / "python"))
sys.path.insert(0, str(SOURCE / "examples"))


def built(relative):
    path = BUILD / relative
    if not path.exists():
        pytest.fail(f"{path} is missing: build the release preset first")
    return path


@pytest.fixture(scope="session")
def minihost():
    return built("tools/minihost/minihost")


@pytest.fixture(scope="session")
def module():
    return built("host/Quelmor.mexa64")


@pytest.fixture(scope="session")
def reconstruct_phantom():
    return built("examples/reconstruct_phantom")


@pytest.fixture(scope="session")
def examples():
    return SOURCE / "examples"
