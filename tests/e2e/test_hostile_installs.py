#!/usr/bin/env python3
"""Installs that a real machine can hold and that must not cost a byte: links
that lead out of the install, FIFOs and devices where files should be, private
and read-only files, files of another owner, a second run at the same time,
and payload folders with odd things in them. Each case checks the exit
status, the lines that name the problem and every byte of what is left."""

import fcntl
import os
import shutil
import stat
import subprocess
import threading
import time

import e2e_support as s
from e2e_support import DLG, MODULE, SHIP, TOOLBAR, disk, fatal, header

T1 = "2025-01-31 23:59:59"
NOBODY = 65534
SECRET = b"password = 'hunter2'\n"


def tree_without_backups(root):
    return {k: v for k, v in s.read_tree(root).items() if ".qorvex-backup_" not in k}


def regular_files(root):
    """Every regular file under root, never reading through a link."""
    tree = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in filenames:
            path = os.path.join(dirpath, name)
            if stat.S_ISREG(os.lstat(path).st_mode):
                with open(path, "rb") as f:
                    tree[os.path.relpath(path, root)] = f.read()
    return tree


class HostileCase(s.E2ETestCase):

    def setUp(self):
        super().setUp()
        self.outside = os.path.join(self.tmp, "outside")
        os.makedirs(self.outside)

    def installed_tree(self):
        """The game files after a complete INSTALL of the carried payload."""
        if not hasattr(HostileCase, "_installed"):
            ref = self.new_install(name="reference")
            r = s.run_cli(["install", ref], clock=T1)
            self.assertEqual(r.rc, 0, r.stdout)
            HostileCase._installed = tree_without_backups(ref)
        return HostileCase._installed

    def assertFatal(self, r, action, inst, path, error, before="", hint=None):
        """CHECK: exit 2, the log up to the FATAL line, stderr naming `path`."""
        self.assertEqual(r.rc, 2, r.stdout)
        self.assertTrue(r.stdout.decode().startswith(s.printed(header(inst, action) + before)), r.stdout)
        self.assertTrue(r.stdout.decode().endswith(s.printed(fatal(error))), r.stdout)
        self.assertEqual(r.stderr.decode(), s.problem_line(path, error, hint))

    def assertStopped(self, r, path, error, hint=None):
        """INSTALL, UNINSTALL: found before the run starts; nothing runs."""
        self.assertEqual(r.rc, 2, r.stderr)
        self.assertEqual(r.stdout, b"")
        self.assertEqual(r.stderr.decode(), s.problem_line(path, error, hint))


