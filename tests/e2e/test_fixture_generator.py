#!/usr/bin/env python3
"""The synthetic game install itself: its files, its line ends, its sizes, that
it is the same on every run, and that its Lua compiles."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import e2e_support as s

EXPECTED_FILES = [
    "MissionEditor/",
    "MissionEditor/MissionEditor.lua",
    "MissionEditor/modules/",
    "MissionEditor/modules/dialogs/",
    "MissionEditor/modules/dialogs/me_toolbar.dlg",
    "MissionEditor/modules/me_aircraft.lua",
    "MissionEditor/modules/me_ship.lua",
    "MissionEditor/modules/me_showId.lua",
    "MissionEditor/modules/me_static.lua",
    "MissionEditor/modules/me_toolbar.lua",
    "MissionEditor/modules/me_vehicle.lua",
]


def generate(folder, *args):
    subprocess.run([sys.executable, s.GENERATOR, folder] + list(args), check=True)
    return s.read_tree(folder)


class FixtureGenerator(unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="qorvex-gen-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def test_files_line_ends_and_sizes(self):
        lf = generate(os.path.join(self.tmp, "lf"))
        crlf = generate(os.path.join(self.tmp, "crlf"), "--crlf")
        self.assertEqual(sorted(lf), EXPECTED_FILES)
        self.assertEqual(sorted(crlf), EXPECTED_FILES)
        for name, data in lf.items():
            if data is None:
                continue
            self.assertNotIn(b"\r", data, name)
            self.assertNotIn(b"QORVEX", data, name)
            self.assertEqual(crlf[name], data.replace(b"\n", b"\r\n"), name)
            if name.startswith("MissionEditor/modules/"):
                self.assertGreater(len(data), 10000, name)
        self.assertEqual(generate(os.path.join(self.tmp, "again")), lf)

    def test_anchors_are_there_once(self):
        tree = generate(os.path.join(self.tmp, "lf"))
        for fe in s.FULL_FILES:
            data = tree[s.disk(fe["relativePath"])]
            for p in fe["patches"]:
                self.assertEqual(data.count(p["anchorAfter"].encode()), 1, p["id"])
        self.assertEqual(tree[s.disk(s.DLG)].count(s.DLG_ANCHOR.encode()), 1)
        self.assertEqual(tree[s.disk(s.TOOLBAR)].count(
            b"for k,modul in base.pairs(managerModulesME.modulesME) do"), 1)

    def test_toolbar_size(self):
        for size, crlf in ((300000, False), (300001, True)):
            folder = os.path.join(self.tmp, "sized%d" % size)
            tree = generate(folder, "--toolbar-size", str(size), *(["--crlf"] if crlf else []))
            self.assertEqual(len(tree[s.disk(s.TOOLBAR)]), size)

    def test_luac_accepts_every_file(self):
        luac = shutil.which("luac5.1")
        if luac is None:
            self.skipTest("luac5.1 is not installed")
        for args in ([], ["--crlf"]):
            folder = os.path.join(self.tmp, "x".join(args) or "lf")
            tree = generate(folder, "--no-check", *args)
            paths = [os.path.join(folder, n) for n, d in tree.items() if d is not None]
            subprocess.run([luac, "-p"] + paths, check=True)


if __name__ == "__main__":
    argv = s.parse_args()
    unittest.main(argv=argv, verbosity=2)
