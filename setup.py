"""Builds orvane_fx for pip with the project's own CMake build: configures only the libraries,
the renderer's engine and the module, installs them into a staging folder, and puts the module
and the two shared libraries it needs into the package (the module looks beside itself)."""

import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


def project_version() -> str:
    text = open(os.path.join(ROOT, "CMakeLists.txt")).read()
    return re.search(r"project\(OrvaneAudioEffects VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, extension):
        package = os.path.join(os.path.abspath(self.build_lib), "orvane_fx")
        os.makedirs(package, exist_ok=True)
        with tempfile.TemporaryDirectory() as work:
            build, stage = os.path.join(work, "build"), os.path.join(work, "stage")
            subprocess.check_call([
                "cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                f"-DPython3_EXECUTABLE={sys.executable}", "-DORVANE_BUILD_PYTHON=ON",
                "-DORVANE_BUILD_TESTS=OFF", "-DORVANE_BUILD_TOOLS=OFF",
                "-DORVANE_BUILD_BENCHMARKS=OFF", "-DORVANE_BUILD_PLUGINS=OFF",
                "-DORVANE_PYTHON_INSTALL_DIR=python", "-DCMAKE_INSTALL_LIBDIR=lib"])
            subprocess.check_call(["cmake", "--build", build, "-j", str(os.cpu_count() or 2)])
            subprocess.check_call(["cmake", "--install", build, "--prefix", stage])
            for path in glob.glob(os.path.join(stage, "python", "orvane_fx", "*")):
                shutil.copy2(path, package)
            # The names the module asks for (the libraries' sonames), once each.
            for library in glob.glob(os.path.join(stage, "lib", "libOrvane*.so.*")):
                if re.fullmatch(r"libOrvane\w+\.so\.[0-9]+", os.path.basename(library)):
                    shutil.copy2(library, package, follow_symlinks=True)


setup(
    version=project_version(),
    ext_modules=[Extension("orvane_fx._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
