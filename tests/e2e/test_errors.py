#!/usr/bin/env python3
"""Runs that go wrong: missing files, anchors missing or ambiguous, texts that
fail the balance check, hard failures that end a run with FATAL and no
summary, paths that leave the install directory, missing resources and
manifests that do not load."""

import json
import os

import e2e_support as s
from e2e_support import (AIRCRAFT, DLG, MODULE, SHOWID, STATIC, TOOLBAR, VEHICLE,
                         disk, fatal, header, summary)
from test_install_cycle import COUNTS, install_log, installed_files

T1 = "2025-01-31 23:59:59"
S1 = s.stamp_of(T1)
T2 = "2025-02-02 02:02:02"
S2 = s.stamp_of(T2)
LIMIT = 16 * 1024 * 1024


def with_text(manifest, id_, **fields):
    for fe in manifest["files"]:
        for p in fe["patches"]:
            if p["id"] == id_:
                p.pop("insertText", None)
                p.pop("insertTextBefore", None)
                p.update(fields)
                return manifest
    raise KeyError(id_)


class PerFileErrors(s.E2ETestCase):

    def test_missing_files(self):
        inst = self.new_install()
        os.remove(os.path.join(inst, disk(STATIC)))
        os.remove(os.path.join(inst, disk(DLG)))
        stock = s.read_tree(inst)
        pay = ["--payload", self.new_payload()]

        r = s.run_cli(pay + ["install", inst], clock=T1)
        expected = header(inst, "INSTALL") + s.MODULE_CREATE
        for rel, n in COUNTS:
            if rel != STATIC:
                expected += s.patch_line(rel, n) + s.backup_line(rel, S1)
        expected += summary(False, 6, 0, 5, [s.err_missing(STATIC, 2), s.err_dlg_missing(DLG)])
        self.assertRun(r, 1, expected)
        tree = dict(stock)
        patched = {}
        for fe in s.FULL_FILES:
            rel = fe["relativePath"]
            if rel != STATIC:
                patched[disk(rel)] = s.patched_lua(stock[disk(rel)], fe, "\n")
                tree[s.backup_path(rel, S1)] = stock[disk(rel)]
        tree.update(patched)
        tree[disk(MODULE)] = s.FULL_MODULE.encode()
        self.assertTree(inst, tree)

        # UNINSTALL passes over missing files without a word.
        r = s.run_cli(pay + ["uninstall", inst], clock=T2)
        expected = header(inst, "UNINSTALL")
        for rel, n in COUNTS:
            if rel != STATIC:
                expected += s.uninstall_line(rel, n) + s.backup_line(rel, S2)
        expected += s.MODULE_UNINSTALL + s.backup_line(MODULE, S2) + summary(True, 6, 0, 6)
        self.assertRun(r, 0, expected)
        for rel in s.LUA_FILES:
            if rel != STATIC:
                tree[disk(rel)] = stock[disk(rel)]
                tree[s.backup_path(rel, S2)] = patched[disk(rel)]
        del tree[disk(MODULE)]
        tree[s.backup_path(MODULE, S2)] = s.FULL_MODULE.encode()
        self.assertTree(inst, tree)

    def test_anchor_not_found_and_ambiguous(self):
        inst = self.new_install()
        vehicle = s.read(inst, VEHICLE) + b"-- see function c_skill:onChange() in create()\n"
        showid = s.read(inst, SHOWID).replace(b"\t\t\tif unit.name ~= newName then",
                                              b"\t\t\tif unit.name ~= newName and true then")
        dlg = s.read(inst, DLG) + b"-- \t\t[\"pMap\"] = {\n"
        s.write(inst, VEHICLE, vehicle)
        s.write(inst, SHOWID, showid)
        s.write(inst, DLG, dlg)
        stock = s.read_tree(inst)

        r = s.run_cli(["--payload", self.new_payload(), "install", inst], clock=T1)
        expected = header(inst, "INSTALL") + s.MODULE_CREATE
        for rel, n in COUNTS[:4]:
            expected += s.patch_line(rel, n) + s.backup_line(rel, S1)
        expected += s.patch_line(VEHICLE, 4) + s.backup_line(VEHICLE, S1)
        expected += s.skip_line(SHOWID, 0)
        expected += summary(False, 6, 1, 5, [
            s.err_ambiguous(VEHICLE, "vehicle_skill", 2),
            s.err_not_found(SHOWID, "showid_rename_unit"),
            s.err_dlg_ambiguous(DLG, 2),
        ])
        self.assertRun(r, 1, expected)
        tree = dict(stock)
        for fe in s.FULL_FILES[:5]:
            rel = fe["relativePath"]
            skip = {"vehicle_skill"}
            tree[disk(rel)] = s.patched_lua(stock[disk(rel)], fe, "\n",
                                            only={p["id"] for p in fe["patches"]} - skip)
            tree[s.backup_path(rel, S1)] = stock[disk(rel)]
        tree[disk(MODULE)] = s.FULL_MODULE.encode()
        self.assertTree(inst, tree)

    def test_dialog_anchor_not_found_and_empty_anchor(self):
        inst = self.new_install(crlf=True)
        s.write(inst, DLG, s.read(inst, DLG).replace(b"\t\t[\"pMap\"] = {", b"\t\t[\"pMapX\"] = {"))
        manifest = s.full_manifest()
        manifest["files"][5]["patches"][0]["anchorAfter"] = ""
        stock = s.read_tree(inst)
        r = s.run_cli(["--payload", self.new_payload(manifest=manifest), "check", inst])
        expected = header(inst, "CHECK") + s.MODULE_CREATE
        for rel, n in COUNTS[:5]:
            expected += s.patch_line(rel, n)
        expected += s.skip_line(SHOWID, 0)
        expected += summary(False, 6, 1, 0, [s.err_not_found(SHOWID, "showid_rename_unit"),
                                             s.err_dlg_not_found(DLG)])
        self.assertRun(r, 1, expected)
        self.assertTree(inst, stock)

    def test_empty_files(self):
        inst = self.new_install()
        s.write(inst, SHOWID, b"")
        s.write(inst, DLG, b"")
        stock = s.read_tree(inst)
        r = s.run_cli(["--payload", self.new_payload(), "check", inst])
        expected = header(inst, "CHECK") + s.MODULE_CREATE
        for rel, n in COUNTS[:5]:
            expected += s.patch_line(rel, n)
        expected += s.skip_line(SHOWID, 0)
        expected += summary(False, 6, 1, 0, [s.err_not_found(SHOWID, "showid_rename_unit"),
                                             s.err_dlg_not_found(DLG)])
        self.assertRun(r, 1, expected)
        self.assertTree(inst, stock)

    def test_unbalanced_results_are_not_written(self):
        # The module is written and reported; a Lua file and the dialog whose
        # patched text would not balance keep their old bytes and get no backup.
        inst = self.new_install()
        stock = s.read_tree(inst)
        manifest = s.full_manifest()
        with_text(manifest, "static_rename_unit", insertText="\t\t\te2e_bad = 1)\n")
        with_text(manifest, "showid_rename_unit", insertText="\n\t\t\t\te2e_broken = {\n")
        module = "local M = {\nreturn M\n"
        block = "\t\t[\"pQORVEX\"] = {\n\t\t\t[\"text\"] = \"[[\",\n\t\t\t[\"type\"] = \"Panel\",\n"
        pay = ["--payload", self.new_payload(manifest=manifest, module=module,
                                             blocks={"pQORVEX_block.txt": block})]

        static_entry = manifest["files"][3]
        static_text = s.patched_lua(stock[disk(STATIC)], static_entry, "\n")
        static_line = s.lua_line_of(static_text, b"e2e_bad = 1)")

        # CHECK writes nothing and so checks nothing: it reports a clean run.
        r = s.run_cli(pay + ["check", inst])
        self.assertRun(r, 0, install_log(inst, "CHECK"))
        self.assertTree(inst, stock)

        r = s.run_cli(pay + ["install", inst], clock=T1)
        expected = header(inst, "INSTALL") + s.MODULE_CREATE
        for rel, n in COUNTS:
            expected += s.patch_line(rel, n)
            if rel not in (STATIC, SHOWID):
                expected += s.backup_line(rel, S1)
        expected += s.dlg_patch_line(DLG)
        expected += summary(False, 5, 0, 4, [
            s.err_module_unbalanced("Unbalanced braces: net count 1"),
            s.err_unbalanced(STATIC, "Unbalanced ')' at line %d" % static_line),
            s.err_unbalanced(SHOWID, "Unbalanced braces: net count 1"),
            s.err_unbalanced(DLG, "Unbalanced braces: net count 1"),
        ])
        self.assertRun(r, 1, expected)
        tree = dict(stock)
        for fe in manifest["files"]:
            rel = fe["relativePath"]
            if rel not in (STATIC, SHOWID):
                tree[disk(rel)] = s.patched_lua(stock[disk(rel)], fe, "\n")
                tree[s.backup_path(rel, S1)] = stock[disk(rel)]
        tree[disk(MODULE)] = module.encode()
        self.assertTree(inst, tree)

    def test_uninstall_keeps_a_dialog_that_would_not_balance(self):
        inst = self.new_install()
        pay = ["--payload", self.new_payload()]
        r = s.run_cli(pay + ["install", inst], clock=T1)
        self.assertEqual(r.rc, 0, r.stdout)
        # An extra '}' inside the panel block closes an extra '{' outside it:
        # balanced now, one brace open once the block is gone.
        marker_end = s.end_line("DLG_BLOCK:pQORVEX_block").encode()
        dlg = s.read(inst, DLG)
        dlg = b"local e2e_wrap = {\n" + dlg.replace(marker_end, b"}\r\n" + marker_end)
        s.write(inst, DLG, dlg)
        installed = s.read_tree(inst)

        # A dry run does not check the dialog.
        r = s.run_cli(pay + ["--dry-run", "uninstall", inst])
        expected = header(inst, "UNINSTALL (dry run)")
        for rel, n in COUNTS:
            expected += s.uninstall_line(rel, n)
        expected += s.dlg_uninstall_line(DLG) + s.MODULE_UNINSTALL + summary(True, 8, 0, 0)
        self.assertRun(r, 0, expected)
        self.assertTree(inst, installed)

        r = s.run_cli(pay + ["uninstall", inst], clock=T2)
        expected = header(inst, "UNINSTALL")
        for rel, n in COUNTS:
            expected += s.uninstall_line(rel, n) + s.backup_line(rel, S2)
        expected += s.dlg_uninstall_line(DLG)
        expected += s.MODULE_UNINSTALL + s.backup_line(MODULE, S2)
        expected += summary(False, 7, 0, 7, [s.err_uninstall_unbalanced(DLG, "Unbalanced braces: net count 1")])
        self.assertRun(r, 1, expected)
        tree = dict(installed)
        for rel in s.LUA_FILES:
            tree[disk(rel)] = installed[s.backup_path(rel, S1)]
            tree[s.backup_path(rel, S2)] = installed[disk(rel)]
        del tree[disk(MODULE)]
        tree[s.backup_path(MODULE, S2)] = s.FULL_MODULE.encode()
        self.assertTree(inst, tree)

    def test_uninstall_removes_one_block_per_marker_and_run(self):
        inst = self.new_install()
        pay = ["--payload", self.new_payload()]
        r = s.run_cli(pay + ["install", inst], clock=T1)
        self.assertEqual(r.rc, 0, r.stdout)
        # The showId block twice; an orphan BEGIN line in me_static.lua.
        p = s.FULL_FILES[5]["patches"][0]
        blk = s.block(p["marker"], s.patch_text(p))
        showid = s.read(inst, SHOWID) + blk
        s.write(inst, SHOWID, showid)
        static_stock = s.read(inst, s.backup_path(STATIC, S1))
        orphan = static_stock + ("-- " + s.begin_line("QORVEX_PATCH:RENAME_GROUP") + "\n").encode()
        s.write(inst, STATIC, orphan)
        installed = s.read_tree(inst)

        r = s.run_cli(pay + ["uninstall", inst], clock=T2)
        expected = header(inst, "UNINSTALL")
        for rel, n in COUNTS:
            if rel != STATIC:
                expected += s.uninstall_line(rel, n) + s.backup_line(rel, S2)
        expected += s.dlg_uninstall_line(DLG) + s.backup_line(DLG, S2)
        expected += s.MODULE_UNINSTALL + s.backup_line(MODULE, S2) + summary(True, 7, 1, 7)
        self.assertRun(r, 0, expected)
        tree = dict(installed)
        for rel in s.LUA_FILES + [DLG]:
            if rel != STATIC:
                tree[disk(rel)] = installed[s.backup_path(rel, S1)]
                tree[s.backup_path(rel, S2)] = installed[disk(rel)]
        tree[disk(SHOWID)] = installed[s.backup_path(SHOWID, S1)] + blk
        del tree[disk(MODULE)]
        tree[s.backup_path(MODULE, S2)] = s.FULL_MODULE.encode()
        self.assertTree(inst, tree)


