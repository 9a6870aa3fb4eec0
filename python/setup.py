"""Builds the extension module with the project's CMake build (the module
links vxnn's training code and the three libraries, which are copied into
the package beside it): `pip install --no-build-isolation ./python`."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent.parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DVXNN_BUILD_TESTS=OFF", f"-DPython3_EXECUTABLE={sys.executable}"],
                       check=True)
        subprocess.run(["cmake", "--build", str(build), "-j", str(os.cpu_count() or 2),
                        "--target", "_vxneural"], check=True)
        target = Path(self.get_ext_fullpath(ext.name)).parent
        target.mkdir(parents=True, exist_ok=True)
        for built in (build / "python" / "vxneural").iterdir():
            if ".so" in built.name:
                shutil.copy2(built, target / built.name)


setup(packages=["vxneural"],
      ext_modules=[Extension("vxneural._vxneural", sources=[])],
      cmdclass={"build_ext": CMakeBuild})
