#!/usr/bin/env python3
"""CHECK, INSTALL, a second INSTALL, UNINSTALL (dry and real) and UNINSTALL on a
clean tree, on generated installs with LF and with CR LF line ends: whole logs,
exit codes and every byte of the install tree after each run."""

import os

import e2e_support as s
from e2e_support import (AIRCRAFT, DLG, MODULE, SHIP, SHOWID, STATIC, TOOLBAR, VEHICLE,
                         disk, header, summary)

COUNTS = [(TOOLBAR, 5), (AIRCRAFT, 4), (SHIP, 4), (STATIC, 2), (VEHICLE, 5), (SHOWID, 1)]


def install_log(inst, action, stamp=None):
    """The log of an install pass over an unpatched tree; stamp None for CHECK."""
    text = s.header(inst, action) + s.MODULE_CREATE
    for rel, n in COUNTS:
        text += s.patch_line(rel, n)
        if stamp:
            text += s.backup_line(rel, stamp)
    text += s.dlg_patch_line(DLG)
    if stamp:
        text += s.backup_line(DLG, stamp)
    return text + summary(True, 8, 0, 7 if stamp else 0)


def reinstall_log(inst, action):
    text = header(inst, action) + s.MODULE_SKIP
    for rel, n in COUNTS:
        text += s.skip_line(rel, n)
    return text + s.dlg_skip_line(DLG) + summary(True, 0, 8, 0)


def uninstall_log(inst, action, stamp=None, backup_n=1):
    text = header(inst, action)
    for rel, n in COUNTS:
        text += s.uninstall_line(rel, n)
        if stamp:
            text += s.backup_line(rel, stamp, backup_n)
    text += s.dlg_uninstall_line(DLG)
    if stamp:
        text += s.backup_line(DLG, stamp, backup_n)
    text += s.MODULE_UNINSTALL
    if stamp:
        text += s.backup_line(MODULE, stamp)
    return text + summary(True, 8, 0, 8 if stamp else 0)


def installed_files(stock, eol, module=s.FULL_MODULE, block_text=s.FULL_BLOCK):
    """{path: bytes} of the patched files and the module, without backups."""
    out = {}
    for fe in s.FULL_FILES:
        rel = fe["relativePath"]
        out[disk(rel)] = s.patched_lua(stock[disk(rel)], fe, eol)
    out[disk(DLG)] = s.patched_dlg(stock[disk(DLG)], s.FULL_DLG_FILES[0], block_text, eol)
    out[disk(MODULE)] = module.encode("utf-8")
    return out


