#!/usr/bin/env python3
"""The manifest, undo module and panel block carried in the program, run on a
generated install with no --payload: CHECK, INSTALL, a second INSTALL and
UNINSTALL, with LF and CR LF line ends.

Expectations come from the files of payload/ that the program embeds. While
payload/manifest.json is still the "0.0" placeholder there is nothing to run:
the script says so and exits 77, which CTest reports as skipped."""

import json
import os
import sys
import unittest

import e2e_support as s
from e2e_support import MODULE, disk, header, summary

T1 = "2025-01-31 23:59:59"
S1 = s.stamp_of(T1)
T2 = "2025-01-31 23:59:59"  # same second on purpose: the uninstall backups take _2


def load_payload():
    folder = os.path.join(s.SOURCE_DIR, "payload")
    with open(os.path.join(folder, "manifest.json"), "rb") as f:
        manifest = json.loads(f.read().decode("utf-8"))
    with open(os.path.join(folder, "me_qorvex_undo.lua"), "rb") as f:
        module = f.read()
    blocks = {}
    for d in manifest.get("dlgFiles", []):
        with open(os.path.join(folder, d["insertBlockResource"]), "rb") as f:
            blocks[d["insertBlockResource"]] = f.read().decode("utf-8")
    return manifest, module, blocks


class EmbeddedPayload(s.E2ETestCase):

    def setUp(self):
        super().setUp()
        self.manifest, self.module, self.blocks = load_payload()
        if self.manifest.get("version") == "0.0":
            print("SKIPPED: payload/manifest.json is the 0.0 placeholder; nothing to run yet")
            self.skipTest("the embedded manifest is the 0.0 placeholder")

    def cycle(self, crlf):
        eol = "\r\n" if crlf else "\n"
        inst = self.new_install(crlf=crlf)
        stock = s.read_tree(inst)
        files = self.manifest["files"]
        dlgs = self.manifest["dlgFiles"]
        self.assertEqual(len(files), 6)
        self.assertEqual(sum(len(fe["patches"]) for fe in files), 21)
        self.assertEqual(len(dlgs), 1)

        def install_log(action, stamp):
            text = header(inst, action) + s.MODULE_CREATE
            for fe in files:
                text += s.patch_line(fe["relativePath"], len(fe["patches"]))
                if stamp:
                    text += s.backup_line(fe["relativePath"], stamp)
            for d in dlgs:
                text += s.dlg_patch_line(d["relativePath"])
                if stamp:
                    text += s.backup_line(d["relativePath"], stamp)
            return text + summary(True, 8, 0, 7 if stamp else 0)

        r = s.run_cli(["check", inst])
        self.assertRun(r, 0, install_log("CHECK", None))
        self.assertTree(inst, stock)

        r = s.run_cli(["install", inst], clock=T1)
        self.assertRun(r, 0, install_log("INSTALL", S1))
        installed = dict(stock)
        patched = {}
        for fe in files:
            path = disk(fe["relativePath"])
            patched[path] = s.patched_lua(stock[path], fe, eol)
            installed[s.backup_path(fe["relativePath"], S1)] = stock[path]
        for d in dlgs:
            path = disk(d["relativePath"])
            patched[path] = s.patched_dlg(stock[path], d, self.blocks[d["insertBlockResource"]], eol)
            installed[s.backup_path(d["relativePath"], S1)] = stock[path]
        installed.update(patched)
        installed[disk(MODULE)] = self.module
        self.assertTree(inst, installed)

        r = s.run_cli(["install", inst], clock=T1)
        text = header(inst, "INSTALL") + s.MODULE_SKIP
        for fe in files:
            text += s.skip_line(fe["relativePath"], len(fe["patches"]))
        for d in dlgs:
            text += s.dlg_skip_line(d["relativePath"])
        self.assertRun(r, 0, text + summary(True, 0, 8, 0))
        self.assertTree(inst, installed)

        r = s.run_cli(["uninstall", inst], clock=T2)
        text = header(inst, "UNINSTALL")
        for fe in files:
            text += s.uninstall_line(fe["relativePath"], len(fe["patches"])) + s.backup_line(fe["relativePath"], S1, 2)
        for d in dlgs:
            text += s.dlg_uninstall_line(d["relativePath"]) + s.backup_line(d["relativePath"], S1, 2)
        text += s.MODULE_UNINSTALL + s.backup_line(MODULE, S1)
        self.assertRun(r, 0, text + summary(True, 8, 0, 8))
        after = dict(installed)
        del after[disk(MODULE)]
        for path, data in patched.items():
            after[path] = stock[path]
        for fe in files:
            after[s.backup_path(fe["relativePath"], S1, 2)] = patched[disk(fe["relativePath"])]
        for d in dlgs:
            after[s.backup_path(d["relativePath"], S1, 2)] = patched[disk(d["relativePath"])]
        after[s.backup_path(MODULE, S1)] = self.module
        self.assertTree(inst, after)

    def test_cycle_lf(self):
        self.cycle(crlf=False)

    def test_cycle_crlf(self):
        self.cycle(crlf=True)


if __name__ == "__main__":
    argv = s.parse_args()
    if not os.access(s.CLI, os.X_OK):
        sys.stderr.write("qorvex-patch not found at %s (build it, or pass --cli)\n" % s.CLI)
        sys.exit(1)
    result = unittest.main(argv=argv, verbosity=2, exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    if result.testsRun and len(result.skipped) == result.testsRun:
        sys.exit(77)
    sys.exit(0)
