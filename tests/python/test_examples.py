"""The scripts in examples/python, run as a user runs them."""

import pathlib
import subprocess
import sys
import tempfile
import unittest

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples" / "python"


def run(script, *args, status=0):
    result = subprocess.run([sys.executable, str(EXAMPLES / script), *map(str, args)],
                            capture_output=True, timeout=120)
    if result.returncode != status:
        raise AssertionError(f"{script} failed:\n{result.stderr.decode()}")
    return result.stdout.decode("utf-8")  # CR LF kept


class ExamplesTest(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.path = pathlib.Path(folder.name)

    def test_json_to_docsdb_and_back(self):
        source = self.path / "people.json"
        source.write_text('[{"name": "Ada", "born": 1815, "langs": ["en", "fr"]},\n'
                          ' {"name": "Gr\u00e2ce", "born": 1906.5, "navy": true, "ship": null}]',
                          encoding="utf-8")
        self.assertEqual(run("json_to_docsdb.py", source, self.path / "people.kxd"),
                         "stored 2 documents\n"
                         'DOC000001 {"name":"Ada","born":1815,"langs":["en","fr"]}\n'
                         'DOC000002 {"name":"Gr\u00e2ce","born":1906.5,"navy":true,"ship":null}\n')
        self.assertTrue((self.path / "people.kxd").read_bytes().startswith(b"KDOCSTOR"))
        source.write_text('[{"n": 1}, {"at": {"city": "\u6771\u4eac"}}]')
        self.assertEqual(run("json_to_docsdb.py", source, self.path / "strict.kxd", status=1),
                         "document 2 refused at at.city: character U+6771 (\u6771) at "
                         "position 1 of at.city has no Windows-1252 byte\n")

    def test_sort_csv(self):
        source = self.path / "ages.csv"
        source.write_bytes(b"name,age\nBob,42\r\nal,7\nCy,100\n")
        for args, expected in [(["age"], "Cy,100\r\nBob,42\r\nal,7"),  # as text
                               (["age", "--numeric"], "al,7\r\nBob,42\r\nCy,100"),
                               (["name", "--descending"], "Cy,100\r\nBob,42\r\nal,7")]:
            self.assertEqual(run("sort_csv.py", source, *args), f"name,age\r\n{expected}\r\n")

    def test_msgpack_round_trip(self):
        source = self.path / "data.json"
        source.write_text('{"name": "Z\u00fcrich", "price": 9.5, "ids": [1, 2]}')
        self.assertEqual(run("msgpack_round_trip.py", source),
                         "42 bytes of JSON, 51 bytes packed\ncame back equal\n")
        source.write_text('{"items": [{"city": "\u6771\u4eac", "price": 0.123456}]}')
        self.assertEqual(run("msgpack_round_trip.py", source, status=1),
                         "refused at items[0].city: character U+6771 (\u6771) at position 1 of "
                         "items[0].city has no Windows-1252 byte\n")
        self.assertEqual(run("msgpack_round_trip.py", source, "--replace").splitlines()[1],
                         'came back as {"items":[{"city":"??","price":0.123456}]}')

    def test_kv_cache_remembers_between_runs(self):
        cache = self.path / "cache.kv"
        first = run("kv_cache.py", cache, "alpha", "beta").split()
        second = run("kv_cache.py", cache, "beta", "gamma").split()
        self.assertRegex(first[1], "^[0-9a-f]{16}$")
        self.assertEqual((first[2::3], second[2::3], second[1]),
                         (["(computed)"] * 2, ["(cached)", "(computed)"], first[4]))
        twice = run("kv_cache.py", cache, "\u6771\u4eac", "\u6771\u4eac").splitlines()
        self.assertEqual([line.split()[2] for line in twice], ["(not", "(not"])
