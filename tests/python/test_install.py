"""Installing the package as a user does: `pip install .` into a fresh venv,
then importing it from outside the tree with nothing on PYTHONPATH or
LD_LIBRARY_PATH; `pip wheel .` and the sdist; and what an import that fails
says."""

import base64
import hashlib
import os
import pathlib
import platform
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import unittest
import zipfile

import quorvel

SOURCE = pathlib.Path(__file__).resolve().parents[2]
BUILT_PACKAGE = pathlib.Path(quorvel.__file__).resolve().parent
VERSION = quorvel.__version__

# Run by the installed package: its version as CMake and as the wheel's
# metadata have it, where it lies, where the C library was loaded from, and
# a call into the library.
CHECK = """
import importlib.metadata, quorvel
d = quorvel.CreateObject("Scripting.Dictionary")
d.Add("answer", 42)
maps = open("/proc/self/maps").read().split()
print(quorvel.__version__, importlib.metadata.version("quorvel"))
print(quorvel.__file__)
print(*sorted({m for m in maps if "libquorvel_c" in m}))
print(d.Item("answer"))
"""


def run(command, **kwargs):
    env = dict(os.environ, PIP_DISABLE_PIP_VERSION_CHECK="1",
               QUORVEL_BUILD_DIR=str(BUILT_PACKAGE.parents[1]))
    for name in ("PYTHONPATH", "LD_LIBRARY_PATH", "PYTHONHOME"):
        env.pop(name, None)
    done = subprocess.run([str(c) for c in command], capture_output=True, text=True,
                          env=env, **kwargs)
    if done.returncode != 0:
        raise AssertionError(f"{command} failed ({done.returncode}):\n{done.stdout}\n{done.stderr}")
    return done.stdout


@unittest.skipIf(os.environ.get("QUORVEL_SANITIZED"), "a sanitized extension needs its "
                 "runtimes preloaded; the normal build tests installing")
class InstallTest(unittest.TestCase):
    def setUp(self):
        self.scratch = pathlib.Path(tempfile.mkdtemp(prefix="quorvel-pip-"))
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)

    def test_pip_install_into_a_fresh_venv(self):
        # The build's Python, and Debian's when it is another one.
        pythons = [sys.executable] + [p for p in ["/usr/bin/python3"] if os.path.exists(p) and
                                      os.path.realpath(p) != os.path.realpath(sys.executable)]
        for number, python in enumerate(pythons):
            with self.subTest(python=python):
                if subprocess.run([python, "-c", "import ensurepip"], capture_output=True).returncode:
                    self.skipTest(f"{python} has no venv with pip (Debian: python3-venv)")
                venv = self.scratch / f"venv{number}"
                run([python, "-m", "venv", "--system-site-packages", venv])
                run([venv / "bin/python", "-m", "pip", "install", "-q",
                     "--no-build-isolation", "--no-index", "."], cwd=SOURCE)
                out = run([venv / "bin/python", "-c", CHECK], cwd=self.scratch).splitlines()
                site = pathlib.Path(out[1]).resolve().parent
                self.assertTrue(site.is_relative_to(venv.resolve()), out[1])
                self.assertEqual(out[:1] + out[2:], [f"{VERSION} {VERSION}",
                                                      str(site / "libquorvel_c.so.0"), "42"])

    def test_wheel_and_sdist_hold_the_package(self):
        run([sys.executable, "-m", "pip", "wheel", "-q", "--no-build-isolation", "--no-index",
             "--no-deps", "-w", self.scratch, "."], cwd=SOURCE)
        wheels = list(self.scratch.glob("quorvel-*.whl"))
        self.assertEqual(len(wheels), 1, wheels)
        with zipfile.ZipFile(wheels[0]) as wheel:
            names = set(wheel.namelist())
            dist_info = f"quorvel-{VERSION}.dist-info"
            self.assertLessEqual({"quorvel/__init__.py", "quorvel/_version.py",
                                  f"quorvel/_quorvel{quorvel._version.EXTENSION_SUFFIX}",
                                  "quorvel/libquorvel_c.so.0"}, names)
            record = wheel.read(f"{dist_info}/RECORD").decode().splitlines()
            self.assertEqual({line.split(",")[0] for line in record}, names)
            for name, digest, size in (line.split(",") for line in record):
                if not name.endswith("RECORD"):
                    data = wheel.read(name)
                    expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest())
                    self.assertEqual((digest, size), (f"sha256={expected.rstrip(b'=').decode()}",
                                                      str(len(data))), name)
            self.assertIn("Root-Is-Purelib: false", wheel.read(f"{dist_info}/WHEEL").decode())
        # The sdist holds the tree and its metadata, and no build.
        sys.path.insert(0, str(SOURCE / "python/backend"))
        self.addCleanup(sys.path.remove, str(SOURCE / "python/backend"))
        import quorvel_build
        base = f"quorvel-{VERSION}"
        self.assertEqual(quorvel_build.build_sdist(str(self.scratch)), f"{base}.tar.gz")
        with tarfile.open(self.scratch / f"{base}.tar.gz") as sdist:
            names = set(sdist.getnames())
            needed = {f"{base}/{n}" for n in ("pyproject.toml", "CMakeLists.txt",
                                              "python/backend/quorvel_build.py", "PKG-INFO")}
            self.assertEqual((needed - names, [n for n in names if "/build/" in n]), (set(), []))
            info = sdist.extractfile(f"{base}/PKG-INFO").read().decode()
            self.assertIn(f"Version: {VERSION}\n", info)


class ImportFailureTest(unittest.TestCase):
    def test_names_both_pythons_and_how_to_build(self):
        scratch = pathlib.Path(tempfile.mkdtemp(prefix="quorvel-import-"))
        self.addCleanup(shutil.rmtree, scratch, ignore_errors=True)
        # A build for another Python: the modules, and no extension this
        # Python can load.
        other = scratch / "other" / "quorvel"
        other.mkdir(parents=True)
        for module in BUILT_PACKAGE.glob("*.py"):
            shutil.copy(module, other)
        (other / "_version.py").write_text(
            '__version__ = "9.8.7"\nPYTHON_VERSION = "3.99.1"\n'
            'PYTHON_EXECUTABLE = "/opt/py399/bin/python3"\n'
            'EXTENSION_SUFFIX = ".cpython-399-x86_64-linux-gnu.so"\n')
        running = [platform.python_version(), sys.executable, "pip install ."]
        for path, expected in [
            (SOURCE / "python", ["is not built"] + running),
            (other.parent, ["quorvel 9.8.7", "no _quorvel" + sysconfig.get_config_var("EXT_SUFFIX"),
                            "3.99.1", "/opt/py399/bin/python3", ".cpython-399-x86_64-linux-gnu.so"]
             + running),
        ]:
            with self.subTest(path):
                done = subprocess.run([sys.executable, "-c", "import quorvel"], capture_output=True,
                                      text=True, env=dict(os.environ, PYTHONPATH=str(path)),
                                      cwd=scratch)
                last = done.stderr.strip().splitlines()[-1]
                self.assertTrue(done.returncode != 0 and last.startswith("ImportError: "), last)
                for text in expected:
                    self.assertIn(text, last)
                self.assertNotIn("circular import", done.stderr)
