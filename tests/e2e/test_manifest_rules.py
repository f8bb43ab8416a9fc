#!/usr/bin/env python3
"""Manifest details seen from outside: which insert key wins, keys the format
does not know, nulls, empty texts and empty patch lists, and the panel block's
marker name taken from the resource name."""

import json

import e2e_support as s
from e2e_support import AIRCRAFT, DLG, MODULE, SHOWID, STATIC, disk, header, summary

T1 = "2025-01-31 23:59:59"
S1 = s.stamp_of(T1)
T2 = "2025-01-31 23:59:58"
S2 = s.stamp_of(T2)
MISSING = "MissionEditor\\modules\\me_missing.lua"

SHOWID_ANCHOR = "\t\t\tif unit.name ~= newName then"
STATIC_UNIT_ANCHOR = "\t\t\tname = module_mission.check_unit_name(name)"
GROUP_ANCHOR = "vdata.name = module_mission.check_group_name(self:getText())"
PANEL = "\t\t[\"pE2E\"] = {\n\t\t\t[\"type\"] = \"Panel\",\n\t\t},\n"

MANIFEST = """{
  "version": "2.5",
  "description": "rules",
  "extra": {"nested": [1, {"x": null}, "s", true, 2.5e3]},
  "files": [
    {
      "relativePath": %(showid)s,
      "comment": "not part of the format",
      "patches": [
        {
          "id": "both",
          "marker": "E2E:BOTH",
          "anchorAfter": %(showid_anchor)s,
          "insertTextBefore": "\\t\\t\\t\\te2e_before()\\n",
          "insertText": "\\t\\t\\t\\te2e_after()\\n",
          "anchorAfterOccurrence": null,
          "note": {"deep": [null]}
        }
      ]
    },
    {
      "relativePath": %(static)s,
      "patches": [
        {"id": "empty", "marker": "E2E:EMPTY", "anchorAfter": %(static_anchor)s},
        {"id": "nulls", "marker": "E2E:NULLS", "anchorAfter": %(group_anchor)s,
         "insertText": null, "insertTextBefore": null, "anchorAfterOccurrence": -7},
        {"id": "before_empty", "marker": "E2E:BEFORE_EMPTY", "anchorAfter": %(group_anchor)s,
         "insertTextBefore": "", "insertText": "\\t\\t\\te2e_text()"}
      ]
    },
    {"relativePath": %(aircraft)s, "patches": []},
    {"relativePath": %(missing)s, "patches": []}
  ],
  "dlgFiles": [
    {"relativePath": %(dlg)s, "insertBlockResource": "e2e.panel.txt",
     "anchorBefore": "\\t\\t[\\"pMap\\"] = {", "unknown": true}
  ]
}
""" % {
    "showid": json.dumps(SHOWID), "static": json.dumps(STATIC), "aircraft": json.dumps(AIRCRAFT),
    "missing": json.dumps(MISSING), "dlg": json.dumps(DLG), "showid_anchor": json.dumps(SHOWID_ANCHOR),
    "static_anchor": json.dumps(STATIC_UNIT_ANCHOR), "group_anchor": json.dumps(GROUP_ANCHOR),
}


