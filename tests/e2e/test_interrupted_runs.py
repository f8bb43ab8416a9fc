#!/usr/bin/env python3
"""Runs cut short the way real machines cut them: the process killed with
SIGKILL, and the power cut (an ext4 image on a loop device shut down with
EXT4_IOC_SHUTDOWN and no log flush, then mounted again so that only what had
reached the disk is left). Each INSTALL and UNINSTALL is cut at many random
moments; after each cut every game file must hold its old bytes or its whole
new bytes, every backup that exists must be a complete copy of what its file
held, the module must be absent or whole, and a second run must finish the
job exactly, leaving no temporary file behind.

The power cuts need root and loop devices (CI has both); without them that
part is skipped with a message. Set QORVEX_CUTS to change the number of cuts
per action (default 40)."""

import fcntl
import os
import random
import shutil
import struct
import subprocess
import tempfile
import time
import unittest

import e2e_support as s

CUTS = int(os.environ.get("QORVEX_CUTS", "40"))
EXT4_IOC_SHUTDOWN = 0x8004587D  # _IOR('X', 125, __u32)
EXT4_GOING_FLAGS_NOLOGFLUSH = 2
TEMP_INFIX = ".qorvex-tmp-"
BACKUP_INFIX = ".qorvex-backup_"


def game_files(tree):
    return {k: v for k, v in tree.items() if BACKUP_INFIX not in k and TEMP_INFIX not in k}


def source_of(backup):
    return backup[:backup.index(BACKUP_INFIX)]


class Interruptions(s.E2ETestCase):
    """The checks shared by both ways of cutting a run."""

    @classmethod
    def setUpClass(cls):
        cls.clean = s.read_tree(s.generated_install())
        work = tempfile.mkdtemp(prefix="qorvex-cut-ref-")
        try:
            inst = os.path.join(work, "install")
            shutil.copytree(s.generated_install(), inst)
            r = s.run_cli(["install", inst])
            assert r.rc == 0, r.stdout
            cls.installed = game_files(s.read_tree(inst))
        finally:
            shutil.rmtree(work)

    def check_cut_state(self, root, before, goal, label):
        """Every file old or new, every backup complete, nothing half-made.
        Returns where the cut landed: "before", "during" or "after" the run's
        changes, judged by the game files."""
        after = s.read_tree(root)
        for rel, content in after.items():
            if content is None:
                continue
            name = rel.rsplit("/", 1)[-1]
            if name.startswith(".") and TEMP_INFIX in name:
                continue  # a killed run's leftover; the next run removes it
            if BACKUP_INFIX in rel:
                self.assertTrue(content in (before.get(source_of(rel)), goal.get(source_of(rel))),
                                "%s: incomplete backup %s" % (label, rel))
                continue
            self.assertIn(rel, set(before) | set(goal), "%s: left behind %s" % (label, rel))
            self.assertTrue(content in (before.get(rel), goal.get(rel)), "%s: half-written %s" % (label, rel))
        for rel, content in before.items():
            if content is not None and rel not in after:
                self.assertNotIn(rel, goal, "%s: lost %s" % (label, rel))
        files = game_files(after)
        return "before" if files == game_files(before) else "after" if files == goal else "during"

    def check_rerun(self, root, action, goal, label):
        r = s.run_cli([action, root])
        self.assertEqual(r.rc, 0, "%s: rerun\n%s%s" % (label, r.stdout.decode(), r.stderr.decode()))
        after = s.read_tree(root)
        files = game_files(after)
        self.assertEqual(sorted(files), sorted(goal), label)
        self.assertEqual([k for k in goal if files[k] != goal[k]], [], label)
        leftovers = [k for k in after if TEMP_INFIX in k or k.endswith(".qorvex-lock")]
        self.assertEqual(leftovers, [], label)
        for rel, content in after.items():
            live = os.path.join(root, source_of(rel)) if BACKUP_INFIX in rel else None
            if live and os.path.exists(live):
                self.assertFalse(os.path.samefile(os.path.join(root, rel), live),
                                 "%s: %s is still a link to its file" % (label, rel))

    def start_from(self, root, tree):
        shutil.rmtree(root, ignore_errors=True)
        for rel, content in sorted(tree.items()):
            path = os.path.join(root, rel)
            if content is None:
                os.makedirs(path, exist_ok=True)
                continue
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content)

    def run_time(self, root, action, start):
        """How long an uncut run takes here, so the cuts spread over all of it."""
        times = []
        for _ in range(3):
            self.start_from(root, start)
            began = time.perf_counter()
            r = s.run_cli([action, root])
            times.append(time.perf_counter() - began)
            self.assertEqual(r.rc, 0, r.stdout)
        return sorted(times)[1]


