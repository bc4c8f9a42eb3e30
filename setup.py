"""Builds the Python package quelmor through the project's CMake build.

pip (with --no-build-isolation, on the machine's setuptools) runs this: the
compiled part `_kernel` and the version file come from a Release build of
only the package's targets, in setuptools' build folder.
"""
import os
import pathlib
import re
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = pathlib.Path(__file__).resolve().parent


def project_version():
    """The one version: project(... VERSION ...) in CMakeLists.txt."""
    text = (SOURCE / "CMakeLists.txt").read_text()
    return re.search(r"project\(Quelmor VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, extension):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        subprocess.run(
            ["cmake", "-S", str(SOURCE), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
             f"-DPython3_EXECUTABLE={sys.executable}", "-DQUELMOR_BUILD_TESTS=OFF",
             "-DQUELMOR_BUILD_CHECKS=OFF", "-DQUELMOR_BUILD_BENCHMARKS=OFF",
             "-DQUELMOR_BUILD_EXAMPLES=OFF",
             "-DQUELMOR_OCTAVE_MODULE=OFF"], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "quelmor_python",
                        "--parallel", str(os.cpu_count() or 1)], check=True)
        built = build / "python" / "quelmor"
        target = pathlib.Path(self.get_ext_fullpath(extension.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        self.copy_file(str(next(built.glob("_kernel*" + target.suffix))), str(target))
        self.copy_file(str(built / "_version.py"), str(target.parent / "_version.py"))


setup(
    version=project_version(),
    ext_modules=[Extension("quelmor._kernel", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
