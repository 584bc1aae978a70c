"""Builds the package urea_reactor (pyproject.toml): CMake, with the preset
python-package, builds the extension urea_reactor._core, its stubs, the
plug-in and the stand-in host; they go into the package beside its Python
files, where the extension finds them (its RPATH and its default plug-in
are the package's own folder). The workbench's libraries (SUNDIALS, Ceres,
...) are the system's: scripts/install-deps installs them.
"""
import glob
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.join(ROOT, "build", "python-package")


def version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"project\(urea_plugin VERSION ([0-9.]+)", f.read()).group(1)


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        # The python running this build: the extension is for its ABI.
        python = os.path.realpath(sys.executable)
        subprocess.check_call(["cmake", "--preset", "python-package", f"-DPython_EXECUTABLE={python}"], cwd=ROOT)
        subprocess.check_call(["cmake", "--build", "--preset", "python-package"], cwd=ROOT)
        package = os.path.join(BUILD, "python", "urea_reactor")
        built = glob.glob(os.path.join(package, "_core.*.so"))
        if len(built) != 1:
            raise RuntimeError(f"expected one extension in {package}, found {built}")
        target = self.get_ext_fullpath(ext.name)
        folder = os.path.dirname(target)
        os.makedirs(folder, exist_ok=True)
        shutil.copyfile(built[0], target)
        for f in ("_core.pyi", "liburea_plugin.so", "liburea_host.so"):
            shutil.copyfile(os.path.join(package, f), os.path.join(folder, f))


setup(version=version(), packages=["urea_reactor"], package_dir={"urea_reactor": "workbench/python/urea_reactor"},
      package_data={"urea_reactor": ["py.typed"]}, ext_modules=[CMakeExtension("urea_reactor._core")],
      cmdclass={"build_ext": CMakeBuild})
