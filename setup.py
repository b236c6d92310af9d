"""Builds the tolva_rs extension with CMake, for the interpreter that runs the
build, in release mode, and places its type stub beside it.

pyproject.toml holds the package's metadata; this file only adds the build
step. The wheel holds tolva_rs.<suffix>.so, tolva_rs.pyi beside it (found by
type checkers that read stubs next to modules) and the stub package
tolva_rs-stubs (found by those that look for installed stubs by package).
"""

import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent
STUB = ROOT / "src" / "python_module" / "tolva_rs.pyi"


class CMakeExtension(Extension):
    """An extension that CMake builds; setuptools compiles nothing itself."""

    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = pathlib.Path(self.build_temp).resolve() / "cmake"
        # The preset builds the extension alone, in release, without the
        # tests and benchmarks (no GoogleTest or Google Benchmark needed).
        configure = [
            "cmake", "--preset", "python-module", "-B", str(build_dir),
            f"-DPython3_EXECUTABLE={sys.executable}",
        ]
        for variable, compiler in (("CXX", "CMAKE_CXX_COMPILER"), ("CC", "CMAKE_C_COMPILER")):
            if os.environ.get(variable):
                configure.append(f"-D{compiler}={os.environ[variable]}")
        build = ["cmake", "--build", str(build_dir), "--target", ext.name]
        if self.parallel:
            build += ["--parallel", str(self.parallel)]
        subprocess.run(configure, check=True, cwd=ROOT)
        subprocess.run(build, check=True, cwd=ROOT)

        built = build_dir / "python" / (ext.name + sysconfig.get_config_var("EXT_SUFFIX"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)
        for stub in self._stub_targets(target.parent):
            stub.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(STUB, stub)

    def get_outputs(self):
        outputs = super().get_outputs()
        if outputs:
            outputs += [str(path) for path in self._stub_targets(pathlib.Path(outputs[0]).parent)]
        return outputs

    @staticmethod
    def _stub_targets(directory):
        return [directory / "tolva_rs.pyi", directory / "tolva_rs-stubs" / "__init__.pyi"]


# One extension module and its stub, both placed by the build step; no Python
# packages to discover in the source tree.
setup(
    packages=[],
    py_modules=[],
    include_package_data=False,
    ext_modules=[CMakeExtension("tolva_rs")],
    cmdclass={"build_ext": CMakeBuild},
)
