"""The package's type stubs say what the package is at run time, as
stubtest (Debian's python3-mypy, under Debian's own Python) sees it."""

import os
import subprocess
import tempfile
import unittest

import quorvel

DEBIAN_PYTHON = "/usr/bin/python3"
HAS_STUBTEST = os.path.exists(DEBIAN_PYTHON) and subprocess.run(
    [DEBIAN_PYTHON, "-c", "import mypy.stubtest"], capture_output=True).returncode == 0


class StubsTest(unittest.TestCase):
    @unittest.skipUnless(HAS_STUBTEST, "needs python3-mypy for /usr/bin/python3: "
                         "scripts/ensure-packages.sh python")
    def test_stubtest_finds_no_difference(self):
        # The package this interpreter imports, for the other one.
        package = os.path.dirname(os.path.dirname(os.path.abspath(quorvel.__file__)))
        with tempfile.TemporaryDirectory() as cache:
            result = subprocess.run(
                [DEBIAN_PYTHON, "-m", "mypy.stubtest", "quorvel"], capture_output=True,
                cwd=cache, env=dict(os.environ, PYTHONPATH=package, MYPY_CACHE_DIR=cache),
                timeout=240)
        report = (result.stdout + result.stderr).decode()
        self.assertEqual(result.returncode, 0, report)
        self.assertIn("Success", report)
