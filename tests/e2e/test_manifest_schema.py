#!/usr/bin/env python3
"""payload/manifest.schema.json against the manifest reader of qorvex-patch:
the shipped manifest and a table of good manifests pass both, a table of bad
ones is refused by both, and the example of docs/manifest.md passes the schema
and installs and uninstalls cleanly on a generated install.

Needs Debian's python3-jsonschema (scripts/setup.sh installs it). Without it
the script exits 77, which CTest reports as skipped; under CI=true it fails."""

import copy
import json
import os
import re
import sys

import e2e_support as s
from e2e_support import disk, header

jsonschema = None

LOAD_ERROR = "ERROR: Failed to load embedded patch manifest -> %s\r\n"
# A line that places a problem of the manifest (test_manifest_places.py checks
# them word for word).
PLACED = "qorvex-patch: %s/manifest.json:[0-9]+:[0-9]+: [^\n]+: %s[^\n]*\n"


def load_jsonschema():
    try:
        import jsonschema as module
        return module
    except ImportError:
        pass
    # Debian's package belongs to the system interpreter, which need not be
    # the first python3 on PATH.
    system = "/usr/bin/python3"
    if os.path.realpath(sys.executable) != os.path.realpath(system) and os.access(system, os.X_OK):
        os.execv(system, [system] + sys.argv)
    return None


DELETE = object()


def put(m, value, *path):
    """m with the value at path set, or with that key removed for DELETE."""
    target = m
    for key in path[:-1]:
        target = target[key]
    if value is DELETE:
        del target[path[-1]]
    else:
        target[path[-1]] = value
    return m


P0 = ("files", 0, "patches", 0)  # toolbar_require: insertText only
P1 = ("files", 0, "patches", 1)
D0 = ("dlgFiles", 0)
TOOLBAR_PATH = ("files", 0, "relativePath")

# (what, change to the shipped manifest, the reader's error)
REFUSED = [
    ("missing version", lambda m: put(m, DELETE, "version"), "MissingField"),
    ("missing description", lambda m: put(m, DELETE, "description"), "MissingField"),
    ("missing files", lambda m: put(m, DELETE, "files"), "MissingField"),
    ("missing dlgFiles", lambda m: put(m, DELETE, "dlgFiles"), "MissingField"),
    ("file without relativePath", lambda m: put(m, DELETE, "files", 1, "relativePath"), "MissingField"),
    ("file without patches", lambda m: put(m, DELETE, "files", 2, "patches"), "MissingField"),
    ("patch without id", lambda m: put(m, DELETE, *P0, "id"), "MissingField"),
    ("patch without marker", lambda m: put(m, DELETE, *P1, "marker"), "MissingField"),
    ("patch without anchorAfter", lambda m: put(m, DELETE, *P0, "anchorAfter"), "MissingField"),
    ("dialog without insertBlockResource", lambda m: put(m, DELETE, *D0, "insertBlockResource"), "MissingField"),
    ("dialog without anchorBefore", lambda m: put(m, DELETE, *D0, "anchorBefore"), "MissingField"),
    ("top level an array", lambda m: [m], "UnexpectedToken"),
    ("files a string", lambda m: put(m, "none", "files"), "UnexpectedToken"),
    ("dlgFiles null", lambda m: put(m, None, "dlgFiles"), "UnexpectedToken"),
    ("patches an object", lambda m: put(m, {}, "files", 0, "patches"), "UnexpectedToken"),
    ("file entry a string", lambda m: put(m, "me_toolbar.lua", "files", 3), "UnexpectedToken"),
    ("version a number", lambda m: put(m, 1, "version"), "UnexpectedToken"),
    ("marker null", lambda m: put(m, None, *P0, "marker"), "UnexpectedToken"),
    ("insertText a number", lambda m: put(m, 5, *P0, "insertText"), "UnexpectedToken"),
    ("insertTextBefore an array", lambda m: put(m, ["x"], *P1, "insertTextBefore"), "UnexpectedToken"),
    ("anchorBefore an object", lambda m: put(m, {}, *D0, "anchorBefore"), "UnexpectedToken"),
    ("occurrence a string", lambda m: put(m, "1", *P0, "anchorAfterOccurrence"), "UnexpectedToken"),
    ("occurrence true", lambda m: put(m, True, *P0, "anchorAfterOccurrence"), "UnexpectedToken"),
    ("occurrence 1.5", lambda m: put(m, 1.5, *P0, "anchorAfterOccurrence"), "InvalidNumber"),
    ("occurrence 2^63", lambda m: put(m, 2**63, *P0, "anchorAfterOccurrence"), "Overflow"),
    ("occurrence -2^63-1", lambda m: put(m, -2**63 - 1, *P0, "anchorAfterOccurrence"), "Overflow"),
    ("empty path", lambda m: put(m, "", *TOOLBAR_PATH), "BadPathName"),
    ("path of '.' only", lambda m: put(m, ".\\", *TOOLBAR_PATH), "BadPathName"),
    ("absolute path", lambda m: put(m, "\\MissionEditor\\modules\\me_toolbar.lua", *TOOLBAR_PATH), "BadPathName"),
    ("absolute POSIX path", lambda m: put(m, "/tmp/me_toolbar.lua", *TOOLBAR_PATH), "BadPathName"),
    ("drive path", lambda m: put(m, "C:\\Games\\me_toolbar.lua", *TOOLBAR_PATH), "BadPathName"),
    ("drive-relative path", lambda m: put(m, "C:MissionEditor\\me_toolbar.lua", *TOOLBAR_PATH), "BadPathName"),
    ("path leaving the install", lambda m: put(m, "MissionEditor\\..\\..\\me_toolbar.lua", *TOOLBAR_PATH), "BadPathName"),
    ("dialog path with NUL", lambda m: put(m, "MissionEditor\\x\u0000.dlg", *D0, "relativePath"), "BadPathName"),
]

