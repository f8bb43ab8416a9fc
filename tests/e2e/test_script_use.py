#!/usr/bin/env python3
"""qorvex-patch as scripts use it: --version, one-line usage errors, the whole
--help, LF line ends on POSIX, and --json for check, install and uninstall."""

import json
import os
import re

import e2e_support as s
from e2e_support import DLG, TOOLBAR, header
from test_install_cycle import install_log, uninstall_log

T1 = "2025-01-31 23:59:59"
TRY = "Try 'qorvex-patch --help'.\n"

HELP = """Usage: qorvex-patch [--payload DIR] [--json] [--dry-run] [--strict] [--prune] ACTION INSTALL_DIR
       qorvex-patch --help | --version

Checks, installs or uninstalls the Mission Editor undo feature in a game
install and prints the run's log, reports where the install stands, or
lists and tidies the backups that runs leave.

ACTION:
  check      report what an install would do; writes nothing
  install    deploy the undo module and apply the patches
  uninstall  remove the patches and the undo module
  status     report each patch's state and the install's verdict
  backups    list the backups of each file that runs change, oldest first

Options:
  --payload DIR  use manifest.json, me_qorvex_undo.lua and block files found
                 directly in DIR instead of the built-in texts of those names
  --json         print one JSON object instead of the log or the report
  --dry-run      with uninstall or backups --prune: report what it would do;
                 writes nothing
  --strict       with install: change nothing when a patch cannot be made in
                 this game version (the status verdict "blocked")
  --prune        with backups: remove each backup whose bytes a kept backup or
                 the file itself holds; the oldest backup of a file stays
  -h, --help     show this text and exit
  -V, --version  show the program's version and exit

INSTALL_DIR is the game's folder, the one that holds MissionEditor. On Linux
it may be omitted: the game is then looked for in the user's Steam libraries
(those of ~/.local/share/Steam, ~/.steam/steam and the Flatpak Steam's
~/.var/app/com.valvesoftware.Steam/.local/share/Steam) and used when exactly
one install is found there.

Exit status: 0 completed, 1 completed with errors, 2 stopped before it
started or by a fatal error, 5 blocked (install --strict), 64 usage error
or not a game install. status: 0 installed, 3 not installed, 4 partial,
5 blocked, 2 the survey could not be made. backups: 0 done, 1 a backup
that could go stayed, 2 stopped by a fault.
"""


def project_version():
    with open(os.path.join(s.SOURCE_DIR, "CMakeLists.txt")) as f:
        return re.search(r"project\(\w+ VERSION ([0-9.]+)", f.read()).group(1)


def log_lines(log_text):
    return log_text.split("\r\n")[:-1]


