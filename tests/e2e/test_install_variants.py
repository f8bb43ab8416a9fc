#!/usr/bin/env python3
"""INSTALL on trees that are not plain stock: partly patched files, insertions
present without markers, a stale init call inside the module loop, anchors
written with other blanks and line ends, and an installed module that differs
or only differs in line ends."""

import e2e_support as s
from e2e_support import (AIRCRAFT, DLG, MODULE, SHIP, SHOWID, STATIC, TOOLBAR, VEHICLE,
                         disk, header, summary)
from test_install_cycle import COUNTS, installed_files

LOOP_HEADER = b"for k,modul in base.pairs(managerModulesME.modulesME) do"
T1 = "2025-01-31 23:59:59"
T2 = "2025-02-14 08:30:05"


def file_entry(rel):
    return next(fe for fe in s.FULL_FILES if fe["relativePath"] == rel)


def patch_entry(rel, id_):
    return next(p for p in file_entry(rel)["patches"] if p["id"] == id_)


def without_entries(manifest, ids):
    for fe in manifest["files"]:
        fe["patches"] = [p for p in fe["patches"] if p["id"] not in ids]
    return manifest


class InstallVariants(s.E2ETestCase):

    def install_full(self, inst, pay, clock=T1):
        r = s.run_cli(pay + ["install", inst], clock=clock)
        self.assertEqual(r.rc, 0, r.stdout)
        return s.read_tree(inst)

    # -- stale init call -----------------------------------------------------

    def move_init_call_into_loop(self, data, between=b""):
        p = patch_entry(TOOLBAR, "toolbar_init_call")
        blk = s.block(p["marker"], s.patch_text(p))
        self.assertEqual(data.count(blk), 1)
        data = data.replace(blk, b"")
        i = data.index(LOOP_HEADER) + len(LOOP_HEADER)
        return data[:i] + between + blk + data[i:]

    def check_migration(self, crlf, between):
        # The block sits in the module loop, with only `between` (blanks and
        # line ends) after the loop header; the migration takes the block out
        # with its own line ends and puts it back after its anchor.
        eol = "\r\n" if crlf else "\n"
        inst = self.new_install(crlf=crlf)
        pay = ["--payload", self.new_payload()]
        installed = self.install_full(inst, pay)
        stale = self.move_init_call_into_loop(installed[disk(TOOLBAR)], between)
        s.write(inst, TOOLBAR, stale)
        good = installed[disk(TOOLBAR)]
        i = good.index(LOOP_HEADER) + len(LOOP_HEADER)
        good = good[:i] + between + good[i:]

        r = s.run_cli(pay + ["install", inst], clock=T2)
        expected = (header(inst, "INSTALL") + s.MODULE_SKIP
                    + "[MIGRATE] MissionEditor\\modules\\me_toolbar.lua [toolbar_init_call] - removing stale "
                      "in-loop qorvex.init() call for reinsertion at the fixed location.\r\n"
                    + s.patch_line(TOOLBAR, 1, 4) + s.backup_line(TOOLBAR, s.stamp_of(T2)))
        for rel, n in COUNTS[1:]:
            expected += s.skip_line(rel, n)
        expected += s.dlg_skip_line(DLG) + summary(True, 1, 7, 1)
        self.assertRun(r, 0, expected)
        after = dict(installed)
        after[disk(TOOLBAR)] = good
        after[s.backup_path(TOOLBAR, s.stamp_of(T2))] = stale
        self.assertTree(inst, after)

    def test_stale_init_call_is_moved_lf(self):
        self.check_migration(crlf=False, between=b"")

    def test_stale_init_call_is_moved_crlf(self):
        self.check_migration(crlf=True, between=b"\r\n\t \n")

    def test_stale_init_call_stays_when_its_anchor_is_gone(self):
        # The block is taken out in memory, cannot go back in, and nothing else
        # changes in the file: the file is not written, the block stays on disk.
        inst = self.new_install()
        pay = ["--payload", self.new_payload()]
        installed = self.install_full(inst, pay)
        stale = self.move_init_call_into_loop(installed[disk(TOOLBAR)])
        old = b"toggleButtonMultiSelection:setVisible(false)"
        self.assertEqual(stale.count(old), 1)
        stale = stale.replace(old, b"toggleButtonMultiSelection:setVisible(true)")
        s.write(inst, TOOLBAR, stale)
        installed[disk(TOOLBAR)] = stale

        r = s.run_cli(pay + ["install", inst], clock=T2)
        expected = (header(inst, "INSTALL") + s.MODULE_SKIP
                    + "[MIGRATE] MissionEditor\\modules\\me_toolbar.lua [toolbar_init_call] - removing stale "
                      "in-loop qorvex.init() call for reinsertion at the fixed location.\r\n"
                    + s.skip_line(TOOLBAR, 4))
        for rel, n in COUNTS[1:]:
            expected += s.skip_line(rel, n)
        expected += s.dlg_skip_line(DLG)
        expected += summary(False, 0, 8, 0, [s.err_not_found(TOOLBAR, "toolbar_init_call")])
        self.assertRun(r, 1, expected)
        self.assertTree(inst, installed)

    def test_init_call_after_loop_code_is_left_alone(self):
        inst = self.new_install()
        pay = ["--payload", self.new_payload()]
        installed = self.install_full(inst, pay)
        moved = self.move_init_call_into_loop(installed[disk(TOOLBAR)], b" -- each module")
        s.write(inst, TOOLBAR, moved)
        installed[disk(TOOLBAR)] = moved

        r = s.run_cli(pay + ["install", inst], clock=T2)
        expected = header(inst, "INSTALL") + s.MODULE_SKIP
        for rel, n in COUNTS:
            expected += s.skip_line(rel, n)
        expected += s.dlg_skip_line(DLG) + summary(True, 0, 8, 0)
        self.assertRun(r, 0, expected)
        self.assertTree(inst, installed)

    def test_init_call_begin_line_without_end_is_not_migrated(self):
        inst = self.new_install()
        pay = ["--payload", self.new_payload()]
        installed = self.install_full(inst, pay)
        p = patch_entry(TOOLBAR, "toolbar_init_call")
        data = installed[disk(TOOLBAR)].replace(s.block(p["marker"], s.patch_text(p)), b"")
        i = data.index(LOOP_HEADER) + len(LOOP_HEADER)
        data = data[:i] + b"\r\n" + s.begin_line(p["marker"]).encode() + b"\r\n" + data[i:]
        s.write(inst, TOOLBAR, data)
        installed[disk(TOOLBAR)] = data

        r = s.run_cli(pay + ["install", inst], clock=T2)
        expected = header(inst, "INSTALL") + s.MODULE_SKIP
        for rel, n in COUNTS:
            expected += s.skip_line(rel, n)
        expected += s.dlg_skip_line(DLG) + summary(True, 0, 8, 0)
        self.assertRun(r, 0, expected)
        self.assertTree(inst, installed)

    # -- partly patched and unmarked ------------------------------------------

    def test_partly_patched_files_get_the_rest(self):
        inst = self.new_install()
        stock = s.read_tree(inst)
        missing = {"toolbar_init_call", "toolbar_panel_position", "toolbar_undo_wiring", "vehicle_skill"}
        first = self.new_payload("first", manifest=without_entries(s.full_manifest(), missing))
        pay = ["--payload", self.new_payload()]
        partly = self.install_full(inst, ["--payload", first])

        r = s.run_cli(pay + ["install", inst], clock=T2)
        s2 = s.stamp_of(T2)
        expected = (header(inst, "INSTALL") + s.MODULE_SKIP
                    + s.patch_line(TOOLBAR, 3, 2) + s.backup_line(TOOLBAR, s2)
                    + s.skip_line(AIRCRAFT, 4) + s.skip_line(SHIP, 4) + s.skip_line(STATIC, 2)
                    + s.patch_line(VEHICLE, 1, 4) + s.backup_line(VEHICLE, s2)
                    + s.skip_line(SHOWID, 1) + s.dlg_skip_line(DLG)
                    + summary(True, 2, 6, 2))
        self.assertRun(r, 0, expected)
        after = dict(partly)
        full = installed_files(stock, "\n")
        after[disk(TOOLBAR)] = full[disk(TOOLBAR)]
        after[disk(VEHICLE)] = full[disk(VEHICLE)]
        after[s.backup_path(TOOLBAR, s2)] = partly[disk(TOOLBAR)]
        after[s.backup_path(VEHICLE, s2)] = partly[disk(VEHICLE)]
        self.assertTree(inst, after)

    def test_insertions_present_without_markers_count_as_applied(self):
        # A CR LF tree that already holds the showId snippet and the panel block
        # with LF line ends and no marker lines.
        inst = self.new_install(crlf=True)
        p = patch_entry(SHOWID, "showid_rename_unit")
        showid = s.insert_after(s.read(inst, SHOWID), s.literal(p["anchorAfter"], "\r\n"),
                                s.patch_text(p).encode())
        dlg = s.insert_before(s.read(inst, DLG), s.literal(s.DLG_ANCHOR, "\r\n"), s.FULL_BLOCK.encode())
        s.write(inst, SHOWID, showid)
        s.write(inst, DLG, dlg)
        stock = s.read_tree(inst)
        pay = ["--payload", self.new_payload()]

        r = s.run_cli(pay + ["install", inst], clock=T1)
        s1 = s.stamp_of(T1)
        expected = header(inst, "INSTALL") + s.MODULE_CREATE
        for rel, n in COUNTS[:-1]:
            expected += s.patch_line(rel, n) + s.backup_line(rel, s1)
        expected += s.skip_line(SHOWID, 1) + s.dlg_skip_line(DLG, unmarked=True) + summary(True, 6, 2, 5)
        self.assertRun(r, 0, expected)
        after = dict(stock)
        for fe in s.FULL_FILES[:-1]:
            rel = fe["relativePath"]
            after[disk(rel)] = s.patched_lua(stock[disk(rel)], fe, "\r\n")
            after[s.backup_path(rel, s1)] = stock[disk(rel)]
        after[disk(MODULE)] = s.FULL_MODULE.encode()
        self.assertTree(inst, after)

    def test_marked_panel_block_with_changed_content_is_present(self):
        inst = self.new_install()
        marker = "DLG_BLOCK:pQORVEX_block"
        changed = s.insert_before(
            s.read(inst, DLG), s.literal(s.DLG_ANCHOR, "\n"),
            ("\n" + s.begin_line(marker) + "\n\t\t[\"pQORVEX\"] = {\n\t\t},\n" + s.end_line(marker) + "\n").encode())
        s.write(inst, DLG, changed)
        stock = s.read_tree(inst)
        r = s.run_cli(["--payload", self.new_payload(), "check", inst])
        expected = header(inst, "CHECK") + s.MODULE_CREATE
        for rel, n in COUNTS:
            expected += s.patch_line(rel, n)
        expected += s.dlg_skip_line(DLG) + summary(True, 7, 1, 0)
        self.assertRun(r, 0, expected)
        self.assertTree(inst, stock)

    # -- tolerant anchors -----------------------------------------------------

    def test_anchors_match_other_blanks_and_line_ends(self):
        inst = self.new_install()
        vehicle_sp = patch_entry(VEHICLE, "vehicle_heading_sp")
        showid = patch_entry(SHOWID, "showid_rename_unit")
        aircraft_sp = patch_entry(AIRCRAFT, "aircraft_heading_sp")
        replacements = {
            VEHICLE: (vehicle_sp["anchorAfter"].encode(),
                      b"    self:setValue(value)\t\r\n \t\r        vdata.group.units[vdata.unit.cur].heading = U.toRadians(value)"),
            SHOWID: (showid["anchorAfter"].encode(), b"  if  unit.name\t~=  newName \t then"),
            # The whitespace-only line lost its blanks: no longer the anchor.
            AIRCRAFT: (aircraft_sp["anchorAfter"].encode(),
                       aircraft_sp["anchorAfter"].replace("\n\t\t\n", "\n\n").encode()),
        }
        for rel, (old, new) in replacements.items():
            data = s.read(inst, rel)
            self.assertEqual(data.count(old), 1)
            s.write(inst, rel, data.replace(old, new))
        stock = s.read_tree(inst)

        r = s.run_cli(["--payload", self.new_payload(), "install", inst], clock=T1)
        s1 = s.stamp_of(T1)
        expected = header(inst, "INSTALL") + s.MODULE_CREATE
        for rel, n in COUNTS:
            expected += s.patch_line(rel, 3 if rel == AIRCRAFT else n) + s.backup_line(rel, s1)
        expected += s.dlg_patch_line(DLG) + s.backup_line(DLG, s1)
        expected += summary(False, 8, 0, 7, [s.err_not_found(AIRCRAFT, "aircraft_heading_sp")])
        self.assertRun(r, 1, expected)

        after = dict(stock)
        for fe in s.FULL_FILES:
            rel = fe["relativePath"]
            data = stock[disk(rel)]
            for p in fe["patches"]:
                if p["id"] == "aircraft_heading_sp":
                    continue
                anchor = s.literal(p["anchorAfter"], "\n")
                if rel in replacements and replacements[rel][0] == anchor:
                    anchor = replacements[rel][1]
                data = s.insert_after(data, anchor, s.block(p["marker"], s.patch_text(p)))
            after[disk(rel)] = data
            after[s.backup_path(rel, s1)] = stock[disk(rel)]
        after[disk(DLG)] = s.patched_dlg(stock[disk(DLG)], s.FULL_DLG_FILES[0], s.FULL_BLOCK, "\n")
        after[s.backup_path(DLG, s1)] = stock[disk(DLG)]
        after[disk(MODULE)] = s.FULL_MODULE.encode()
        self.assertTree(inst, after)

    # -- the installed module -------------------------------------------------

    def test_module_with_crlf_line_ends_is_up_to_date(self):
        inst = self.new_install()
        pay = ["--payload", self.new_payload()]
        installed = self.install_full(inst, pay)
        crlf_module = s.FULL_MODULE.replace("\n", "\r\n").encode()
        s.write(inst, MODULE, crlf_module)
        installed[disk(MODULE)] = crlf_module

        r = s.run_cli(pay + ["install", inst], clock=T2)
        expected = header(inst, "INSTALL") + s.MODULE_SKIP
        for rel, n in COUNTS:
            expected += s.skip_line(rel, n)
        expected += s.dlg_skip_line(DLG) + summary(True, 0, 8, 0)
        self.assertRun(r, 0, expected)
        self.assertTree(inst, installed)

    def test_changed_module_is_backed_up_and_replaced(self):
        inst = self.new_install()
        pay = ["--payload", self.new_payload()]
        installed = self.install_full(inst, pay)
        edited = s.FULL_MODULE.replace("return true", "return false").encode()
        s.write(inst, MODULE, edited)

        r = s.run_cli(pay + ["check", inst])
        expected_tail = ""
        for rel, n in COUNTS:
            expected_tail += s.skip_line(rel, n)
        expected_tail += s.dlg_skip_line(DLG)
        self.assertRun(r, 0, header(inst, "CHECK") + s.MODULE_UPDATE + expected_tail + summary(True, 1, 7, 0))

        r = s.run_cli(pay + ["install", inst], clock=T2)
        self.assertRun(r, 0, header(inst, "INSTALL") + s.MODULE_UPDATE + s.backup_line(MODULE, s.stamp_of(T2))
                       + expected_tail + summary(True, 1, 7, 1))
        installed[s.backup_path(MODULE, s.stamp_of(T2))] = edited
        self.assertTree(inst, installed)


if __name__ == "__main__":
    s.main()