ACCEPTED = [
    ("shipped manifest", lambda m: m),
    ("unknown keys at every level", lambda m: put(put(put(put(put(
        m, "manifest.schema.json", "$schema"), {"n": [1, None, "s", True, 2.5]}, "notes"),
        "x", "files", 0, "comment"), {"deep": [None]}, *P0, "note"), False, *D0, "unknown")),
    ("optional keys null", lambda m: put(put(put(
        m, None, *P0, "anchorAfterOccurrence"), None, *P0, "insertText"), None, *P0, "insertTextBefore")),
    ("empty insert texts", lambda m: put(put(m, "", *P0, "insertText"), "", *P0, "insertTextBefore")),
    ("occurrence at the ends of the range", lambda m: put(put(
        m, -2**63, *P0, "anchorAfterOccurrence"), 2**63 - 1, *P1, "anchorAfterOccurrence")),
    ("occurrence 1.0", lambda m: put(m, 1.0, *P0, "anchorAfterOccurrence")),
    ("empty files and dlgFiles", lambda m: put(put(m, [], "files"), [], "dlgFiles")),
    ("file with no patches", lambda m: put(m, [], "files", 0, "patches")),
    ("paths with '/' and '.' names", lambda m: put(put(
        m, "MissionEditor/modules/./me_toolbar.lua", *TOOLBAR_PATH),
        "MissionEditor//modules\\dialogs\\me_toolbar.dlg", *D0, "relativePath")),
]


def shipped_manifest():
    with open(os.path.join(s.SOURCE_DIR, "payload", "manifest.json"), encoding="utf-8") as f:
        return json.load(f)