def report(what, duration, landed):
    print("\n  %s: run takes %.1f ms; %d cuts left the old state, %d a state in between, %d the new state"
          % (what, duration * 1000, landed["before"], landed["during"], landed["after"]), flush=True)


def wait_until(deadline):
    while time.perf_counter() < deadline:
        pass


class KilledRuns(Interruptions):

    def cut_and_check(self, action, start, goal):
        root = os.path.join(self.tmp, "install")
        duration = self.run_time(root, action, start)
        rng = random.Random(8)
        landed = {"before": 0, "during": 0, "after": 0}
        for cut in range(CUTS):
            label = "%s killed, cut %d" % (action, cut)
            self.start_from(root, start)
            delay = rng.uniform(0, duration * 1.1)
            p = subprocess.Popen([s.CLI, action, root], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            wait_until(time.perf_counter() + delay)
            p.kill()
            p.wait()
            landed[self.check_cut_state(root, start, goal, label)] += 1
            self.check_rerun(root, action, goal, label)
        report(action + " killed", duration, landed)

    def test_install_killed_at_random_moments(self):
        self.cut_and_check("install", self.clean, self.installed)

    def test_uninstall_killed_at_random_moments(self):
        self.cut_and_check("uninstall", self.installed, game_files(self.clean))


class PowerCuts(Interruptions):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.image_dir = tempfile.mkdtemp(prefix="qorvex-power-")
        cls.image = os.path.join(cls.image_dir, "disk.ext4")
        cls.mount = os.path.join(cls.image_dir, "mnt")
        os.makedirs(cls.mount)
        why = None
        if os.geteuid() != 0:
            why = "power cuts need root to mount a loop device"
        elif not os.path.exists("/dev/loop-control"):
            why = "power cuts need loop devices (/dev/loop-control is missing)"
        else:
            with open(cls.image, "wb") as f:
                f.truncate(64 * 1024 * 1024)
            mkfs = subprocess.run(["mkfs.ext4", "-q", "-F", cls.image], capture_output=True)
            if mkfs.returncode != 0:
                why = "mkfs.ext4 failed: %s" % mkfs.stderr.decode().strip()
            elif subprocess.run(["mount", "-o", "loop", cls.image, cls.mount], capture_output=True).returncode:
                why = "this machine cannot mount a loop device"
            else:
                subprocess.run(["umount", cls.mount], check=True)
        cls.skip_reason = why
        if why:
            print("\nSKIPPED power cuts: %s" % why, flush=True)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["umount", cls.mount], capture_output=True)
        shutil.rmtree(cls.image_dir, ignore_errors=True)
        super().tearDownClass()

    def setUp(self):
        super().setUp()
        if self.skip_reason:
            self.skipTest(self.skip_reason)

    def mounted(self):
        subprocess.run(["mount", "-o", "loop", self.image, self.mount], check=True)

    def unmounted(self):
        subprocess.run(["umount", self.mount], check=True)

    def cut_power(self):
        fd = os.open(self.mount, os.O_RDONLY)
        try:
            fcntl.ioctl(fd, EXT4_IOC_SHUTDOWN, struct.pack("I", EXT4_GOING_FLAGS_NOLOGFLUSH))
        finally:
            os.close(fd)

    def cut_and_check(self, action, start, goal):
        root = os.path.join(self.mount, "install")
        self.mounted()
        try:
            duration = self.run_time(root, action, start)
        finally:
            self.unmounted()
        rng = random.Random(18)
        landed = {"before": 0, "during": 0, "after": 0}
        for cut in range(CUTS):
            label = "%s power cut %d" % (action, cut)
            self.mounted()
            self.start_from(root, start)
            os.sync()  # the game files were on disk long before any run
            delay = rng.uniform(0, duration * 1.1)
            p = subprocess.Popen([s.CLI, action, root], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            wait_until(time.perf_counter() + delay)
            self.cut_power()
            p.wait()
            self.unmounted()
            self.mounted()  # replays the journal: what reached the disk is all there is
            try:
                landed[self.check_cut_state(root, start, goal, label)] += 1
                self.check_rerun(root, action, goal, label)
            finally:
                self.unmounted()
        report(action + " power cut", duration, landed)

    def test_install_cut_at_random_moments(self):
        self.cut_and_check("install", self.clean, self.installed)

    def test_uninstall_cut_at_random_moments(self):
        self.cut_and_check("uninstall", self.installed, game_files(self.clean))


if __name__ == "__main__":
    s.main()
