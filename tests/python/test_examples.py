"""The scripts in examples/python, run as a user runs them."""

import pathlib
import subprocess
import sys
import tempfile
import unittest

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples" / "python"


class ExamplesTest(unittest.TestCase):
    def run_example(self, script, *args):
        with tempfile.TemporaryDirectory() as folder:
            path = pathlib.Path(folder)
            doc = '{"name": "Z\u00fcrich", "price": 9.5, "ids": [1, 2]}'
            (path / "in.json").write_text(doc)
            (path / "in.docs.json").write_text(f"[{doc}]")
            (path / "in.csv").write_bytes(b"name,age\nBob,42\r\nal,7\nCy,100\n")
            result = subprocess.run([sys.executable, str(EXAMPLES / script),
                                     *(str(path / a) if a.startswith("in.") or a.endswith(".kx")
                                       else a for a in args)], capture_output=True, timeout=120)
            self.assertEqual(result.returncode, 0, result.stderr.decode())
            return result.stdout.decode("utf-8")

    def test_each_example(self):
        self.assertEqual(self.run_example("json_to_docsdb.py", "in.docs.json", "out.kx"),
                         'stored 1 documents\n'
                         'DOC000001 {"name":"Z\u00fcrich","price":9.5,"ids":[1,2]}\n')
        self.assertEqual(self.run_example("sort_csv.py", "in.csv", "age", "--numeric"),
                         "name,age\r\nal,7\r\nBob,42\r\nCy,100\r\n")
        self.assertEqual(self.run_example("msgpack_round_trip.py", "in.json"),
                         "42 bytes of JSON, 51 bytes packed\ncame back equal\n")
        self.assertRegex(self.run_example("kv_cache.py", "c.kx", "alpha", "alpha"),
                         r"^alpha [0-9a-f]{16} \(computed\)\nalpha [0-9a-f]{16} \(cached\)\n$")