def schema_validator():
    with open(os.path.join(s.SOURCE_DIR, "payload", "manifest.schema.json"), encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    return jsonschema.Draft202012Validator(schema)


class ManifestSchema(s.E2ETestCase):

    def setUp(self):
        super().setUp()
        self.validator = schema_validator()
        self.install = self.new_install()

    def schema_errors(self, manifest):
        return [e.message for e in self.validator.iter_errors(manifest)]

    def reader_check(self, name, manifest_text):
        """CHECK with this manifest: the load error's name, or None when it
        loaded and the run completed without errors. Either way stderr holds
        only warnings and, for an error, one line that places it."""
        payload = self.new_payload(name=name, manifest_text=manifest_text)
        r = s.run_cli(["--payload", payload, "check", self.install])
        match = re.search(s.printed(LOAD_ERROR).replace("%s", "(\\w+)").encode(), r.stdout)
        warnings = "(%s)*" % (PLACED % (re.escape(payload), "warning: "))
        if match is None:
            self.assertEqual((r.rc, b"COMPLETED SUCCESSFULLY\n" in r.stdout), (0, True), r.stdout)
            self.assertRegex(r.stderr.decode(), r"\A%s\Z" % warnings)
            return None
        error = match.group(1).decode()
        self.assertRun(r, 1, header(self.install, "CHECK") + LOAD_ERROR % error, r.stderr)
        self.assertRegex(r.stderr.decode(), r"\A%s%s\Z" % (warnings, PLACED % (re.escape(payload), "(?!warning: )")))
        return error

    def test_refused_by_schema_and_reader(self):
        for i, (what, change, error) in enumerate(REFUSED):
            with self.subTest(what):
                manifest = change(shipped_manifest())
                self.assertTrue(self.schema_errors(manifest), "the schema accepts it")
                self.assertEqual(self.reader_check("bad%d" % i, json.dumps(manifest, indent=2)), error)

    def test_accepted_by_schema_and_reader(self):
        for i, (what, change) in enumerate(ACCEPTED):
            with self.subTest(what):
                manifest = change(shipped_manifest())
                self.assertEqual(self.schema_errors(manifest), [])
                self.assertIsNone(self.reader_check("good%d" % i, json.dumps(manifest, indent=2)))

    def test_documented_example(self):
        # Every fence of docs/manifest.md that names a file, "```json manifest.json".
        with open(os.path.join(s.SOURCE_DIR, "docs", "manifest.md"), encoding="utf-8") as f:
            files = dict(re.findall(r"^```\w+ (\S+)\n(.*?)^```$", f.read(), re.S | re.M))
        self.assertEqual(sorted(files), ["example_panel.txt", "manifest.json"])
        manifest = json.loads(files["manifest.json"])
        self.assertEqual(self.schema_errors(manifest), [])
        payload = s.write_payload(os.path.join(self.tmp, "example"), manifest_text=files["manifest.json"],
                                  module=None, blocks={"example_panel.txt": files["example_panel.txt"]})
        stock = s.read_tree(self.install)

        def run(action):
            r = s.run_cli(["--payload", payload, action, self.install])
            self.assertEqual((r.rc, r.stderr), (0, b""), r.stdout)
            self.assertIn(b"COMPLETED SUCCESSFULLY\n", r.stdout)
            return r.stdout

        run("check")
        self.assertEqual(s.read_tree(self.install), stock)
        run("install")
        lua, dlg = manifest["files"][0], manifest["dlgFiles"][0]
        self.assertEqual(s.read(self.install, lua["relativePath"]),
                         s.patched_lua(stock[disk(lua["relativePath"])], lua, "\n"))
        self.assertEqual(s.read(self.install, dlg["relativePath"]),
                         s.patched_dlg(stock[disk(dlg["relativePath"])], dlg, files["example_panel.txt"], "\n"))
        self.assertNotIn(b"[PATCH]", run("install"))
        run("uninstall")
        after = {k: v for k, v in s.read_tree(self.install).items() if ".qorvex-backup_" not in k}
        self.assertEqual(after, stock)


if __name__ == "__main__":
    jsonschema = load_jsonschema()
    if jsonschema is None:
        if os.environ.get("CI") == "true":
            sys.stderr.write("python3-jsonschema is missing (scripts/setup.sh installs it)\n")
            sys.exit(1)
        sys.stderr.write("skipped: python3-jsonschema is not installed (scripts/setup.sh installs it)\n")
        sys.exit(77)
    s.main()