class LinksOutOfTheInstall(HostileCase):
    """Nothing is read through, written through or copied through a link that
    leads out of the install."""

    def move_out(self, inst, rel_folder):
        """Moves a folder of the install outside and leaves a link to it."""
        target = os.path.join(self.outside, os.path.basename(rel_folder))
        os.rename(os.path.join(inst, rel_folder), target)
        os.symlink(target, os.path.join(inst, rel_folder))
        return target

    def test_a_linked_folder_on_the_way_is_refused(self):
        # Each run meets the link at the first file beneath it that it reads.
        cases = (("MissionEditor/modules", {"check": MODULE, "install": MODULE, "uninstall": TOOLBAR}),
                 ("MissionEditor/modules/dialogs", {"check": DLG, "install": DLG, "uninstall": DLG}))
        for folder, first in cases:
            with self.subTest(folder=folder):
                inst = self.new_install(name="install-" + folder.replace("/", "-"))
                target = self.move_out(inst, folder)
                outside_before = s.read_tree(target)
                inside_before = regular_files(inst)
                for action in ("check", "install", "uninstall"):
                    r = s.run_cli([action, inst], clock=T1)
                    if action == "check":
                        self.assertEqual(r.rc, 2, r.stdout)
                        self.assertTrue(r.stdout.decode().endswith(s.printed(fatal("LinkRefused"))), r.stdout)
                        self.assertEqual(r.stderr.decode(), s.problem_line(first[action], "LinkRefused"))
                    else:
                        self.assertStopped(r, first[action], "LinkRefused")
                    self.assertEqual(s.read_tree(target), outside_before, action)
                    self.assertEqual(regular_files(inst), inside_before, action)

    def test_a_linked_module_never_copies_its_target(self):
        # A link planted where the module goes: its private target must not be
        # read, backed up (world-readable, inside the install) or replaced.
        for target in ("private", "/dev/zero"):
            with self.subTest(target=target):
                inst = self.new_install(name="install-" + target.replace("/", "-"))
                if target == "private":
                    target = os.path.join(self.outside, "private.lua")
                    with open(target, "wb") as f:
                        f.write(SECRET)
                    os.chmod(target, 0o600)
                os.symlink(target, os.path.join(inst, disk(MODULE)))
                before = regular_files(inst)
                for action in ("install", "uninstall"):
                    r = s.run_cli([action, inst], clock=T1, timeout=30)
                    self.assertStopped(r, MODULE, "LinkRefused")
                    self.assertTrue(os.path.islink(os.path.join(inst, disk(MODULE))))
                    self.assertEqual(regular_files(inst), before)
                if target != "/dev/zero":
                    with open(target, "rb") as f:
                        self.assertEqual(f.read(), SECRET)

    def test_a_linked_stock_file_is_refused(self):
        inst = self.new_install()
        target = os.path.join(self.outside, "me_toolbar.lua")
        os.rename(os.path.join(inst, disk(TOOLBAR)), target)
        os.symlink(target, os.path.join(inst, disk(TOOLBAR)))
        with open(target, "rb") as f:
            stock = f.read()
        before = regular_files(inst)
        r = s.run_cli(["check", inst])
        self.assertFatal(r, "CHECK", inst, TOOLBAR, "LinkRefused", s.MODULE_CREATE)
        r = s.run_cli(["install", inst], clock=T1)
        self.assertStopped(r, TOOLBAR, "LinkRefused")
        with open(target, "rb") as f:
            self.assertEqual(f.read(), stock)
        self.assertEqual(os.listdir(self.outside), ["me_toolbar.lua"])
        self.assertEqual(regular_files(inst), before)

    def test_a_link_that_stays_inside_is_followed(self):
        # The dialogs folder moved within the install and linked back.
        inst = self.new_install()
        clean = s.read_tree(inst)
        modules = os.path.join(inst, "MissionEditor", "modules")
        os.rename(os.path.join(modules, "dialogs"), os.path.join(inst, "dialogs-real"))
        os.symlink("../../dialogs-real", os.path.join(modules, "dialogs"))
        r = s.run_cli(["install", inst], clock=T1)
        self.assertEqual(r.rc, 0, r.stdout + r.stderr)
        installed = self.installed_tree()
        with open(os.path.join(inst, "dialogs-real", "me_toolbar.dlg"), "rb") as f:
            self.assertEqual(f.read(), installed[disk(DLG)])
        r = s.run_cli(["uninstall", inst], clock=T1)
        self.assertEqual(r.rc, 0, r.stdout + r.stderr)
        with open(os.path.join(inst, "dialogs-real", "me_toolbar.dlg"), "rb") as f:
            self.assertEqual(f.read(), clean[disk(DLG)])


class OddFileTypes(HostileCase):
    """A FIFO where a file should be never blocks a run."""

    def test_fifo_in_place_of_a_stock_file_or_the_module(self):
        for rel, install_before in ((TOOLBAR, s.MODULE_CREATE), (MODULE, "")):
            with self.subTest(path=rel):
                inst = self.new_install(name="install-" + s.basename(rel))
                path = os.path.join(inst, disk(rel))
                if os.path.exists(path):
                    os.remove(path)
                os.mkfifo(path)
                started = time.monotonic()
                r = s.run_cli(["check", inst], timeout=20)
                self.assertFatal(r, "CHECK", inst, rel, "NotAFile", install_before)
                for action in ("install", "uninstall"):
                    r = s.run_cli([action, inst], clock=T1, timeout=20)
                    self.assertStopped(r, rel, "NotAFile")
                self.assertLess(time.monotonic() - started, 10)
                self.assertTrue(stat.S_ISFIFO(os.lstat(path).st_mode))


