#!/usr/bin/env python3
"""Backup names under a pinned clock: the UTC stamp, and the _2, _3 ... names
that keep an earlier backup of the same second from being replaced; and the
backups command: the listing, and pruning with and without --dry-run, on
installs with foreign names, links, FIFOs and hard-linked backups."""

import fcntl
import json
import os
import stat
import time

import e2e_support as s
from e2e_support import AIRCRAFT, DLG, MODULE, SHIP, SHOWID, STATIC, TOOLBAR, VEHICLE, disk, header, summary
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


# ---------------------------------------------------------------------------
# qorvex-patch backups: the listing, and --prune with and without --dry-run.

T1 = "2025-01-31 23:59:59"
T2 = "2025-02-01 08:00:00"
STAMP1 = s.stamp_of(T1)
STAMP2 = s.stamp_of(T2)
CHANGED = s.LUA_FILES + [DLG]
TRY_HINT_READ_ONLY = "the file is read-only; give it write permission (chmod u+w), then retry"


def snapshot(root):
    """Every name under root, without following links or opening FIFOs:
    {path: bytes} for files, None for folders, ("link", target), "fifo"."""
    tree = {}
    for dirpath, dirnames, filenames in os.walk(root):
        rel_dir = os.path.relpath(dirpath, root).replace(os.sep, "/")
        prefix = "" if rel_dir == "." else rel_dir + "/"
        for name in dirnames + filenames:
            full = os.path.join(dirpath, name)
            mode = os.lstat(full).st_mode
            if stat.S_ISLNK(mode):
                tree[prefix + name] = ("link", os.readlink(full))
            elif stat.S_ISDIR(mode):
                tree[prefix + name + "/"] = None
            elif stat.S_ISFIFO(mode):
                tree[prefix + name] = "fifo"
            else:
                with open(full, "rb") as f:
                    tree[prefix + name] = f.read()
    return tree


def folder_of(rel):
    return s.disk(rel).rsplit("/", 1)[0]


def listing_text(inst, files):
    """The listing for [(manifest path, [(backup name, size, 'YYYY-MM-DD HH:MM:SS')])]."""
    text = "Game install directory: %s\n" % inst
    count = 0
    for rel, backups in files:
        if not backups:
            continue
        text += rel + "\n"
        for name, size, time_ in backups:
            text += "  %s  %d bytes  %s UTC\n" % (name, size, time_)
            count += 1
    shown = len([f for f in files if f[1]])
    return text + "%d backups of %d files.\n" % (count, shown)


def prune_text(inst, removals, found, dry_run):
    """The report of --prune for [(manifest path, [(name, same-as name, freed)])]."""
    text = "Game install directory: %s\n" % inst
    verb = "would remove" if dry_run else "removed"
    removed = freed = 0
    for rel, entries in removals:
        text += rel + "\n"
        for name, same_as, bytes_freed in entries:
            text += "  %s %s: same bytes as %s (%d bytes freed)\n" % (verb, name, same_as, bytes_freed)
            removed += 1
            freed += bytes_freed
    if dry_run:
        return text + "Would remove %d of %d backups; %d bytes would be freed.\n" % (removed, found, freed)
    return text + "Removed %d of %d backups; %d bytes freed.\n" % (removed, found, freed)