class ScriptUse(s.E2ETestCase):

    def test_version_help_and_usage_errors(self):
        inst = self.new_install()
        stock = s.read_tree(inst)
        version = "qorvex-patch %s\n" % project_version()
        cases = [
            (["--version"], 0, version, ""),
            (["-V"], 0, version, ""),
            (["--help"], 0, HELP, ""),
            (["-h", "check", inst], 0, HELP, ""),
            ([], 64, "", "qorvex-patch: no ACTION given\n" + TRY),
            (["repair", inst], 64, "", "qorvex-patch: unknown action 'repair'\n" + TRY),
            (["check", inst, "extra"], 64, "", "qorvex-patch: unexpected argument 'extra'\n" + TRY),
            (["--payload"], 64, "", "qorvex-patch: --payload needs a folder\n" + TRY),
            (["--frobnicate", "check", inst], 64, "", "qorvex-patch: unknown option '--frobnicate'\n" + TRY),
            (["-x", "check", inst], 64, "", "qorvex-patch: unknown option '-x'\n" + TRY),
            (["--prune", "check", inst], 64, "", "qorvex-patch: --prune goes only with backups\n" + TRY),
            (["uninstall", "--prune", inst], 64, "", "qorvex-patch: --prune goes only with backups\n" + TRY),
        ]
        for args, rc, stdout, stderr in cases:
            with self.subTest(args=args):
                self.assertRun(s.run_cli(args), rc, stdout, stderr)
        self.assertTree(inst, stock)

    def test_output_lines_end_in_lf(self):
        inst = self.new_install()
        for action in ("check", "install", "status", "uninstall"):
            with self.subTest(action=action):
                r = s.run_cli([action, inst])
                self.assertIn(r.rc, (0, 3))
                self.assertNotIn(b"\r", r.stdout)
                self.assertTrue(r.stdout.endswith(b"\n"))
        # A line-based tool finds whole lines.
        out = s.run_cli(["install", inst]).stdout
        self.assertTrue(re.search(rb"(?m)^COMPLETED SUCCESSFULLY$", out), out)
        self.assertTrue(re.search(rb"(?m)^  8 files patched\.$", out), out)

    def run_json(self, args, rc):
        r = s.run_cli(args + ["--json"], clock=T1)
        self.assertEqual(r.rc, rc, r.stderr)
        self.assertTrue(r.stdout.endswith(b"}\n") and r.stdout.count(b"\n") == 1, r.stdout)
        return json.loads(r.stdout), r.stderr

    def test_json_of_each_action(self):
        inst = self.new_install()
        stamp = s.stamp_of(T1)

        def expected(action, log, patched, backups):
            return {"action": action, "installDir": inst, "completed": True, "success": True,
                    "fatal": None, "filesPatched": patched, "filesSkipped": 0, "backupsCreated": backups,
                    "errors": [], "problems": [], "log": log_lines(log)}

        got, err = self.run_json(["check", inst], 0)
        self.assertEqual((got, err), (expected("check", install_log(inst, "CHECK"), 8, 0), b""))
        got, err = self.run_json(["install", inst], 0)
        self.assertEqual((got, err), (expected("install", install_log(inst, "INSTALL", stamp), 8, 7), b""))
        got, err = self.run_json(["uninstall", inst], 0)
        self.assertEqual((got, err),
                         (expected("uninstall", uninstall_log(inst, "UNINSTALL", stamp, backup_n=2), 8, 8), b""))

    def test_json_of_runs_that_fail(self):
        inst = self.new_install()
        os.remove(os.path.join(inst, s.disk(TOOLBAR)))
        got, _ = self.run_json(["install", inst], 1)
        self.assertEqual((got["completed"], got["success"], got["fatal"], got["filesPatched"]),
                         (True, False, None, 7))
        self.assertEqual(got["errors"], [TOOLBAR + ": file not found, skipped (5 patch(es) not applied)"])

        # Stopped before it started: no log, the file and its hint named.
        held = self.new_install(name="held")
        os.chmod(os.path.join(held, s.disk(DLG)), 0o444)
        got, err = self.run_json(["install", held], 2)
        self.assertEqual(got, {"action": "install", "installDir": held, "completed": False, "success": False,
                               "fatal": {"error": "AccessDenied", "path": DLG}, "filesPatched": 0,
                               "filesSkipped": 0, "backupsCreated": 0, "errors": [],
                               "problems": [{"path": DLG, "error": "AccessDenied",
                                             "hint": s.HINTS["read-only"]}], "log": []})
        self.assertEqual(err.decode(), s.problem_line(DLG, "AccessDenied", "read-only"))

        # A manifest that does not load: the run's ERROR line, no summary.
        payload = self.new_payload(manifest_text="{")
        got, _ = self.run_json(["--payload", payload, "check", inst], 1)
        self.assertEqual((got["completed"], got["fatal"], got["log"][-1]),
                         (False, None, "ERROR: Failed to load embedded patch manifest -> UnexpectedEndOfInput"))
        self.assertEqual(got["log"][:4], log_lines(header(inst, "CHECK")))


if __name__ == "__main__":
    s.main()