class PermissionsAndOwners(HostileCase):

    def test_private_file_and_its_backup_keep_their_mode(self):
        inst = self.new_install()
        os.chmod(os.path.join(inst, disk(TOOLBAR)), 0o600)
        r = s.run_cli(["install", inst], clock=T1)
        self.assertEqual(r.rc, 0, r.stdout)
        self.assertEqual(stat.S_IMODE(os.stat(os.path.join(inst, disk(TOOLBAR))).st_mode), 0o600)
        backup = os.path.join(inst, s.backup_path(TOOLBAR, s.stamp_of(T1)))
        self.assertEqual(stat.S_IMODE(os.stat(backup).st_mode), 0o600)

    def test_owner_and_group_are_kept_when_root_runs(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to give files to another user")
        inst = self.new_install()
        for dirpath, dirnames, filenames in os.walk(inst):
            for name in dirnames + filenames:
                os.chown(os.path.join(dirpath, name), NOBODY, NOBODY)
        for action in ("install", "uninstall"):
            r = s.run_cli([action, inst], clock=T1)
            self.assertEqual(r.rc, 0, r.stdout)
            for dirpath, dirnames, filenames in os.walk(inst):
                for name in dirnames + filenames:
                    info = os.lstat(os.path.join(dirpath, name))
                    self.assertEqual((info.st_uid, info.st_gid), (NOBODY, NOBODY), (action, name))

    def test_a_read_only_file_is_refused_never_replaced(self):
        inst = self.new_install()
        path = os.path.join(inst, disk(TOOLBAR))
        os.chmod(path, 0o444)
        before = s.read_tree(inst)
        r = s.run_cli(["install", inst], clock=T1)
        self.assertStopped(r, TOOLBAR, "AccessDenied", "read-only")
        self.assertEqual(s.read_tree(inst), before)
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o444)


class UserWithoutRights(HostileCase):
    """A player who may not write the install: every run that would change a
    file is refused before it starts, naming each file with what to do."""

    def setUp(self):
        super().setUp()
        if os.geteuid() != 0 or shutil.which("runuser") is None:
            self.skipTest("needs root and runuser to run as a user without rights")
        os.chmod(self.tmp, 0o755)

    def run_as_nobody(self, args):
        p = subprocess.run(["runuser", "-u", "nobody", "--", s.CLI] + args, capture_output=True, timeout=60)
        return s.RunResult(p.returncode, p.stdout, p.stderr)

    def test_an_install_the_user_may_not_write(self):
        inst = self.new_install()
        os.chmod(inst, 0o755)
        before = s.read_tree(inst)
        all_files = [MODULE] + s.LUA_FILES + [DLG]
        problems = "".join(s.problem_line(rel, "AccessDenied") for rel in all_files)
        r = self.run_as_nobody(["install", inst])
        self.assertRun(r, 2, b"", problems)
        r = self.run_as_nobody(["check", inst])
        self.assertEqual(r.rc, 1)
        self.assertTrue(r.stdout.decode().startswith(s.printed(header(inst, "CHECK") + s.MODULE_CREATE)), r.stdout)
        self.assertEqual(r.stderr.decode(), problems)
        self.assertEqual(s.read_tree(inst), before)

    def test_one_read_only_file(self):
        inst = self.new_install()
        for dirpath, dirnames, filenames in os.walk(inst):
            for name in dirnames + filenames:
                os.chown(os.path.join(dirpath, name), NOBODY, NOBODY)
        os.chmod(os.path.join(inst, disk(SHIP)), 0o444)
        os.chmod(inst, 0o755)
        before = s.read_tree(inst)
        problem = s.problem_line(SHIP, "AccessDenied", "read-only")
        r = self.run_as_nobody(["install", inst])
        self.assertRun(r, 2, b"", problem)
        self.assertEqual(s.read_tree(inst), before)
        r = self.run_as_nobody(["check", inst])
        self.assertEqual((r.rc, r.stderr.decode()), (1, problem))
        os.chmod(os.path.join(inst, disk(SHIP)), 0o644)
        r = self.run_as_nobody(["install", inst])
        self.assertEqual((r.rc, r.stderr), (0, b""))

    def test_a_game_folder_the_user_may_not_open(self):
        inst = self.new_install()
        os.chmod(inst, 0o755)
        os.chmod(os.path.join(inst, "MissionEditor"), 0o700)
        r = self.run_as_nobody(["install", inst])
        self.assertRun(r, 64, b"", s.REJECTED % "MissionEditorFolderNotFound"
                       + "qorvex-patch: %s/MissionEditor may not be opened by this user; fix its permissions, "
                         "or run as the user who owns the game files.\n" % inst)


