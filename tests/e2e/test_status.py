#!/usr/bin/env python3
"""qorvex-patch status on the synthetic install in each state a player meets
after game updates: fresh, installed, one stock file put back by an update,
one anchor edited away, the module outdated. Checks the exit status, the JSON
object field by field, the lines for people, and install --strict."""

import json
import os

import e2e_support as s
from e2e_support import DLG, MODULE, TOOLBAR, disk

T1 = "2025-01-31 23:59:59"
# An anchor of the toolbar file, and the same line after an edit that the
# anchor no longer matches.
WIDGET_ANCHOR = b"\ttoggleButtonDraw = pMap.toggleButtonDraw"
WIDGET_EDITED = b"\ttoggleButtonDraw2 = pMap.toggleButtonDraw"


def carried_manifest():
    with open(os.path.join(s.SOURCE_DIR, "payload", "manifest.json"), "rb") as f:
        return json.loads(f.read())


def entries(state_of):
    """The expected entries: every patch of the carried manifest, in order,
    with the state state_of(id) gives."""
    out = []
    for file in carried_manifest()["files"]:
        for patch in file["patches"]:
            out.append({"file": file["relativePath"], "id": patch["id"], "marker": patch["marker"],
                        "state": state_of(patch["id"])})
    return out


def dialogs(state):
    return [{"file": d["relativePath"], "id": d["insertBlockResource"],
             "marker": s.dialog_marker(d["insertBlockResource"]), "state": state}
            for d in carried_manifest()["dlgFiles"]]


class Status(s.E2ETestCase):

    def status(self, inst, *extra):
        r = s.run_cli(["status", "--json", *extra, inst])
        self.assertEqual(r.stderr, b"")
        return r.rc, json.loads(r.stdout)

    def expect(self, inst, rc, verdict, module, dialog_state, expected_entries=None):
        got_rc, report = self.status(inst)
        self.assertEqual(got_rc, rc)
        self.assertEqual(sorted(report), ["dialogs", "entries", "gameBranch", "gameVersion", "installDir",
                                          "module", "verdict"])
        self.assertEqual(report["installDir"], inst)
        self.assertIsNone(report["gameVersion"])
        self.assertIsNone(report["gameBranch"])
        self.assertEqual(report["verdict"], verdict)
        self.assertEqual(report["module"], {"state": module})
        self.assertEqual(report["dialogs"], dialogs(dialog_state))
        if expected_entries is not None:
            self.assertEqual(report["entries"], expected_entries)
        return report

    def test_each_state_a_player_meets(self):
        inst = self.new_install()
        before = s.read_tree(inst)
        self.expect(inst, 3, "not-installed", "absent", "pending", entries(lambda _: "pending"))
        self.assertEqual(s.read_tree(inst), before)  # a survey writes nothing

        self.assertEqual(s.run_cli(["install", inst], clock=T1).rc, 0)
        self.expect(inst, 0, "installed", "current", "applied", entries(lambda _: "applied"))

        # A game update puts the stock toolbar back: INSTALL would redo it.
        s.write(inst, TOOLBAR, before[disk(TOOLBAR)])
        toolbar_ids = {p["id"] for p in carried_manifest()["files"][0]["patches"]}
        self.expect(inst, 4, "partial", "current", "applied",
                    entries(lambda i: "pending" if i in toolbar_ids else "applied"))

        # ... and edits one of its anchors away: INSTALL cannot make that change.
        s.write(inst, TOOLBAR, before[disk(TOOLBAR)].replace(WIDGET_ANCHOR, WIDGET_EDITED))
        report = self.expect(inst, 5, "blocked", "current", "applied")
        widget = [e for e in report["entries"] if e["id"] == "toolbar_widget_resolve"][0]
        line = before[disk(TOOLBAR)][:before[disk(TOOLBAR)].index(WIDGET_ANCHOR)].count(b"\n") + 1
        self.assertEqual(widget["state"], "anchor-not-found")
        self.assertEqual(widget["nearest"], {"line": line, "matchedTokens": 5, "anchorTokens": 6,
                                             "diff": "\\t[-toggleButtonDraw-]{+toggleButtonDraw2+}·=·…"})

        # An older module than the one carried.
        s.write(inst, TOOLBAR, s.read_tree(inst)[disk(TOOLBAR)].replace(WIDGET_EDITED, WIDGET_ANCHOR))
        s.write(inst, MODULE, s.read(inst, MODULE) + b"-- older\n")
        self.expect(inst, 4, "partial", "outdated", "applied")

    def test_lines_for_people_and_the_game_version(self):
        inst = self.new_install()
        with open(os.path.join(inst, "autoupdate.cfg"), "wb") as f:
            f.write(b'{"version": "2.9.3.51704", "arch": "x86_64", "lang": "EN", "branch": "openbeta"}')
        s.write(inst, TOOLBAR, s.read(inst, TOOLBAR).replace(WIDGET_ANCHOR, WIDGET_EDITED))
        r = s.run_cli(["status", inst])
        self.assertEqual(r.rc, 5)
        lines = r.stdout.decode().split("\n")
        self.assertEqual(lines[:4], ["Game install directory: " + inst, "Game version: 2.9.3.51704 (openbeta)",
                                     "Verdict: blocked", "Module modules/me_qorvex_undo.lua: absent"])
        at = lines.index(TOOLBAR + " [toolbar_widget_resolve]: anchor-not-found")
        self.assertTrue(lines[at + 1].startswith("    nearest text at line "), lines[at + 1])
        self.assertTrue(lines[at + 1].endswith(", 5 of 6 tokens matching:"), lines[at + 1])
        self.assertEqual(lines[at + 2], "    \\t[-toggleButtonDraw-]{+toggleButtonDraw2+}·=·…")
        self.assertEqual(lines[-2], DLG + " [pQORVEX_block.txt]: pending")
        self.assertEqual(r.stderr, b"")
        _, report = self.status(inst)
        self.assertEqual((report["gameVersion"], report["gameBranch"]), ("2.9.3.51704", "openbeta"))

    def test_strict_install_of_a_blocked_install_changes_nothing(self):
        inst = self.new_install()
        s.write(inst, TOOLBAR, s.read(inst, TOOLBAR).replace(WIDGET_ANCHOR, WIDGET_EDITED))
        before = s.read_tree(inst)
        r = s.run_cli(["--strict", "install", inst], clock=T1)
        self.assertEqual(r.rc, 5)
        self.assertEqual(r.stdout, b"")
        self.assertRegex(r.stderr.decode(), r"^qorvex-patch: MissionEditor\\modules\\me_toolbar\.lua "
                                             r"\[toolbar_widget_resolve\]: anchor-not-found "
                                             r"\(nearest text at line \d+\)\n$")
        self.assertEqual(s.read_tree(inst), before)
        # Without --strict the other changes are made.
        self.assertEqual(s.run_cli(["install", inst], clock=T1).rc, 1)

    def test_a_manifest_that_does_not_load_is_not_blamed_on_the_install(self):
        inst = self.new_install()
        payload = self.new_payload(manifest_text='{"files": 3')
        r = s.run_cli(["--payload", payload, "status", inst])
        where = os.path.join(payload, "manifest.json")
        self.assertRun(r, 2, b"", "qorvex-patch: %s:1:11: files: expected an array\n"
                                 "qorvex-patch: the manifest does not load: UnexpectedToken\n" % where)


if __name__ == "__main__":
    s.main()