class InstallCycle(s.E2ETestCase):

    def cycle(self, crlf, cr_only=False):
        eol = "\r\n" if crlf else "\n"
        inst = self.new_install(crlf=crlf)
        if cr_only:
            eol = "\r"
            for name, data in s.read_tree(inst).items():
                if data is not None:
                    s.write(inst, name, data.replace(b"\n", b"\r"))
        pay = ["--payload", self.new_payload()]
        stock = s.read_tree(inst)

        # CHECK reports every insertion and touches nothing.
        r = s.run_cli(pay + ["check", inst])
        self.assertRun(r, 0, install_log(inst, "CHECK"))
        self.assertTree(inst, stock)

        # INSTALL writes the module, every block and one backup per changed file.
        t1 = "2025-01-31 23:59:59"
        s1 = s.stamp_of(t1)
        r = s.run_cli(pay + ["install", inst], clock=t1)
        self.assertRun(r, 0, install_log(inst, "INSTALL", s1))
        patched = installed_files(stock, eol)
        installed = dict(stock)
        installed.update(patched)
        for rel in s.LUA_FILES + [DLG]:
            installed[s.backup_path(rel, s1)] = stock[disk(rel)]
        self.assertTree(inst, installed)

        # A second INSTALL finds everything in place and writes nothing.
        r = s.run_cli(pay + ["install", inst], clock="2025-02-01 00:00:00")
        self.assertRun(r, 0, reinstall_log(inst, "INSTALL"))
        self.assertTree(inst, installed)

        # CHECK on the installed tree says the same.
        r = s.run_cli(pay + ["check", inst])
        self.assertRun(r, 0, reinstall_log(inst, "CHECK"))
        self.assertTree(inst, installed)

        # An uninstall dry run reports every removal and touches nothing.
        r = s.run_cli(pay + ["--dry-run", "uninstall", inst])
        self.assertRun(r, 0, uninstall_log(inst, "UNINSTALL (dry run)"))
        self.assertTree(inst, installed)

        # UNINSTALL gives every Lua and dialog file back byte for byte and
        # removes the module; each changed or deleted file is backed up first.
        t2 = "2025-03-01 12:00:00"
        s2 = s.stamp_of(t2)
        r = s.run_cli(pay + ["uninstall", inst], clock=t2)
        self.assertRun(r, 0, uninstall_log(inst, "UNINSTALL", s2))
        uninstalled = dict(installed)
        del uninstalled[disk(MODULE)]
        for rel in s.LUA_FILES + [DLG]:
            uninstalled[disk(rel)] = stock[disk(rel)]
            uninstalled[s.backup_path(rel, s2)] = patched[disk(rel)]
        uninstalled[s.backup_path(MODULE, s2)] = s.FULL_MODULE.encode()
        self.assertTree(inst, uninstalled)

        # A second UNINSTALL finds nothing to remove.
        r = s.run_cli(pay + ["uninstall", inst], clock="2025-03-01 12:00:01")
        self.assertRun(r, 0, header(inst, "UNINSTALL") + summary(True, 0, 8, 0))
        self.assertTree(inst, uninstalled)

    def test_cycle_lf(self):
        self.cycle(crlf=False)

    def test_cycle_crlf(self):
        self.cycle(crlf=True)

    def test_cycle_cr(self):
        self.cycle(crlf=False, cr_only=True)

    def test_uninstall_on_clean_tree(self):
        inst = self.new_install()
        stock = s.read_tree(inst)
        r = s.run_cli(["--payload", self.new_payload(), "uninstall", inst], clock="2025-01-31 23:59:59")
        self.assertRun(r, 0, header(inst, "UNINSTALL") + summary(True, 0, 8, 0))
        self.assertTree(inst, stock)

    def test_uninstall_dry_run_on_clean_tree(self):
        inst = self.new_install(crlf=True)
        stock = s.read_tree(inst)
        r = s.run_cli(["--payload", self.new_payload(), "--dry-run", "uninstall", inst])
        self.assertRun(r, 0, header(inst, "UNINSTALL (dry run)") + summary(True, 0, 8, 0))
        self.assertTree(inst, stock)

    def test_install_dry_run_is_check(self):
        inst = self.new_install()
        stock = s.read_tree(inst)
        pay = ["--payload", self.new_payload()]
        r = s.run_cli(pay + ["--dry-run", "install", inst])
        self.assertRun(r, 0, install_log(inst, "CHECK"))
        self.assertTree(inst, stock)

    def test_install_without_modules_folder(self):
        # Only the MissionEditor folder: the module is written (its folder is
        # made), every stock file is reported missing.
        inst = os.path.join(self.tmp, "bare")
        os.makedirs(os.path.join(inst, "MissionEditor"))
        pay = ["--payload", self.new_payload()]
        t = "2025-01-31 23:59:59"
        r = s.run_cli(pay + ["install", inst], clock=t)
        errors = [s.err_missing(rel, n) for rel, n in COUNTS] + [s.err_dlg_missing(DLG)]
        self.assertRun(r, 1, header(inst, "INSTALL") + s.MODULE_CREATE + summary(False, 1, 0, 0, errors))
        self.assertTree(inst, {
            "MissionEditor/": None,
            "MissionEditor/modules/": None,
            disk(MODULE): s.FULL_MODULE.encode(),
        })

        # CHECK on the same tree: the module is up to date, the rest missing.
        r = s.run_cli(pay + ["check", inst])
        self.assertRun(r, 1, header(inst, "CHECK") + s.MODULE_SKIP + summary(False, 0, 1, 0, errors))

        # UNINSTALL passes over the missing files silently and removes the module.
        r = s.run_cli(pay + ["uninstall", inst], clock=t)
        self.assertRun(r, 0, header(inst, "UNINSTALL") + s.MODULE_UNINSTALL
                       + s.backup_line(MODULE, s.stamp_of(t)) + summary(True, 1, 0, 1))
        self.assertTree(inst, {
            "MissionEditor/": None,
            "MissionEditor/modules/": None,
            s.backup_path(MODULE, s.stamp_of(t)): s.FULL_MODULE.encode(),
        })

    def test_check_on_bare_tree_creates_nothing(self):
        inst = os.path.join(self.tmp, "bare")
        os.makedirs(os.path.join(inst, "MissionEditor"))
        r = s.run_cli(["--payload", self.new_payload(), "check", inst])
        errors = [s.err_missing(rel, n) for rel, n in COUNTS] + [s.err_dlg_missing(DLG)]
        self.assertRun(r, 1, header(inst, "CHECK") + s.MODULE_CREATE + summary(False, 1, 0, 0, errors))
        self.assertTree(inst, {"MissionEditor/": None})


if __name__ == "__main__":
    s.main()
