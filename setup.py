"""pip install --no-build-isolation . : builds tarvo._core with CMake (no package index is
needed: pybind11, numpy and pandas come from the system) and installs the tarvo package."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    """Configures the project with only the library, the front end and the module, builds
    the module and puts it where setuptools expects the extension."""

    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        configure = ["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                     "-DTARVO_TESTS=OFF", "-DTARVO_BENCH=OFF", "-DTARVO_TOOLS=ON",
                     "-DTARVO_PYTHON=ON", f"-DPython_EXECUTABLE={sys.executable}"]
        subprocess.run(configure, check=True)
        jobs = str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build), "--target", "_core", "-j", jobs],
                       check=True)
        built = list((build / "python" / "tarvo").glob("_core*.so"))
        if not built:
            raise RuntimeError("CMake did not build tarvo._core (is pybind11-dev installed? "
                               "scripts/deps.sh)")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(built[0], target)


setup(
    name="tarvo",
    version="0.1",
    description="Kinetics simulation and fitting",
    packages=["tarvo"],
    package_dir={"": "python"},
    package_data={"tarvo": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("tarvo._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.9",
    install_requires=["numpy", "pandas"],
    extras_require={"plot": ["matplotlib"]},
    options={"build": {"build_base": "build-python"}},
    zip_safe=False,
)
