#!/usr/bin/env python3
"""qorvex-patch against GNU patch, on the same change set.

    vs_patch.py QORVEX_PATCH WORKDIR [--pairs N]

Makes the synthetic game install (tests/fixtures/make_game_install.py) and
one whose me_toolbar.lua is 16 MiB less 64 KiB, installs the carried payload
on a copy of each with qorvex-patch, and writes what that INSTALL changed as
one unified diff (the insertions, the panel block and the new undo module).
Then, on fresh copies, the two tools take turns:

  install      qorvex-patch install     against  patch -b
  uninstall    qorvex-patch uninstall   against  patch -R -b
  16 MiB       qorvex-patch install     against  patch -b
               qorvex-patch check       against  patch --dry-run

and the median of N pairs (31 at least) of each is printed with the ratio,
with the peak resident memory of each tool on the 16 MiB file. GNU patch
flushes nothing; qorvex-patch makes every backup a hard link, replaces every
file atomically, and has everything on disk before it reports success. Every
copy is flushed before its clock starts, so neither tool pays for it.
"""

import argparse
import os
import shutil
import statistics
import subprocess

from time_runs import MIB, fresh_copy, make_install, peak_kib, strip_backups, timed


def unified_diff(before, after, path):
    """Every file INSTALL changed or created, as one diff that patch -p1 applies."""
    with open(path, "wb") as out:
        for folder, _, names in os.walk(after):
            for name in sorted(names):
                new = os.path.join(folder, name)
                rel = os.path.relpath(new, after)
                old = os.path.join(before, rel)
                old_arg, old_label = (old, "a/" + rel) if os.path.exists(old) else ("/dev/null", "/dev/null")
                done = subprocess.run(["diff", "-u", "--label", old_label, "--label", "b/" + rel, old_arg, new],
                                      stdout=subprocess.PIPE)
                out.write(done.stdout)


def prepare(tool, work, label, toolbar_size=None):
    source = os.path.join(work, label)
    make_install(source, toolbar_size)
    installed = os.path.join(work, label + "-installed")
    fresh_copy(source, installed)
    timed([tool, "install", installed])
    strip_backups(installed)
    diff = os.path.join(work, label + ".diff")
    unified_diff(source, installed, diff)
    return source, installed, diff


def pairs(ours, theirs, start, count):
    """Alternating runs, each on a fresh copy of `start`; the two lists of seconds."""
    scratch_ours, scratch_theirs = [], []
    for i in range(count):
        for run, samples in ((ours, scratch_ours), (theirs, scratch_theirs))[:: 1 if i % 2 == 0 else -1]:
            if start:
                fresh_copy(start, run[1])
            samples.append(timed(run[0], run[2] if len(run) > 2 else (0,)))
    return scratch_ours, scratch_theirs


def report(name, ours, theirs, theirs_name):
    mo, mt = statistics.median(ours) * 1000, statistics.median(theirs) * 1000
    print("  %-28s qorvex-patch %8.2f ms   %-16s %8.2f ms   ratio %.2f" % (name, mo, theirs_name, mt, mo / mt))
    return mo / mt


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("work")
    parser.add_argument("--pairs", type=int, default=31)
    args = parser.parse_args()
    tool = os.path.abspath(args.tool)
    work = os.path.abspath(args.work)
    count = max(args.pairs, 31)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    scratch = os.path.join(work, "scratch")

    small, small_installed, small_diff = prepare(tool, work, "synthetic")
    big, _, big_diff = prepare(tool, work, "big", 16 * MIB - 64 * 1024)
    patch = ["patch", "-s", "-p1", "-d", scratch]

    print("qorvex-patch against GNU patch, median of %d alternating pairs on fresh copies:" % count)
    ratios = {}
    o, t = pairs(([tool, "install", scratch], scratch), (patch + ["-b", "-i", small_diff], scratch), small, count)
    ratios["install"] = report("INSTALL, synthetic install", o, t, "patch -b")
    o, t = pairs(([tool, "uninstall", scratch], scratch), (patch + ["-R", "-b", "-i", small_diff], scratch),
                 small_installed, count)
    ratios["uninstall"] = report("UNINSTALL, synthetic install", o, t, "patch -R -b")
    o, t = pairs(([tool, "install", scratch], scratch), (patch + ["-b", "-i", big_diff], scratch), big, count)
    ratios["install16"] = report("INSTALL, 16 MiB toolbar", o, t, "patch -b")
    dry = ["patch", "-s", "-p1", "-d", big, "--dry-run", "-i", big_diff]
    o, t = pairs(([tool, "check", big], None), (dry, None), None, count)
    ratios["check16"] = report("CHECK, 16 MiB toolbar", o, t, "patch --dry-run")

    toolbar = os.path.getsize(os.path.join(big, "MissionEditor", "modules", "me_toolbar.lua"))
    fresh_copy(big, scratch)
    ours = peak_kib([tool, "install", scratch])
    fresh_copy(big, scratch)
    theirs = peak_kib(patch + ["-b", "-i", big_diff])
    print("  peak resident memory, INSTALL of the 16 MiB toolbar: qorvex-patch %d KiB (%.2f x the file), "
          "patch -b %d KiB (%.2f x)" % (ours, ours * 1024 / toolbar, theirs, theirs * 1024 / toolbar))
    print("  ratios: " + ", ".join("%s %.2f" % item for item in ratios.items()))


if __name__ == "__main__":
    main()
