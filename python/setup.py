"""Builds the quill32 package: the library's sources, compiled from the tree
into one extension module with the binding (ext/module.cpp), so that the
wheel needs neither the build tree nor an installed libquill32.so.

    python3 -m venv --system-site-packages .venv
    .venv/bin/pip install --no-build-isolation ./python
"""

import os
import platform
import re
import sys
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

from pybind11.setup_helpers import Pybind11Extension
from setuptools import setup
from setuptools.command.build_ext import build_ext

HERE = Path(__file__).resolve().parent
TREE = HERE.parent
VECTOR_KERNEL = re.compile(r"_(sse2|avx2|avx512bw|avx512vbmi)\.cpp$")


def library_version():
    text = (TREE / "CMakeLists.txt").read_text()
    found = re.search(r"project\(quill32 VERSION ([0-9.]+)", text)
    if not found:
        sys.exit("setup.py: no project version in " + str(TREE / "CMakeLists.txt"))
    return found.group(1)


def library_sources():
    """The sources CMakeLists.txt puts in libquill32.so, for this processor."""
    x86_64 = platform.machine().lower() in ("x86_64", "amd64") and sys.maxsize > 2**32
    sources = []
    # The core (src/core) and the C interface over it (src/api, quill.h);
    # not the legacy layer, which the binding does not use.
    paths = sorted((TREE / "src" / "core").rglob("*.cpp"))
    paths += sorted((TREE / "src" / "api").glob("*.cpp"))
    for path in paths:
        if x86_64 or not VECTOR_KERNEL.search(path.name):
            sources.append(str(path))
    if not sources:
        sys.exit("setup.py: the library's sources are missing from " + str(TREE / "src"))
    macros = []
    if x86_64:
        macros += [("QUILL32_X86_KERNELS", None), ("QUILL32_AVX512_KERNELS", None)]
    return sources, macros


BINDING = HERE / "ext" / "module.cpp"
LIBRARY_INTERNALS = [str(TREE / "src" / "core"), str(TREE / "src" / "api")]


class ParallelBuildExt(build_ext):
    """Compiles the sources on every processor (setuptools takes one at a
    time), the binding without the library's internal headers in reach: it
    uses the public ones (include/) alone."""

    def build_extension(self, ext):
        compile_one = self.compiler.compile

        def compile_source(source, kwargs):
            if Path(source) == BINDING:
                dirs = kwargs.get("include_dirs") or []
                kwargs = dict(kwargs, include_dirs=[d for d in dirs if d not in LIBRARY_INTERNALS])
            return compile_one([source], **kwargs)

        def compile_all(sources, **kwargs):
            jobs = min(len(sources), os.cpu_count() or 1)
            with ThreadPoolExecutor(jobs) as pool:
                parts = pool.map(lambda s: compile_source(s, kwargs), sources)
                return [o for objects in parts for o in objects]

        self.compiler.compile = compile_all
        try:
            super().build_extension(ext)
        finally:
            self.compiler.compile = compile_one


sources, macros = library_sources()
version = library_version()
headers = [str(p) for p in sorted(TREE.glob("src/**/*.h")) + sorted(TREE.glob("src/**/*.inc"))]
headers += [str(p) for p in sorted((TREE / "include" / "quill").glob("*.h"))]

extension = Pybind11Extension(
    "quill32._quill32",
    [str(BINDING)] + sources,
    include_dirs=[str(TREE / "include")] + LIBRARY_INTERNALS,
    define_macros=macros + [("QUILL32_PACKAGE_VERSION", '"%s"' % version)],
    # As the library is built: -O3 as its Release build (Python's own -O2
    # leaves a decode twice as slow), signed overflow undefined as C++ has
    # it (the -fwrapv of Python's flags costs a decode 28 %: the Huffman
    # loop's positions become wrapping), exact floating point, only the
    # module's entry point visible.
    extra_compile_args=["-O3", "-fno-wrapv", "-ffp-contract=off", "-fvisibility=hidden"],
    depends=headers,
    cxx_std=20,
)

setup(
    name="quill32",
    version=version,
    description="QUILL32 frames in Python: numpy arrays, a Pillow plugin, archive jobs on Dask",
    long_description=(HERE / "README.md").read_text(),
    long_description_content_type="text/markdown",
    python_requires=">=3.9",
    packages=["quill32"],
    package_dir={"": "src"},
    ext_modules=[extension],
    cmdclass={"build_ext": ParallelBuildExt},
    install_requires=["numpy"],
    extras_require={"pillow": ["Pillow"], "dask": ["distributed"]},
    zip_safe=False,
)