class FatalErrors(s.E2ETestCase):
    """A file the run cannot read ends CHECK with the FATAL line; INSTALL and
    UNINSTALL find it before they start and change nothing at all."""

    def assertStopped(self, inst, pay, action, path, error, hint=None):
        before = s.read_tree(inst)
        r = s.run_cli(pay + [action, inst], clock=T1)
        self.assertRun(r, 2, b"", s.problem_line(path, error, hint))
        self.assertTree(inst, before)

    def test_directory_in_place_of_a_lua_file(self):
        inst = self.new_install()
        os.remove(os.path.join(inst, disk(AIRCRAFT)))
        os.mkdir(os.path.join(inst, disk(AIRCRAFT)))
        pay = ["--payload", self.new_payload()]
        r = s.run_cli(pay + ["check", inst])
        self.assertRun(r, 2, header(inst, "CHECK") + s.MODULE_CREATE + s.patch_line(TOOLBAR, 5)
                       + fatal("IsDir"), s.problem_line(AIRCRAFT, "IsDir"))
        self.assertStopped(inst, pay, "install", AIRCRAFT, "IsDir")

    def test_directory_in_place_of_the_module(self):
        inst = self.new_install()
        os.mkdir(os.path.join(inst, disk(MODULE)))
        pay = ["--payload", self.new_payload()]
        r = s.run_cli(pay + ["check", inst])
        self.assertRun(r, 2, header(inst, "CHECK") + fatal("IsDir"), s.problem_line(MODULE, "IsDir"))
        self.assertStopped(inst, pay, "install", MODULE, "IsDir")

    def test_directory_in_place_of_the_dialog_during_uninstall(self):
        inst = self.new_install()
        pay = ["--payload", self.new_payload()]
        r = s.run_cli(pay + ["install", inst], clock=T1)
        self.assertEqual(r.rc, 0, r.stdout)
        os.remove(os.path.join(inst, disk(DLG)))
        os.mkdir(os.path.join(inst, disk(DLG)))
        r = s.run_cli(pay + ["--dry-run", "uninstall", inst])
        expected = header(inst, "UNINSTALL (dry run)")
        for rel, n in COUNTS:
            expected += s.uninstall_line(rel, n)
        self.assertRun(r, 2, expected + fatal("IsDir"), s.problem_line(DLG, "IsDir"))
        self.assertStopped(inst, pay, "uninstall", DLG, "IsDir")

    def test_read_limit(self):
        # Exactly 16 MiB is read; one byte more ends the run.
        inst = self.new_install(toolbar_size=LIMIT)
        self.assertEqual(os.path.getsize(os.path.join(inst, disk(TOOLBAR))), LIMIT)
        stock = s.read_tree(inst)
        pay = ["--payload", self.new_payload()]
        r = s.run_cli(pay + ["check", inst])
        self.assertRun(r, 0, install_log(inst, "CHECK"))
        self.assertTree(inst, stock)

        inst = self.new_install(name="over", toolbar_size=LIMIT + 1)
        self.assertEqual(os.path.getsize(os.path.join(inst, disk(TOOLBAR))), LIMIT + 1)
        stock = s.read_tree(inst)
        r = s.run_cli(pay + ["check", inst])
        self.assertRun(r, 2, header(inst, "CHECK") + s.MODULE_CREATE + fatal("StreamTooLong"),
                       s.problem_line(TOOLBAR, "StreamTooLong"))
        self.assertTree(inst, stock)
        self.assertStopped(inst, pay, "uninstall", TOOLBAR, "StreamTooLong")

    def test_missing_block_resource(self):
        inst = self.new_install()
        stock = s.read_tree(inst)
        manifest = s.full_manifest()
        manifest["files"] = []
        manifest["dlgFiles"][0]["insertBlockResource"] = "e2e_missing_block.txt"
        r = s.run_cli(["--payload", self.new_payload(manifest=manifest), "check", inst])
        self.assertRun(r, 2, header(inst, "CHECK") + s.MODULE_CREATE + fatal("EmbeddedResourceNotFound"),
                       s.problem_line(DLG, "EmbeddedResourceNotFound"))
        self.assertTree(inst, stock)

    def test_missing_block_resource_is_not_needed_when_its_marker_is_present(self):
        inst = self.new_install()
        s.write(inst, DLG, s.read(inst, DLG) + ("-- " + s.begin_line("DLG_BLOCK:e2e_missing_block") + "\n").encode())
        stock = s.read_tree(inst)
        manifest = s.full_manifest()
        manifest["files"] = []
        manifest["dlgFiles"][0]["insertBlockResource"] = "e2e_missing_block.txt"
        r = s.run_cli(["--payload", self.new_payload(manifest=manifest), "check", inst])
        self.assertRun(r, 0, header(inst, "CHECK") + s.MODULE_CREATE + s.dlg_skip_line(DLG)
                       + summary(True, 1, 1, 0))
        self.assertTree(inst, stock)

    def test_resource_names_with_a_path_are_not_looked_up(self):
        inst = self.new_install()
        stock = s.read_tree(inst)
        manifest = s.full_manifest()
        manifest["files"] = []
        manifest["dlgFiles"][0]["insertBlockResource"] = "../pQORVEX_block.txt"
        payload = self.new_payload(manifest=manifest)
        # A readable file at exactly that path must still not be used.
        with open(os.path.join(self.tmp, "pQORVEX_block.txt"), "wb") as f:
            f.write(s.FULL_BLOCK.encode())
        r = s.run_cli(["--payload", payload, "check", inst])
        self.assertRun(r, 2, header(inst, "CHECK") + s.MODULE_CREATE + fatal("EmbeddedResourceNotFound"),
                       s.problem_line(DLG, "EmbeddedResourceNotFound"))
        self.assertTree(inst, stock)


