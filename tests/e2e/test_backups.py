#!/usr/bin/env python3
"""Backup names under a pinned clock: the UTC stamp, and the _2, _3 ... names
that keep an earlier backup of the same second from being replaced."""

import e2e_support as s
from e2e_support import DLG, MODULE, disk, header, summary
from test_install_cycle import COUNTS, install_log, installed_files, uninstall_log


class Backups(s.E2ETestCase):

    def test_stamp_is_utc_date_and_time(self):
        for clock in ("2025-01-31 23:59:59", "2024-02-29 00:00:07", "2000-12-31 09:05:00"):
            with self.subTest(clock=clock):
                inst = self.new_install(name="install-" + s.stamp_of(clock))
                stock = s.read_tree(inst)
                r = s.run_cli(["--payload", self.new_payload(), "install", inst], clock=clock)
                stamp = s.stamp_of(clock)
                self.assertEqual(len(stamp), 15)
                self.assertRun(r, 0, install_log(inst, "INSTALL", stamp))
                expected = dict(stock)
                expected.update(installed_files(stock, "\n"))
                for rel in s.LUA_FILES + [DLG]:
                    expected[s.backup_path(rel, stamp)] = stock[disk(rel)]
                self.assertTree(inst, expected)

    def test_backups_in_the_same_second_never_replace_each_other(self):
        clock = "2025-01-31 23:59:59"
        stamp = s.stamp_of(clock)
        inst = self.new_install()
        pay = ["--payload", self.new_payload()]
        stock = s.read_tree(inst)
        patched = installed_files(stock, "\n")

        r = s.run_cli(pay + ["install", inst], clock=clock)
        self.assertRun(r, 0, install_log(inst, "INSTALL", stamp))
        r = s.run_cli(pay + ["uninstall", inst], clock=clock)
        self.assertRun(r, 0, uninstall_log(inst, "UNINSTALL", stamp, backup_n=2))

        # Third run in the same second: Lua and dialog backups take _3; the
        # module is created again, without a backup.
        r = s.run_cli(pay + ["install", inst], clock=clock)
        expected = header(inst, "INSTALL") + s.MODULE_CREATE
        for rel, n in COUNTS:
            expected += s.patch_line(rel, n) + s.backup_line(rel, stamp, 3)
        expected += s.dlg_patch_line(DLG) + s.backup_line(DLG, stamp, 3) + summary(True, 8, 0, 7)
        self.assertRun(r, 0, expected)

        # Fourth: _4 for the stock files, _2 for the module's second backup.
        r = s.run_cli(pay + ["uninstall", inst], clock=clock)
        expected = header(inst, "UNINSTALL")
        for rel, n in COUNTS:
            expected += s.uninstall_line(rel, n) + s.backup_line(rel, stamp, 4)
        expected += (s.dlg_uninstall_line(DLG) + s.backup_line(DLG, stamp, 4)
                     + s.MODULE_UNINSTALL + s.backup_line(MODULE, stamp, 2) + summary(True, 8, 0, 8))
        self.assertRun(r, 0, expected)

        tree = dict(stock)
        for rel in s.LUA_FILES + [DLG]:
            tree[s.backup_path(rel, stamp, 1)] = stock[disk(rel)]
            tree[s.backup_path(rel, stamp, 2)] = patched[disk(rel)]
            tree[s.backup_path(rel, stamp, 3)] = stock[disk(rel)]
            tree[s.backup_path(rel, stamp, 4)] = patched[disk(rel)]
        tree[s.backup_path(MODULE, stamp, 1)] = s.FULL_MODULE.encode()
        tree[s.backup_path(MODULE, stamp, 2)] = s.FULL_MODULE.encode()
        self.assertTree(inst, tree)

    def test_existing_file_of_the_backup_name_is_kept(self):
        clock = "2025-06-01 10:00:00"
        stamp = s.stamp_of(clock)
        inst = self.new_install()
        taken = s.backup_path(s.TOOLBAR, stamp)
        with open(inst + "/" + taken, "wb") as f:
            f.write(b"someone else's file\n")
        stock = s.read_tree(inst)

        r = s.run_cli(["--payload", self.new_payload(), "install", inst], clock=clock)
        expected = header(inst, "INSTALL") + s.MODULE_CREATE
        for rel, n in COUNTS:
            expected += s.patch_line(rel, n) + s.backup_line(rel, stamp, 2 if rel == s.TOOLBAR else 1)
        expected += s.dlg_patch_line(DLG) + s.backup_line(DLG, stamp) + summary(True, 8, 0, 7)
        self.assertRun(r, 0, expected)
        tree = dict(stock)
        tree.update(installed_files(stock, "\n"))
        for rel in s.LUA_FILES + [DLG]:
            tree[s.backup_path(rel, stamp, 2 if rel == s.TOOLBAR else 1)] = stock[disk(rel)]
        self.assertEqual(tree[taken], b"someone else's file\n")
        self.assertTree(inst, tree)


if __name__ == "__main__":
    s.main()