class ManifestRules(s.E2ETestCase):

    def test_insert_keys_unknown_keys_and_empty_lists(self):
        inst = self.new_install()
        stock = s.read_tree(inst)
        payload = self.new_payload(manifest_text=MANIFEST, blocks={"e2e.panel.txt": PANEL})
        pay = ["--payload", payload]
        # Unknown keys and empty texts load, with a warning before each run.
        warnings = "".join(
            s.manifest_line(payload, s.text_place(MANIFEST, MANIFEST.index(needle)), entry, "warning: " + message)
            for needle, entry, message in (
                ('"extra"', "extra", "unknown key, ignored"),
                ('"comment"', "files[0].comment", "unknown key, ignored"),
                ('"note"', "files[0].patches[0].note", "unknown key, ignored"),
                ('{"id": "empty"', "files[1].patches[0]", "the text to insert is empty"),
                ('{"id": "nulls"', "files[1].patches[1]", "the text to insert is empty"),
                ('"unknown"', "dlgFiles[0].unknown", "unknown key, ignored")))

        r = s.run_cli(pay + ["install", inst], clock=T1)
        self.assertRun(r, 1, header(inst, "INSTALL") + s.MODULE_CREATE
                       + s.patch_line(SHOWID, 1) + s.backup_line(SHOWID, S1)
                       + s.patch_line(STATIC, 3) + s.backup_line(STATIC, S1)
                       + s.skip_line(AIRCRAFT, 0)
                       + s.dlg_patch_line(DLG) + s.backup_line(DLG, S1)
                       + summary(False, 4, 1, 3, [s.err_missing(MISSING, 0)]), warnings)

        showid = s.insert_after(stock[disk(SHOWID)], SHOWID_ANCHOR.encode(),
                                s.block("E2E:BOTH", "\t\t\t\te2e_before()\n"))
        static = s.insert_after(stock[disk(STATIC)], STATIC_UNIT_ANCHOR.encode(), s.block("E2E:EMPTY", ""))
        static = s.insert_after(static, GROUP_ANCHOR.encode(), s.block("E2E:NULLS", ""))
        static = s.insert_after(static, GROUP_ANCHOR.encode(), s.block("E2E:BEFORE_EMPTY", "\t\t\te2e_text()"))
        self.assertEqual(s.block("E2E:EMPTY", ""), b"\r\n-- QORVEX_PATCH_BEGIN[E2E:EMPTY]\r\n-- QORVEX_PATCH_END[E2E:EMPTY]\r\n")
        dlg = s.insert_before(stock[disk(DLG)], s.DLG_ANCHOR.encode(), s.block("DLG_BLOCK:e2e.panel", PANEL))
        installed = dict(stock)
        installed.update({disk(SHOWID): showid, disk(STATIC): static, disk(DLG): dlg,
                          disk(MODULE): s.FULL_MODULE.encode()})
        for rel in (SHOWID, STATIC, DLG):
            installed[s.backup_path(rel, S1)] = stock[disk(rel)]
        self.assertTree(inst, installed)

        r = s.run_cli(pay + ["uninstall", inst], clock=T2)
        self.assertRun(r, 0, header(inst, "UNINSTALL")
                       + s.uninstall_line(SHOWID, 1) + s.backup_line(SHOWID, S2)
                       + s.uninstall_line(STATIC, 3) + s.backup_line(STATIC, S2)
                       + s.dlg_uninstall_line(DLG) + s.backup_line(DLG, S2)
                       + s.MODULE_UNINSTALL + s.backup_line(MODULE, S2)
                       + summary(True, 4, 1, 4), warnings)
        after = dict(installed)
        del after[disk(MODULE)]
        for rel in (SHOWID, STATIC, DLG):
            after[disk(rel)] = stock[disk(rel)]
            after[s.backup_path(rel, S2)] = installed[disk(rel)]
        after[s.backup_path(MODULE, S2)] = s.FULL_MODULE.encode()
        self.assertTree(inst, after)

    def test_panel_block_marker_names(self):
        for resource, marker in (("e2eblock", "DLG_BLOCK:e2eblock"),
                                 (".e2eblock", "DLG_BLOCK:.e2eblock"),
                                 ("e2e.block.lua.txt", "DLG_BLOCK:e2e.block.lua")):
            with self.subTest(resource=resource):
                inst = self.new_install(name="install" + resource)
                stock = s.read_tree(inst)
                manifest = s.full_manifest()
                manifest["files"] = []
                manifest["dlgFiles"][0]["insertBlockResource"] = resource
                pay = ["--payload", self.new_payload(name="payload" + resource, manifest=manifest,
                                                     blocks={resource: PANEL})]
                r = s.run_cli(pay + ["install", inst], clock=T1)
                self.assertRun(r, 0, header(inst, "INSTALL") + s.MODULE_CREATE + s.dlg_patch_line(DLG)
                               + s.backup_line(DLG, S1) + summary(True, 2, 0, 1))
                tree = dict(stock)
                tree[disk(DLG)] = s.insert_before(stock[disk(DLG)], s.DLG_ANCHOR.encode(), s.block(marker, PANEL))
                tree[s.backup_path(DLG, S1)] = stock[disk(DLG)]
                tree[disk(MODULE)] = s.FULL_MODULE.encode()
                self.assertTree(inst, tree)

    def test_error_entries_longer_than_the_message_buffer(self):
        # An error line is "    - " + entry + CR LF, one message: up to 8192
        # bytes it is shown whole, past that the too-long line stands in for it.
        inst = self.new_install()
        stock = s.read_tree(inst)
        tail = "]: anchor not found - DCS update may have changed this file's structure. Manual review required."
        ids = []
        for entry_length in (8184, 8185):
            ids.append("e" * (entry_length - len(SHOWID) - len(" [") - len(tail)))
        ids.append("short")
        manifest = {"version": "1.0", "description": "long", "dlgFiles": [], "files": [
            {"relativePath": SHOWID, "patches": [
                {"id": id_, "marker": "E2E:LONG%d" % i, "anchorAfter": "e2e-no-such-anchor",
                 "insertText": "e2e_never_inserted()"} for i, id_ in enumerate(ids)]}]}
        r = s.run_cli(["--payload", self.new_payload(manifest=manifest), "check", inst])
        first = "    - " + s.err_not_found(SHOWID, ids[0]) + "\r\n"
        self.assertEqual(len(first.encode()), 8192)
        self.assertRun(r, 1, header(inst, "CHECK") + s.MODULE_CREATE + s.skip_line(SHOWID, 0)
                       + summary(False, 1, 1, 0) + "  Errors:\r\n" + first
                       + "[log message too long to display]\r\n"
                       + "    - " + s.err_not_found(SHOWID, "short") + "\r\n")
        self.assertTree(inst, stock)


if __name__ == "__main__":
    s.main()
