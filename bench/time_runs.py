#!/usr/bin/env python3
"""Times whole qorvex-patch runs.

    time_runs.py QORVEX_PATCH WORKDIR [--repeat N]

On the synthetic game install (tests/fixtures/make_game_install.py) and on one
whose me_toolbar.lua is 16 MiB, times CHECK, INSTALL and UNINSTALL (median of N
runs, each INSTALL and UNINSTALL on a fresh copy) and measures the peak memory
of one run of each with /usr/bin/time -v. bench/vs_patch.py compares the same
runs with GNU patch; the helpers here serve both.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FIXTURE = os.path.join(ROOT, "tests", "fixtures", "make_game_install.py")
MODULE = os.path.join("MissionEditor", "modules", "me_qorvex_undo.lua")
MIB = 1024 * 1024


def make_install(path, toolbar_size=None):
    args = [sys.executable, FIXTURE, path, "--no-check"]
    if toolbar_size:
        args += ["--toolbar-size", str(toolbar_size)]
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)


def fresh_copy(source, target):
    shutil.rmtree(target, ignore_errors=True)
    shutil.copytree(source, target)
    # The copy's own writes reach the disk before the clock starts, so that a
    # tool that flushes at its end is not billed for them.
    os.sync()


def timed(args, expect=(0,)):
    start = time.perf_counter()
    done = subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if done.returncode not in expect:
        sys.exit("failed (%d): %s\n%s" % (done.returncode, " ".join(args), done.stderr.decode()))
    return elapsed


def peak_kib(args):
    done = subprocess.run(["/usr/bin/time", "-v"] + args, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, check=False)
    match = re.search(rb"Maximum resident set size \(kbytes\): (\d+)", done.stderr)
    return int(match.group(1)) if match else -1


def median_ms(samples):
    return statistics.median(samples) * 1000


def strip_backups(root):
    for folder, _, names in os.walk(root):
        for name in names:
            if ".qorvex-backup_" in name:
                os.remove(os.path.join(folder, name))


def bench_install(tool, work, label, source, repeat):
    scratch = os.path.join(work, "scratch")
    installed = os.path.join(work, label + "-installed")
    fresh_copy(source, installed)
    timed([tool, "install", installed])
    strip_backups(installed)
    toolbar = os.path.getsize(os.path.join(source, "MissionEditor", "modules", "me_toolbar.lua"))

    check = [timed([tool, "check", source]) for _ in range(repeat)]
    install, uninstall = [], []
    for _ in range(repeat):
        fresh_copy(source, scratch)
        install.append(timed([tool, "install", scratch]))
        fresh_copy(installed, scratch)
        uninstall.append(timed([tool, "uninstall", scratch]))
    fresh_copy(source, scratch)
    memory = {"CHECK": peak_kib([tool, "check", source]),
              "INSTALL": peak_kib([tool, "install", scratch])}
    fresh_copy(installed, scratch)
    memory["UNINSTALL"] = peak_kib([tool, "uninstall", scratch])
    print("%s (me_toolbar.lua %d bytes)" % (label, toolbar))
    for name, samples in (("CHECK", check), ("INSTALL", install), ("UNINSTALL", uninstall)):
        print("  %-9s median %8.2f ms  min %8.2f ms  peak RSS %7d KiB (%.2f x toolbar)"
              % (name, median_ms(samples), min(samples) * 1000, memory[name],
                 memory[name] * 1024 / toolbar))
    return installed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("work")
    parser.add_argument("--repeat", type=int, default=15)
    args = parser.parse_args()
    tool = os.path.abspath(args.tool)
    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)

    realistic = os.path.join(work, "realistic")
    make_install(realistic)
    # 16 MiB exactly for CHECK; the install that is patched and unpatched keeps
    # room for the inserted blocks under the 16 MiB read limit.
    big_check = os.path.join(work, "big16")
    make_install(big_check, 16 * MIB)
    big = os.path.join(work, "big")
    make_install(big, 16 * MIB - 64 * 1024)

    bench_install(tool, work, "realistic", realistic, args.repeat)
    bench_install(tool, work, "16 MiB toolbar", big, max(3, args.repeat // 3))
    check16 = [timed([tool, "check", big_check]) for _ in range(max(3, args.repeat // 3))]
    print("16 MiB toolbar, exactly 16,777,216 bytes: CHECK median %.2f ms, peak RSS %d KiB"
          % (median_ms(check16), peak_kib([tool, "check", big_check])))


if __name__ == "__main__":
    main()