class OneRunAtATime(HostileCase):

    def test_a_held_install_is_waited_for_then_refused(self):
        inst = self.new_install()
        before = s.read_tree(inst)
        fd = os.open(inst, os.O_RDONLY | os.O_DIRECTORY)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX)
            started = time.monotonic()
            r = s.run_cli(["install", inst], clock=T1)
            waited = time.monotonic() - started
        finally:
            os.close(fd)
        self.assertEqual(r.rc, 2)
        self.assertEqual(r.stdout.decode(), s.printed(header(inst, "INSTALL") + fatal("InstallBusy")))
        self.assertEqual(r.stderr.decode(), "qorvex-patch: %s: InstallBusy: another setup run is changing "
                         "this game install; wait until it has finished, then retry\n" % inst)
        self.assertGreater(waited, 4)
        self.assertLess(waited, 8)
        self.assertEqual(s.read_tree(inst), before)

    def test_install_and_uninstall_started_together_never_mix(self):
        clean = s.generated_install()
        installed = self.installed_tree()
        for round_ in range(8):
            inst = self.new_install(name="install%d" % round_)
            results = {}

            def go(action):
                results[action] = subprocess.run([s.CLI, action, inst], capture_output=True)

            threads = [threading.Thread(target=go, args=(a,)) for a in ("install", "uninstall")]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            for action, p in results.items():
                self.assertEqual(p.returncode, 0, (action, p.stdout, p.stderr))
            after = tree_without_backups(inst)
            self.assertTrue(after in (s.read_tree(clean), installed), "round %d mixed the two runs" % round_)


class PayloadFolderFiles(HostileCase):
    """A payload file that is there but is no regular file is named, and
    nothing runs; only an absent file falls back to the carried text."""

    def test_odd_files_of_a_payload_name(self):
        inst = self.new_install()
        before = s.read_tree(inst)
        kinds = [("folder", os.mkdir, "IsDir"),
                 ("fifo", os.mkfifo, "NotAFile"),
                 ("dangling link", lambda p: os.symlink(os.path.join(self.tmp, "gone"), p), "LinkRefused")]
        if os.geteuid() == 0:
            kinds.append(("device", lambda p: os.mknod(p, 0o600 | stat.S_IFCHR, os.makedev(1, 3)), "NotAFile"))
        for name in ("manifest.json", "me_qorvex_undo.lua", "pQORVEX_block.txt"):
            for kind, make, error in kinds:
                with self.subTest(name=name, kind=kind):
                    payload = os.path.join(self.tmp, "payload-%s-%s" % (name, kind.replace(" ", "-")))
                    os.makedirs(payload)
                    make(os.path.join(payload, name))
                    r = s.run_cli(["--payload", payload, "install", inst], timeout=20)
                    self.assertEqual(r.rc, 64)
                    self.assertEqual(r.stdout, b"")
                    self.assertEqual(r.stderr.decode(), "qorvex-patch: %s/%s: %s\n" % (payload, name, error))
                    self.assertEqual(s.read_tree(inst), before)


class ManifestReaderSpeed(HostileCase):

    def test_many_unknown_keys_are_read_in_linear_time(self):
        manifest = s.full_manifest()
        text = s.json.dumps(manifest)
        unknown = ", ".join('"unknown%d": %d' % (i, i) for i in range(300000))
        text = "{" + unknown + ", " + text[1:]
        payload = self.new_payload(manifest_text=text)
        inst = self.new_install()
        started = time.monotonic()
        r = s.run_cli(["--payload", payload, "check", inst])
        elapsed = time.monotonic() - started
        self.assertEqual(r.rc, 0, r.stdout)
        # A quadratic check takes over a minute here; the reader alone is timed
        # against its one second in the engine's tests, where a busy machine
        # does not blur it.
        self.assertLess(elapsed, 10.0)


if __name__ == "__main__":
    s.main()