class WriteFailures(s.E2ETestCase):
    """A new content that cannot be written (the file size limit stands in for
    a full disk) stops the run before anything changes: every new content is
    written beside its file before any backup is made or any file replaced."""

    def test_a_new_content_that_cannot_be_written_changes_nothing(self):
        inst = self.new_install()
        stock = s.read_tree(inst)
        pay = ["--payload", self.new_payload()]
        r = s.run_cli(pay + ["install", inst], clock=T1, file_size_limit=len(s.FULL_MODULE) - 1)
        self.assertRun(r, 2, b"", s.problem_line(MODULE, "Unexpected", "other"))
        self.assertTree(inst, stock)


class PathsOutsideTheInstall(s.E2ETestCase):
    """A manifest path that is absolute, climbs out with '..' or holds a NUL
    byte is refused when the manifest is loaded, so nothing at all is written,
    not even the files that come before it in the manifest."""

    BAD_PATHS = [
        "..\\outside.lua",
        "MissionEditor\\..\\..\\outside.lua",
        "MissionEditor/../../outside.lua",
        "\\outside.lua",
        "/outside.lua",
        "C:\\outside.lua",
        "MissionEditor\\modules\\me_toolbar.lua\u0000.bak",
    ]

    def setUp(self):
        super().setUp()
        # A file the paths above could reach, holding the anchor.
        self.outside = os.path.join(self.tmp, "outside.lua")
        with open(self.outside, "wb") as f:
            f.write(b"local Gui \t\t\t\t\t\t= require('dxgui')\n")

    def check_refused(self, manifest, name, bad, entry):
        inst = self.new_install(name="install-" + name)
        stock = s.read_tree(inst)
        payload = self.new_payload(name="payload-" + name, manifest=manifest)
        text = json.dumps(manifest, indent=2)
        where = s.manifest_line(payload, s.text_place(text, text.index(json.dumps(bad))), entry,
                                "not a relative path inside the game folder")
        for action, title in (("check", "CHECK"), ("install", "INSTALL"), ("uninstall", "UNINSTALL")):
            r = s.run_cli(["--payload", payload, action, inst], clock=T1)
            self.assertRun(r, 1, header(inst, title)
                           + "ERROR: Failed to load embedded patch manifest -> BadPathName\r\n", where)
        self.assertTree(inst, stock)
        with open(self.outside, "rb") as f:
            self.assertEqual(f.read(), b"local Gui \t\t\t\t\t\t= require('dxgui')\n")

    def test_lua_file_paths(self):
        for index, bad in enumerate(self.BAD_PATHS):
            with self.subTest(path=bad):
                manifest = s.full_manifest()
                # After a good entry, which must not be written either.
                manifest["files"].append({"relativePath": bad, "patches": [manifest["files"][0]["patches"][0]]})
                self.check_refused(manifest, "lua%d" % index, bad, "files[6].relativePath")

    def test_dialog_path(self):
        for index, bad in enumerate(self.BAD_PATHS):
            with self.subTest(path=bad):
                manifest = s.full_manifest()
                manifest["dlgFiles"][0]["relativePath"] = bad
                self.check_refused(manifest, "dlg%d" % index, bad, "dlgFiles[0].relativePath")


