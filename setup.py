"""Builds morphalite._morphalite with the project's CMake build.

pip runs this through pyproject.toml. The extension is configured in
setuptools' build_temp with -DMORPHALITE_PYTHON=ON (no window, no tests) and
built with CMAKE_BUILD_PARALLEL_LEVEL jobs (2 unless set); a compiler launcher
such as ccache is taken from CMAKE_CXX_COMPILER_LAUNCHER as CMake takes it.
"""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(morphalite VERSION ([0-9.]+)", text).group(1)


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        output = Path(self.get_ext_fullpath(ext.name)).resolve().parent
        build = Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build), *generator,
            "-DCMAKE_BUILD_TYPE=Release", "-DMORPHALITE_PYTHON=ON", "-DMORPHALITE_UI=OFF",
            "-DBUILD_TESTING=OFF", f"-DMORPHALITE_PYTHON_OUTPUT={output}",
            f"-DPython3_EXECUTABLE={sys.executable}",
        ]
        try:
            import pybind11
            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass  # CMake looks for pybind11-dev's package itself
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "morphalite_python",
                        "--parallel", jobs], check=True)


setup(
    version=project_version(),
    ext_modules=[CMakeExtension("morphalite._morphalite")],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
