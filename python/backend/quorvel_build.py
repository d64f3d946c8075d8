"""The build backend of the quorvel package (PEP 517), used in place through
``backend-path``: it needs nothing beyond the standard library, so
``pip install .`` and ``pip wheel .`` work with no package index.

The extensions are built by the project's CMake, Release, tests and tool
off, for the Python that runs the backend, in ``build/wheel-<tag>-<hash>``
of the source tree (kept, so a second install only rebuilds what changed).
``QUORVEL_BUILD_DIR`` names an existing CMake build directory to use
instead; it is brought up to date with ``cmake --build`` first. The wheel
holds ``<build>/python/quorvel`` as the build lays it out: the modules,
every extension, and the C interface's shared library, which the
extensions find beside them (``$ORIGIN``).
"""

import base64
import hashlib
import io
import os
import pathlib
import re
import subprocess
import sys
import sysconfig
import tarfile
import tomllib
import zipfile

_SOURCE = pathlib.Path(__file__).resolve().parents[2]
# Fixed file times: the same build gives the same wheel, byte for byte.
_ZIP_TIME = (1980, 1, 1, 0, 0, 0)


def _project():
    """Returns the [project] table of pyproject.toml, with the version of
    the project() line of CMakeLists.txt, the project's one version."""
    with open(_SOURCE / "pyproject.toml", "rb") as f:
        project = dict(tomllib.load(f)["project"])
    cmake = (_SOURCE / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"project\(\s*quorvel\s+VERSION\s+([0-9][0-9.]*)", cmake)
    if not found:
        raise RuntimeError("quorvel_build: no project(quorvel VERSION ...) "
                           "in CMakeLists.txt")
    project["version"] = found.group(1)
    return project


def _metadata(project):
    lines = ["Metadata-Version: 2.1", f"Name: {project['name']}",
             f"Version: {project['version']}"]
    if "description" in project:
        lines.append(f"Summary: {project['description']}")
    if "requires-python" in project:
        lines.append(f"Requires-Python: {project['requires-python']}")
    return "\n".join(lines) + "\n"


def _tag():
    """Returns the wheel tag of the running CPython: cp311-cp311-linux_x86_64."""
    python = f"cp{sys.version_info.major}{sys.version_info.minor}"
    soabi = sysconfig.get_config_var("SOABI") or ""  # cpython-311-x86_64-...
    abi = "cp" + soabi.split("-")[1] if soabi.startswith("cpython-") else python
    platform = re.sub(r"[-.]", "_", sysconfig.get_platform())
    return f"{python}-{abi}-{platform}"


def _wheel_file(project):
    return (f"Wheel-Version: 1.0\nGenerator: quorvel_build "
            f"{project['version']}\nRoot-Is-Purelib: false\nTag: {_tag()}\n")


def _dist_info(project):
    return f"{project['name']}-{project['version']}.dist-info"


def _run(command):
    try:
        subprocess.run([str(part) for part in command], check=True)
    except FileNotFoundError:
        raise RuntimeError(
            f"quorvel_build: {command[0]} not found; the package is built "
            "with CMake and a C++20 compiler (Debian: apt-get install cmake "
            "g++ python3-dev pybind11-dev)") from None


def _build():
    """Builds the extensions and returns the build directory."""
    python = os.path.realpath(sys.executable)
    reuse = os.environ.get("QUORVEL_BUILD_DIR")
    if reuse:
        build = pathlib.Path(reuse).resolve()
        if not (build / "CMakeCache.txt").is_file():
            raise RuntimeError(f"quorvel_build: QUORVEL_BUILD_DIR={reuse} is "
                               "not a configured CMake build directory")
    else:
        key = hashlib.sha256(python.encode()).hexdigest()[:8]
        build = (_SOURCE / "build" /
                 f"wheel-{sys.implementation.cache_tag}-{key}")
        _run(["cmake", "-S", _SOURCE, "-B", build,
              "-DCMAKE_BUILD_TYPE=Release", "-DQUORVEL_BUILD_TESTS=OFF",
              "-DQUORVEL_BUILD_TOOLS=OFF", "-DQUORVEL_BUILD_PYTHON=ON",
              f"-DPython3_EXECUTABLE={python}"])
    command = ["cmake", "--build", build]
    if "CMAKE_BUILD_PARALLEL_LEVEL" not in os.environ:
        command += ["--parallel", os.cpu_count() or 1]
    _run(command)
    return build


