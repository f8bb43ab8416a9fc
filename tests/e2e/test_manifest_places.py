#!/usr/bin/env python3
"""A --payload manifest's problems, placed on stderr: one line per error with
file, line, column and entry, a warning per unknown key and per empty text to
insert, the folder named as typed. The run's log and exit status are those of
any manifest load failure."""

import json

import e2e_support as s
from e2e_support import DLG, TOOLBAR, header, summary

LOAD_ERROR = "ERROR: Failed to load embedded patch manifest -> %s\r\n"
NESTED = """{
  "version": "1.0",
  "description": "d",
  "files": [{"relativePath": "a", "patches": [
    {"id": "i", %s}]}],
  "dlgFiles": []
}
"""

# (manifest text, error name, what follows "payload/manifest.json:" on each
# line of stderr)
ERRORS = [
    ('{"version": "1.0" "description": "d"}', "SyntaxError", "1:19: (top level): expected ',' or '}'"),
    (NESTED % '"marker": "m", "anchorAfter": 5', "UnexpectedToken",
     "5:47: files[0].patches[0].anchorAfter: expected a string"),
    (NESTED % '"anchorAfter": "x"', "MissingField", "5:5: files[0].patches[0]: missing key 'marker'"),
    (NESTED % '"marker": "m", "anchorAfter": "x", "anchorAfterOccurrence": 1.}', "SyntaxError",
     "5:77: files[0].patches[0].anchorAfterOccurrence: invalid number"),
    ('{"notes": {"a": [{"k": 1, "k": 2}]}, "version": "1.0"}', "DuplicateField",
     "1:2: notes: warning: unknown key, ignored\n1:27: notes.a[0].k: duplicate key"),
    ('{"version": "1.0", "files": [{"relativePath": "a', "UnexpectedEndOfInput",
     "1:49: files[0].relativePath: unexpected end of input"),
    ('\ufeff{"version": 1}', "UnexpectedToken", "1:13: version: expected a string"),
    ('{"description": "\u00e9\u2014\U0001F600", "version": null}', "UnexpectedToken",
     "1:35: version: expected a string"),
    ('{"version": "1.0", "description": "d", "files": [{"relativePath": "a", "patches": []},], "dlgFiles": []}',
     "SyntaxError", "1:86: files: trailing comma"),
    ('{\r\n"version": "a\\qb"}', "SyntaxError", "2:14: version: invalid escape in a string"),
    ("[]", "UnexpectedToken", "1:1: (top level): expected an object"),
]


def warned_manifest():
    """Two entries of the toolbar and the dialog entry, all of which apply,
    with unknown keys at every level and two empty texts."""
    m = s.full_manifest()
    m["files"] = [m["files"][0]]
    patches = m["files"][0]["patches"] = m["files"][0]["patches"][:3]
    m["$schema"] = "manifest.schema.json"
    m["notes"] = {"n": [1, {"deep": None}]}
    m["files"][0]["comment"] = "x"
    patches[0]["insertText"] = ""
    del patches[1]["insertText"]
    patches[2]["insertTxt"] = patches[2].pop("insertText")
    m["dlgFiles"][0]["unknown"] = True
    return m


class ManifestPlaces(s.E2ETestCase):

    def test_errors(self):
        inst = self.new_install()
        for index, (text, error, places) in enumerate(ERRORS):
            with self.subTest(text=text):
                s.write_payload("%s/payload%d" % (self.tmp, index), manifest_text=text)
                # The folder as typed, relative.
                r = s.run_cli(["--payload", "payload%d" % index, "check", inst], cwd=self.tmp)
                self.assertRun(r, 1, header(inst, "CHECK") + LOAD_ERROR % error, "".join(
                    "qorvex-patch: payload%d/manifest.json:%s\n" % (index, place) for place in places.split("\n")))

    def test_warnings(self):
        inst = self.new_install()
        m = warned_manifest()
        text = json.dumps(m, indent=2)
        payload = self.new_payload(manifest_text=text) + "/"

        def brace_of(id_):
            return text.rindex("{", 0, text.index('"%s"' % id_))

        warnings = "".join(
            s.manifest_line(payload[:-1], s.text_place(text, at), entry, "warning: " + message)
            for at, entry, message in sorted([
                (brace_of("toolbar_require"), "files[0].patches[0]", "the text to insert is empty"),
                (brace_of("toolbar_widget_resolve"), "files[0].patches[1]", "the text to insert is empty"),
                (brace_of("toolbar_init_call"), "files[0].patches[2]", "the text to insert is empty"),
                (text.index('"insertTxt"'), "files[0].patches[2].insertTxt", "unknown key, ignored"),
                (text.index('"comment"'), "files[0].comment", "unknown key, ignored"),
                (text.index('"notes"'), "notes", "unknown key, ignored"),
                (text.index('"unknown"'), "dlgFiles[0].unknown", "unknown key, ignored")]))
        r = s.run_cli(["--payload", payload, "check", inst])
        self.assertRun(r, 0, header(inst, "CHECK") + s.MODULE_CREATE + s.patch_line(TOOLBAR, 3)
                       + s.dlg_patch_line(DLG) + summary(True, 3, 0, 0), warnings)

        # The carried manifest, and the same one from a folder, load silently.
        with open(s.SOURCE_DIR + "/payload/manifest.json", encoding="utf-8") as f:
            shipped = self.new_payload(name="shipped", manifest_text=f.read())
        for pay in ([], ["--payload", shipped]):
            r = s.run_cli(pay + ["check", inst])
            self.assertEqual((r.rc, r.stderr), (0, b""), r.stdout)


if __name__ == "__main__":
    s.main()