class ManifestLoadFailures(s.E2ETestCase):
    """Each failure is named in the log as before, and placed on stderr: where
    in the text (found here by the text the failure is about) and in which
    entry."""

    def check(self, manifest_text, error, at, entry, message):
        inst = self.new_install()
        stock = s.read_tree(inst)
        payload = self.new_payload(manifest_text=manifest_text)
        where = s.manifest_line(payload, s.text_place(manifest_text, at), entry, message)
        for action, title in (("check", "CHECK"), ("install", "INSTALL"), ("uninstall", "UNINSTALL")):
            r = s.run_cli(["--payload", payload, action, inst], clock=T1)
            self.assertRun(r, 1, header(inst, title)
                           + "ERROR: Failed to load embedded patch manifest -> %s\r\n" % error, where)
        self.assertTree(inst, stock)

    def manifest_with(self, **changes):
        m = s.full_manifest()
        m.update(changes)
        return m

    def test_missing_dlg_files(self):
        m = s.full_manifest()
        del m["dlgFiles"]
        self.check(json.dumps(m), "MissingField", 0, "(top level)", "missing key 'dlgFiles'")

    def test_missing_marker(self):
        m = s.full_manifest()
        del m["files"][2]["patches"][1]["marker"]
        text = json.dumps(m)
        self.check(text, "MissingField", text.index('{"id": "ship_rename_unit"'), "files[2].patches[1]",
                   "missing key 'marker'")

    def test_duplicate_key(self):
        text = json.dumps(s.full_manifest(), indent=2)
        text = text.replace('"marker": "QORVEX_PATCH:SKILL",',
                            '"marker": "QORVEX_PATCH:SKILL",\n          "marker": "QORVEX_PATCH:SKILL",', 1)
        second = text.index('"marker": "QORVEX_PATCH:SKILL"', text.index('"marker": "QORVEX_PATCH:SKILL"') + 1)
        self.check(text, "DuplicateField", second, "files[4].patches[2].marker", "duplicate key")

    def test_fractional_occurrence(self):
        m = s.full_manifest()
        m["files"][0]["patches"][0]["anchorAfterOccurrence"] = 1.5
        text = json.dumps(m)
        self.check(text, "InvalidNumber", text.index("1.5"), "files[0].patches[0].anchorAfterOccurrence",
                   "expected an integer, not a fraction")

    def test_occurrence_beyond_64_bits(self):
        text = json.dumps(s.full_manifest(), indent=2).replace(
            '"anchorAfterOccurrence": 1', '"anchorAfterOccurrence": 9223372036854775808', 1)
        self.check(text, "Overflow", text.index("9223372036854775808"),
                   "files[2].patches[0].anchorAfterOccurrence", "integer outside the signed 64-bit range")

    def test_wrong_type(self):
        text = json.dumps(self.manifest_with(files="none"))
        self.check(text, "UnexpectedToken", text.index('"none"'), "files", "expected an array")

    def test_truncated(self):
        text = json.dumps(s.full_manifest(), indent=2)
        text = text[:len(text) // 2]
        self.check(text, "UnexpectedEndOfInput", len(text), "files[2].patches[0]", "unexpected end of input")

    def test_missing_colon(self):
        self.check('{"version" "1.0"}', "SyntaxError", 11, "version", "expected ':'")


if __name__ == "__main__":
    s.main()