def _package_files(package, version):
    """Returns the files of the package as the build laid it out, checked
    to be a build of this version for the running Python."""
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    if not (package / f"_quorvel{suffix}").is_file():
        found = sorted(p.name for p in package.glob("_quorvel*"))
        raise RuntimeError(
            f"quorvel_build: {package} has no _quorvel{suffix} for "
            f"{sys.executable} (found: {', '.join(found) or 'nothing'}); "
            "it was built for another Python")
    built = (package / "_version.py").read_text(encoding="utf-8")
    if f'__version__ = "{version}"' not in built:
        raise RuntimeError(f"quorvel_build: {package} is a build of another "
                           f"version than {version}; configure it again")
    return sorted(p for p in package.rglob("*")
                  if p.is_file() and "__pycache__" not in p.parts)


class _Wheel:
    """A wheel being written: each file goes into RECORD with its hash."""

    def __init__(self, path):
        self._zip = zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED)
        self._record = []

    def add(self, name, data, executable=False):
        info = zipfile.ZipInfo(name, date_time=_ZIP_TIME)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = (0o100755 if executable else 0o100644) << 16
        self._zip.writestr(info, data)
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest())
        self._record.append(
            f"{name},sha256={digest.rstrip(b'=').decode()},{len(data)}")

    def close(self, record_name):
        self._record.append(f"{record_name},,")
        info = zipfile.ZipInfo(record_name, date_time=_ZIP_TIME)
        info.external_attr = 0o100644 << 16
        self._zip.writestr(info, "\n".join(self._record) + "\n")
        self._zip.close()


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory,
                                     config_settings=None):
    """Writes the wheel's METADATA and WHEEL without building anything."""
    project = _project()
    dist_info = pathlib.Path(metadata_directory) / _dist_info(project)
    dist_info.mkdir(parents=True, exist_ok=True)
    (dist_info / "METADATA").write_text(_metadata(project), encoding="utf-8")
    (dist_info / "WHEEL").write_text(_wheel_file(project), encoding="utf-8")
    return dist_info.name


def build_wheel(wheel_directory, config_settings=None,
                metadata_directory=None):
    """Builds the extensions and writes the wheel; returns its file name."""
    project = _project()
    package = _build() / "python" / "quorvel"
    name = f"{project['name']}-{project['version']}-{_tag()}.whl"
    wheel = _Wheel(pathlib.Path(wheel_directory) / name)
    for path in _package_files(package, project["version"]):
        arcname = "quorvel/" + path.relative_to(package).as_posix()
        wheel.add(arcname, path.read_bytes(), os.access(path, os.X_OK))
    dist_info = _dist_info(project)
    wheel.add(f"{dist_info}/METADATA", _metadata(project).encode())
    wheel.add(f"{dist_info}/WHEEL", _wheel_file(project).encode())
    wheel.close(f"{dist_info}/RECORD")
    return name


def _source_files():
    """Returns the files git does not ignore, or without git every file but
    build output."""
    try:
        listed = subprocess.run(
            ["git", "ls-files", "-z", "--cached", "--others",
             "--exclude-standard"],
            cwd=_SOURCE, check=True, capture_output=True).stdout
        return sorted(p for p in set(listed.decode().split("\0"))
                      if p and (_SOURCE / p).is_file())
    except (OSError, subprocess.CalledProcessError):
        skipped = {".git", "__pycache__"}
        files = []
        for root, dirs, names in os.walk(_SOURCE):
            top = pathlib.Path(root) == _SOURCE
            dirs[:] = [d for d in dirs if d not in skipped and
                       not (top and d.startswith("build"))]
            files += [os.path.relpath(os.path.join(root, n), _SOURCE)
                      for n in names]
        return sorted(files)


def build_sdist(sdist_directory, config_settings=None):
    """Writes the source tree as name-version.tar.gz; returns its name."""
    project = _project()
    base = f"{project['name']}-{project['version']}"
    with tarfile.open(pathlib.Path(sdist_directory) / f"{base}.tar.gz",
                      "w:gz", format=tarfile.PAX_FORMAT) as sdist:
        for relative in _source_files():
            sdist.add(_SOURCE / relative, f"{base}/{relative}",
                      recursive=False)
        data = _metadata(project).encode()
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        info.size = len(data)
        sdist.addfile(info, io.BytesIO(data))
    return f"{base}.tar.gz"