class BackupsCommand(s.E2ETestCase):

    def three_runs(self):
        """INSTALL, UNINSTALL and INSTALL again, the last two in the same
        second: per changed file the stock copy (T1), the patched copy (T2)
        and the stock copy again (T2, _2); the module's one backup (T2)."""
        inst = self.new_install()
        self.pay = ["--payload", self.new_payload()]
        self.stock = s.read_tree(inst)
        self.patched = installed_files(self.stock, "\n")
        for action, clock in (("install", T1), ("uninstall", T2), ("install", T2)):
            r = s.run_cli(self.pay + [action, inst], clock=clock)
            self.assertEqual(r.rc, 0, r.stdout + r.stderr)
        return inst

    def add_foreign_and_linked(self, inst):
        """Names that look like backups but are not, and hard-linked backups."""
        modules = os.path.join(inst, "MissionEditor", "modules")
        toolbar_stock = self.stock[disk(TOOLBAR)]
        foreign_files = {
            # Near misses of the toolbar's backup names.
            "me_toolbar.lua.qorvex-backup_20250230_000000.bak": toolbar_stock,
            "me_toolbar.lua.qorvex-backup_%s_1.bak" % STAMP2: toolbar_stock,
            "me_toolbar.lua.qorvex-backup_%s_02.bak" % STAMP2: toolbar_stock,
            "me_toolbar.lua.qorvex-backup_%s.BAK" % STAMP2: toolbar_stock,
            "me_toolbar.lua.qorvex-backup_%s.bak.old" % STAMP2: toolbar_stock,
            # The backup of a file the manifest does not name, and a user's own file.
            "me_other.lua.qorvex-backup_%s.bak" % STAMP2: toolbar_stock,
            "my notes.txt": b"keep me\n",
        }
        for name, data in foreign_files.items():
            with open(os.path.join(modules, name), "wb") as f:
                f.write(data)
        # A toolbar backup's name in another folder.
        with open(os.path.join(inst, "MissionEditor", s.backup_name(TOOLBAR, STAMP2, 3)), "wb") as f:
            f.write(toolbar_stock)
        # A link, a folder and a FIFO under backups' names.
        os.symlink(s.backup_name(AIRCRAFT, STAMP1), os.path.join(modules, s.backup_name(AIRCRAFT, STAMP2, 3)))
        os.mkdir(os.path.join(modules, s.backup_name(SHIP, STAMP2, 3)))
        os.mkfifo(os.path.join(modules, s.backup_name(STATIC, STAMP2, 3)))
        # Backups that are second names: of the oldest vehicle backup, and of
        # the live static file. Both go, and free nothing.
        later = "20250202_120000"
        os.link(os.path.join(modules, s.backup_name(VEHICLE, STAMP1)),
                os.path.join(modules, s.backup_name(VEHICLE, later)))
        os.link(os.path.join(inst, disk(STATIC)), os.path.join(modules, s.backup_name(STATIC, later)))
        # As long as the stock showId, one byte different: it stays.
        lookalike = bytearray(self.stock[disk(SHOWID)])
        lookalike[100] ^= 1
        with open(os.path.join(modules, s.backup_name(SHOWID, later)), "wb") as f:
            f.write(bytes(lookalike))
        self.lookalike = bytes(lookalike)
        return later

    def expected_listing(self, later=None):
        files = []
        for rel in CHANGED:
            stock, patched = len(self.stock[disk(rel)]), len(self.patched[disk(rel)])
            backups = [(s.backup_name(rel, STAMP1), stock, "2025-01-31 23:59:59"),
                       (s.backup_name(rel, STAMP2), patched, "2025-02-01 08:00:00"),
                       (s.backup_name(rel, STAMP2, 2), stock, "2025-02-01 08:00:00")]
            if later and rel == VEHICLE:
                backups.append((s.backup_name(rel, later), stock, "2025-02-02 12:00:00"))
            if later and rel == STATIC:
                backups.append((s.backup_name(rel, later), patched, "2025-02-02 12:00:00"))
            if later and rel == SHOWID:
                backups.append((s.backup_name(rel, later), stock, "2025-02-02 12:00:00"))
            files.append((rel, backups))
        files.append((MODULE, [(s.backup_name(MODULE, STAMP2), len(s.FULL_MODULE), "2025-02-01 08:00:00")]))
        return files

    def expected_removals(self, later=None):
        removals = []
        for rel in CHANGED:
            entries = [(s.backup_name(rel, STAMP2), s.basename(rel), len(self.patched[disk(rel)])),
                       (s.backup_name(rel, STAMP2, 2), s.backup_name(rel, STAMP1), len(self.stock[disk(rel)]))]
            if later and rel == VEHICLE:
                entries.append((s.backup_name(rel, later), s.backup_name(rel, STAMP1), 0))
            if later and rel == STATIC:
                entries.append((s.backup_name(rel, later), s.basename(rel), 0))
            removals.append((rel, entries))
        return removals

    def test_list_then_prune_dry_and_for_real(self):
        inst = self.three_runs()
        later = self.add_foreign_and_linked(inst)
        before = snapshot(inst)
        found = 7 * 3 + 1 + 3

        r = s.run_cli(self.pay + ["backups", inst])
        self.assertRun(r, 0, listing_text(inst, self.expected_listing(later)))

        removals = self.expected_removals(later)
        r = s.run_cli(self.pay + ["backups", "--prune", "--dry-run", inst])
        self.assertRun(r, 0, prune_text(inst, removals, found, dry_run=True))
        self.assertEqual(snapshot(inst), before)

        r = s.run_cli(self.pay + ["backups", "--prune", inst])
        self.assertRun(r, 0, prune_text(inst, removals, found, dry_run=False))
        # Exactly the names it reported are gone; everything unique, foreign or
        # linked elsewhere is there as it was.
        expected = dict(before)
        for rel, entries in removals:
            for name, _, _ in entries:
                del expected[folder_of(rel) + "/" + name]
        self.assertEqual(snapshot(inst), expected)
        for rel in CHANGED:
            self.assertEqual(expected[s.backup_path(rel, STAMP1)], self.stock[disk(rel)])
        self.assertEqual(expected[disk(STATIC)], self.patched[disk(STATIC)])
        self.assertEqual(expected[s.backup_path(SHOWID, later)], self.lookalike)
        # The space freed is what the disk got back: the linked names freed nothing.
        freed = sum(len(self.stock[disk(rel)]) + len(self.patched[disk(rel)]) for rel in CHANGED)
        self.assertIn(("Removed 16 of 25 backups; %d bytes freed.\n" % freed).encode(), r.stdout)
        self.assertEqual(os.stat(os.path.join(inst, s.backup_path(VEHICLE, STAMP1))).st_nlink, 1)

        # What is left has nothing to remove, and lists as the oldest copies.
        r = s.run_cli(self.pay + ["backups", "--prune", inst])
        self.assertRun(r, 0, "Game install directory: %s\nRemoved 0 of 9 backups; 0 bytes freed.\n" % inst)
        kept = [(rel, [b for b in backups if b[0] == s.backup_name(rel, STAMP1)
                       or (rel == SHOWID and b[0] == s.backup_name(rel, later)) or rel == MODULE])
                for rel, backups in self.expected_listing(later)]
        r = s.run_cli(self.pay + ["backups", inst])
        self.assertRun(r, 0, listing_text(inst, kept))

    def test_json(self):
        inst = self.three_runs()
        r = s.run_cli(self.pay + ["backups", "--json", inst])
        self.assertEqual((r.rc, r.stderr), (0, b""))
        self.assertTrue(r.stdout.endswith(b"}\n") and r.stdout.count(b"\n") == 1, r.stdout)
        files = []
        for rel, backups in self.expected_listing():
            files.append({"path": rel, "backups": [
                {"name": name, "path": rel.rsplit("\\", 1)[0] + "\\" + name, "size": size,
                 "time": time_.replace(" ", "T") + "Z"} for name, size, time_ in backups]})
        self.assertEqual(json.loads(r.stdout), {"installDir": inst, "fatal": None, "files": files})

        r = s.run_cli(self.pay + ["backups", "--prune", "--dry-run", "--json", inst])
        self.assertEqual((r.rc, r.stderr), (0, b""))
        removed = []
        for rel, entries in self.expected_removals():
            for name, same_as, freed in entries:
                folder = rel.rsplit("\\", 1)[0] + "\\"
                size = len((self.patched if name == s.backup_name(rel, STAMP2) else self.stock)[disk(rel)])
                removed.append({"file": rel, "name": name, "path": folder + name, "size": size,
                                "sameAs": folder + same_as, "freedBytes": freed})
        self.assertEqual(json.loads(r.stdout), {
            "installDir": inst, "dryRun": True, "fatal": None, "backupsFound": 22, "removed": removed,
            "bytesFreed": sum(e["freedBytes"] for e in removed), "problems": []})

    def test_a_read_only_duplicate_stays_and_is_named(self):
        inst = self.three_runs()
        held = s.backup_path(TOOLBAR, STAMP2, 2)
        os.chmod(os.path.join(inst, held), 0o444)
        removals = self.expected_removals()
        removals[0] = (TOOLBAR, removals[0][1][:1])
        stderr = "qorvex-patch: %s: AccessDenied: %s\n" % (
            TOOLBAR.rsplit("\\", 1)[0] + "\\" + s.backup_name(TOOLBAR, STAMP2, 2), TRY_HINT_READ_ONLY)
        before = snapshot(inst)
        for dry_run in (True, False):
            with self.subTest(dry_run=dry_run):
                r = s.run_cli(self.pay + ["backups", "--prune"] + (["--dry-run"] if dry_run else []) + [inst])
                self.assertRun(r, 1, prune_text(inst, removals, 22, dry_run) + "1 backup that could go stayed.\n",
                               stderr)
        self.assertEqual(snapshot(inst)[held], before[held])

    def test_a_run_under_way_is_waited_for_then_nothing_is_removed(self):
        inst = self.three_runs()
        before = snapshot(inst)
        fd = os.open(inst, os.O_RDONLY | os.O_DIRECTORY)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX)
            for args in (["backups"], ["backups", "--prune"]):
                with self.subTest(args=args):
                    started = time.monotonic()
                    r = s.run_cli(self.pay + args + [inst])
                    waited = time.monotonic() - started
                    self.assertRun(r, 2, "", "qorvex-patch: %s: InstallBusy: another setup run is changing "
                                   "this game install; wait until it has finished, then retry\n" % inst)
                    self.assertGreater(waited, 4)
        finally:
            os.close(fd)
        self.assertEqual(snapshot(inst), before)

    def test_an_install_without_backups(self):
        inst = self.new_install()
        r = s.run_cli(["backups", inst])
        self.assertRun(r, 0, "Game install directory: %s\nNo backups.\n" % inst)
        r = s.run_cli(["backups", "--prune", inst])
        self.assertRun(r, 0, "Game install directory: %s\nRemoved 0 of 0 backups; 0 bytes freed.\n" % inst)


if __name__ == "__main__":
    s.main()
