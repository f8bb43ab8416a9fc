"""Shared helpers of the qorvex-patch end-to-end tests.

Each test script takes
    --cli PATH         the qorvex-patch binary (default: build/cli/qorvex-patch)
    --clocked-cli PATH the same program with the C library shared, for runs
                       under a preloaded fake clock (default: PATH-preloadable
                       beside --cli when it exists, else --cli itself)
    --generator PATH   tests/fixtures/make_game_install.py
    --source-dir PATH  the source tree (for payload/)
and passes every other argument on to unittest.

Expected logs are written out here from the program's documented texts, never
captured from a run. Expected file contents are built from the generated stock
files by plain string insertion at the literal anchor text.
"""

import argparse
import atexit
import copy
import json
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))

CLI = None
CLOCKED_CLI = None
GENERATOR = None
SOURCE_DIR = None


def parse_args():
    """Reads our options from sys.argv and leaves the rest for unittest."""
    global CLI, CLOCKED_CLI, GENERATOR, SOURCE_DIR
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--cli")
    parser.add_argument("--clocked-cli")
    parser.add_argument("--generator")
    parser.add_argument("--source-dir")
    args, rest = parser.parse_known_args(sys.argv[1:])
    SOURCE_DIR = os.path.abspath(args.source_dir or os.path.join(HERE, "..", ".."))
    CLI = os.path.abspath(args.cli or os.path.join(SOURCE_DIR, "build", "cli", "qorvex-patch"))
    CLOCKED_CLI = os.path.abspath(args.clocked_cli) if args.clocked_cli else _preloadable_twin(CLI)
    GENERATOR = os.path.abspath(args.generator or os.path.join(SOURCE_DIR, "tests", "fixtures", "make_game_install.py"))
    return [sys.argv[0]] + rest


def _preloadable_twin(cli):
    """The build's twin of a fully static qorvex-patch, which a preloaded
    fake clock reaches; the program itself when there is none."""
    twin = cli + "-preloadable"
    return twin if os.access(twin, os.X_OK) else cli


def main():
    argv = parse_args()
    if not os.access(CLI, os.X_OK):
        sys.stderr.write("qorvex-patch not found at %s (build it, or pass --cli)\n" % CLI)
        sys.exit(1)
    unittest.main(argv=argv, verbosity=2)


# ---------------------------------------------------------------------------
# Paths as the manifest spells them, and where they lie on disk.

TOOLBAR = "MissionEditor\\modules\\me_toolbar.lua"
AIRCRAFT = "MissionEditor\\modules\\me_aircraft.lua"
SHIP = "MissionEditor\\modules\\me_ship.lua"
STATIC = "MissionEditor\\modules\\me_static.lua"
VEHICLE = "MissionEditor\\modules\\me_vehicle.lua"
SHOWID = "MissionEditor\\modules\\me_showId.lua"
DLG = "MissionEditor\\modules\\dialogs\\me_toolbar.dlg"
MODULE = "MissionEditor\\modules\\me_qorvex_undo.lua"
MODULE_LOG_NAME = "modules/me_qorvex_undo.lua"
LUA_FILES = [TOOLBAR, AIRCRAFT, SHIP, STATIC, VEHICLE, SHOWID]


def disk(rel):
    """The manifest path as a path relative to the install root on this system."""
    return rel.replace("\\", "/")


def basename(rel):
    return rel.replace("\\", "/").rsplit("/", 1)[-1]


# ---------------------------------------------------------------------------
# The test payload: every file, id, marker, anchor and insert key of the real
# manifest, with short snippets of our own.

def entry(id_, marker, anchor, text=None, before=None, **extra):
    e = {"id": id_, "marker": marker, "anchorAfter": anchor}
    if text is not None:
        e["insertText"] = text
    if before is not None:
        e["insertTextBefore"] = before
    e.update(extra)
    return e


FULL_FILES = [
    {"relativePath": TOOLBAR, "patches": [
        entry("toolbar_require", "QORVEX_PATCH:REQUIRE",
              "local Gui \t\t\t\t\t\t= require('dxgui')",
              text="\nlocal e2e_undo_ok, e2e_undo = base.pcall(base.require, 'me_qorvex_undo')\n"),
        entry("toolbar_widget_resolve", "QORVEX_PATCH:WIDGET_RESOLVE",
              "\ttoggleButtonDraw = pMap.toggleButtonDraw",
              text="\tpQORVEX = window.pQORVEX"),
        entry("toolbar_init_call", "QORVEX_PATCH:INIT_CALL",
              "\tif base.test_selectionTool ~= true then\n\t\ttoggleButtonMultiSelection:setVisible(false)\n\tend",
              text="\n\tif e2e_undo_ok and e2e_undo.init then\n\t\te2e_undo.init()\n\tend\n"),
        entry("toolbar_panel_position", "QORVEX_PATCH:PANEL_POSITION",
              "\tif (h-nh-nhMC) < 753 then\n\t\twindow:setBounds(x, y, w*2, h)\n\t\tpanel:setBounds(0, 0, w*2, h)\n\t\tpMap:setPosition(50,0)\n\t\tpMC:setPosition(50,116)\n\t\twidth = w*2\n\t\tpModME:setPosition(50,116+nhMC)\n\telse\n\t\tpMap:setPosition(0,603)\n\t\tpMC:setPosition(0,716)\n\t\tpModME:setPosition(0,716+nhMC)\n\tend",
              text="\tif pQORVEX then\n\t\tpQORVEX:setPosition(pMC:getPosition())\n\tend\n"),
        entry("toolbar_undo_wiring", "QORVEX_PATCH:UNDO_WIRING",
              "    end\n-- toggle buttons",
              before="\n\t-- e2e: undo button\r\n\tif buttonUndo then\r\n\t\tbuttonUndo.onChange = function() e2e_undo.executeUndo() end\n\tend"),
    ]},
    {"relativePath": AIRCRAFT, "patches": [
        entry("aircraft_heading_sp", "QORVEX_PATCH:HEADING_SP",
              "function sp_heading:onChange()\n\t\tlocal value = self:getValue()\n\t\t\n\t\tif value == -1 then\n\t\t\tvalue = 359\n\t\t\tself:setValue(value)\n\t\telseif value == 360 then\n\t\t\tvalue = 0\n\t\t\tself:setValue(value)\n\t\tend",
              text="\n\t\te2e_push('HEADING_UNIT aircraft sp')\n"),
        entry("aircraft_heading_d", "QORVEX_PATCH:HEADING_D",
              "function d_heading:onChange()",
              text="\t\te2e_push('HEADING_UNIT aircraft d')\n"),
        entry("aircraft_rename_group", "QORVEX_PATCH:RENAME_GROUP",
              "vdata.name = module_mission.check_group_name(self:getText())",
              text="\n\t\te2e_push('RENAME_GROUP aircraft')"),
        entry("aircraft_rename_unit", "QORVEX_PATCH:RENAME_UNIT",
              "\t\t\tlocal newName = module_mission.check_unit_name(name)",
              text="\t\t\te2e_push('RENAME_UNIT aircraft', newName)\n"),
    ]},
    {"relativePath": SHIP, "patches": [
        entry("ship_rename_group", "QORVEX_PATCH:RENAME_GROUP",
              "vdata.name = module_mission.check_group_name(self:getText())",
              text="\t\t\te2e_push('RENAME_GROUP ship')\n", before="", anchorAfterOccurrence=1),
        entry("ship_rename_unit", "QORVEX_PATCH:RENAME_UNIT",
              "\t\t\tname = module_mission.check_unit_name(name)",
              text="\t\t\te2e_push('RENAME_UNIT ship', name)\n"),
        entry("ship_heading_sp", "QORVEX_PATCH:HEADING_SP",
              "\tsetHeadingUnit(vdata.group.units[vdata.unit.cur], U.toRadians(value))",
              before="\te2e_push('HEADING_UNIT ship sp', value)\n"),
        entry("ship_heading_d", "QORVEX_PATCH:HEADING_D",
              "\tsetHeadingUnit(vdata.group.units[vdata.unit.cur], newRad)",
              before="\te2e_push('HEADING_UNIT ship d', newRad)\n"),
    ]},
    {"relativePath": STATIC, "patches": [
        entry("static_rename_group", "QORVEX_PATCH:RENAME_GROUP",
              "vdata.name = module_mission.check_group_name(self:getText())",
              text="\t\t\te2e_push('RENAME_GROUP static')\n"),
        entry("static_rename_unit", "QORVEX_PATCH:RENAME_UNIT",
              "\t\t\tname = module_mission.check_unit_name(name)",
              text="\t\t\te2e_push('RENAME_UNIT static', name)\n"),
    ]},
    {"relativePath": VEHICLE, "patches": [
        entry("vehicle_rename_group", "QORVEX_PATCH:RENAME_GROUP",
              "vdata.name = module_mission.check_group_name(self:getText())",
              before="\t\t\te2e_push('RENAME_GROUP vehicle')\n"),
        entry("vehicle_rename_unit", "QORVEX_PATCH:RENAME_UNIT",
              "\t\t\t\tname = module_mission.check_unit_name(name)",
              text="\t\t\t\te2e_push('RENAME_UNIT vehicle', name)\n"),
        entry("vehicle_skill", "QORVEX_PATCH:SKILL",
              "function c_skill:onChange()",
              text="\t\te2e_push('SKILL_UNIT vehicle')\n"),
        entry("vehicle_heading_sp", "QORVEX_PATCH:HEADING_SP",
              "\t\tself:setValue(value)  \n\t\t\n\t\tvdata.group.units[vdata.unit.cur].heading = U.toRadians(value)",
              before="\t\te2e_push('HEADING_UNIT vehicle sp', value)\n"),
        entry("vehicle_heading_d", "QORVEX_PATCH:HEADING_D",
              "\td_heading = window.d_heading\n\n\tfunction d_heading:onChange()   \n\t\tlocal newRad = U.toRadians(self:getValue())",
              text="\t\te2e_push('HEADING_UNIT vehicle d', newRad)\n"),
    ]},
    {"relativePath": SHOWID, "patches": [
        entry("showid_rename_unit", "QORVEX_PATCH:RENAME_UNIT",
              "\t\t\tif unit.name ~= newName then",
              text="\n\t\t\t\te2e_push('RENAME_UNIT showId', newName)\n"),
    ]},
]

DLG_ANCHOR = "\t\t[\"pMap\"] = {"
FULL_DLG_FILES = [
    {"relativePath": DLG, "insertBlockResource": "pQORVEX_block.txt", "anchorBefore": DLG_ANCHOR},
]

FULL_MODULE = (
    "-- e2e undo module\n"
    "local base = _G\n"
    "local M = {}\n"
    "function M.init() end\n"
    "function M.executeUndo() return true end\n"
    "base.me_qorvex_undo = M\n"
    "return M\n"
)

FULL_BLOCK = (
    "\t\t[\"pQORVEX\"] = {\n"
    "\t\t\t[\"params\"] = {\n"
    "\t\t\t\t[\"text\"] = \"panel0\",\n"
    "\t\t\t\t[\"visible\"] = true,\n"
    "\t\t\t},\n"
    "\t\t\t[\"type\"] = \"Panel\",\n"
    "\t\t},\n"
)


def full_manifest():
    return {
        "version": "1.0",
        "description": "End-to-end test manifest.",
        "files": copy.deepcopy(FULL_FILES),
        "dlgFiles": copy.deepcopy(FULL_DLG_FILES),
    }


def patch_text(p):
    """The text the engine inserts for a patch entry."""
    before = p.get("insertTextBefore")
    if before:
        return before
    return p.get("insertText") or ""


def write_payload(folder, manifest=None, module=FULL_MODULE, blocks=None, manifest_text=None):
    """Writes manifest.json, me_qorvex_undo.lua and the block resources into a
    payload folder. None leaves a file out (the embedded one is used)."""
    os.makedirs(folder, exist_ok=True)
    if manifest_text is None and manifest is not None:
        manifest_text = json.dumps(manifest, indent=2)
    if manifest_text is not None:
        with open(os.path.join(folder, "manifest.json"), "wb") as f:
            f.write(manifest_text.encode("utf-8"))
    if module is not None:
        with open(os.path.join(folder, "me_qorvex_undo.lua"), "wb") as f:
            f.write(module.encode("utf-8"))
    if blocks is None:
        blocks = {"pQORVEX_block.txt": FULL_BLOCK}
    for name, text in blocks.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(text.encode("utf-8"))
    return folder


# ---------------------------------------------------------------------------
# Expected log texts.

def header(install_dir, action):
    return "\r\nGame install directory: %s\r\nAction: %s\r\n\r\n" % (install_dir, action)


def summary(success, patched, skipped, backups, errors=()):
    text = ("COMPLETED SUCCESSFULLY" if success else "COMPLETED WITH ERRORS") + "\r\n"
    text += "  %d files patched.\r\n" % patched
    text += "  %d files skipped (already up to date).\r\n" % skipped
    text += "  %d backups created.\r\n" % backups
    if errors:
        text += "  Errors:\r\n"
        for e in errors:
            text += "    - %s\r\n" % e
    return text


def fatal(error):
    return "\r\nFATAL: %s\r\n" % error


REJECTED = "qorvex-patch: The selected directory does not look like a valid game install: %s\n"


def fatal_stderr(path, error):
    """The line that names the file a fatal error happened to."""
    return "qorvex-patch: %s: %s\n" % (path, error)


# What to do about a file a run cannot change, as qorvex-patch on Linux says it.
HINTS = {
    "read-only": "the file is read-only; give it write permission (chmod u+w), then retry",
    "AccessDenied": "you may not change this file or its folder; fix the folder's permissions "
                    "(or run as the user who owns the game files), then retry",
    "FileBusy": "another program has the file open; close DCS World or the program that has the "
                "file open, then retry",
    "NoSpaceLeft": "the drive is full; free space on that drive, then retry",
    "LinkRefused": "a link leads out of the game install here; put the real folder or file in its place",
    "IsDir": "a folder stands where the game has a file; repair the game install, then retry",
    "NotAFile": "this is not a regular file; repair the game install, then retry",
    "StreamTooLong": "the file is larger than 16 MiB, far larger than the game's own; repair the "
                     "game install, then retry",
    "EmbeddedResourceNotFound": "the payload carries no block of the name the manifest gives; check the "
                                "manifest's insertBlockResource and the --payload folder",
    "other": "the file cannot be changed; repair the game install, then retry",
}


def problem_line(path, error, hint=None):
    """The pre-flight line for a file that a run could not change."""
    return "qorvex-patch: %s: %s: %s\n" % (path, error, HINTS[hint or error])


def text_place(text, index):
    """'line:column' of text[index] as qorvex-patch places manifest problems:
    from 1, the column in characters (the texts here end lines in LF)."""
    return "%d:%d" % (text.count("\n", 0, index) + 1, index - text.rfind("\n", 0, index))


def manifest_line(payload, place, entry, message):
    """The stderr line for a problem of the manifest in a --payload folder."""
    return "qorvex-patch: %s/manifest.json:%s: %s: %s\n" % (payload, place, entry, message)


def backup_name(rel, stamp, n=1):
    suffix = "" if n == 1 else "_%d" % n
    return "%s.qorvex-backup_%s%s.bak" % (basename(rel), stamp, suffix)


def backup_path(rel, stamp, n=1):
    folder = disk(rel).rsplit("/", 1)[0]
    return folder + "/" + backup_name(rel, stamp, n)


def backup_line(rel, stamp, n=1):
    return "        backup -> %s\r\n" % backup_name(rel, stamp, n)


def patch_line(rel, applied, already=0):
    if already:
        return "[PATCH] %s - applying %d patch(es), %d already applied.\r\n" % (rel, applied, already)
    return "[PATCH] %s - applying %d patch(es).\r\n" % (rel, applied)


def skip_line(rel, already):
    return "[SKIP] %s - all %d patch(es) already applied.\r\n" % (rel, already)


def dlg_patch_line(rel):
    return "[PATCH] %s - inserting QORVEX panel block.\r\n" % rel


def dlg_skip_line(rel, unmarked=False):
    return "[SKIP] %s - QORVEX panel block already present%s.\r\n" % (rel, " (unmarked)" if unmarked else "")


def uninstall_line(rel, n):
    return "[UNINSTALL] %s - removing %d patch block(s).\r\n" % (rel, n)


def dlg_uninstall_line(rel):
    return "[UNINSTALL] %s - removing QORVEX panel block.\r\n" % rel


MODULE_CREATE = "[CREATE] modules/me_qorvex_undo.lua\r\n"
MODULE_UPDATE = "[UPDATE] modules/me_qorvex_undo.lua\r\n"
MODULE_SKIP = "[SKIP] modules/me_qorvex_undo.lua is already up to date.\r\n"
MODULE_UNINSTALL = "[UNINSTALL] modules/me_qorvex_undo.lua - removing file.\r\n"


def err_missing(rel, n):
    return "%s: file not found, skipped (%d patch(es) not applied)" % (rel, n)


def err_dlg_missing(rel):
    return "%s: file not found, skipped." % rel


def err_not_found(rel, id_):
    return ("%s [%s]: anchor not found - DCS update may have changed this file's structure. "
            "Manual review required." % (rel, id_))


def err_ambiguous(rel, id_, n):
    return ("%s [%s]: anchor matched %d times (ambiguous) - skipped to avoid corrupting the file. "
            "Manual review required." % (rel, id_, n))


def err_dlg_not_found(rel):
    return ("%s: anchor not found - DCS update may have changed this dialog's structure. "
            "Manual review required." % rel)


def err_dlg_ambiguous(rel, n):
    return "%s: anchor matched %d times (ambiguous) - skipped. Manual review required." % (rel, n)


def err_unbalanced(rel, reason):
    return "%s: post-patch balance check failed -> %s. File was NOT written." % (rel, reason)


def err_uninstall_unbalanced(rel, reason):
    return "%s: post-uninstall balance check failed -> %s. File was NOT written." % (rel, reason)


def err_module_unbalanced(reason):
    return "modules/me_qorvex_undo.lua: post-write balance check failed -> %s" % reason


# ---------------------------------------------------------------------------
# Expected file contents.

def begin_line(marker):
    return "-- QORVEX_PATCH_BEGIN[%s]" % marker


def end_line(marker):
    return "-- QORVEX_PATCH_END[%s]" % marker


def block(marker, text):
    body = text.replace("\r\n", "\n").replace("\n", "\r\n")
    if body and not body.endswith("\r\n"):
        body += "\r\n"
    return ("\r\n" + begin_line(marker) + "\r\n" + body + end_line(marker) + "\r\n").encode("utf-8")


def dialog_marker(resource):
    last = resource.replace("\\", "/").rsplit("/", 1)[-1]
    dot = last.rfind(".")
    if dot == 0:
        stem = resource
    elif dot < 0:
        stem = last
    else:
        stem = last[:dot]
    return "DLG_BLOCK:" + stem


def literal(anchor, eol):
    return anchor.replace("\n", eol).encode("utf-8")


def insert_after(data, anchor_bytes, insertion):
    if data.count(anchor_bytes) != 1:
        raise AssertionError("expected text: anchor %r occurs %d times" % (anchor_bytes[:40], data.count(anchor_bytes)))
    i = data.index(anchor_bytes) + len(anchor_bytes)
    return data[:i] + insertion + data[i:]


def insert_before(data, anchor_bytes, insertion):
    if data.count(anchor_bytes) != 1:
        raise AssertionError("expected text: anchor %r occurs %d times" % (anchor_bytes[:40], data.count(anchor_bytes)))
    i = data.index(anchor_bytes)
    return data[:i] + insertion + data[i:]


def patched_lua(data, file_entry, eol, only=None):
    """The file after its patch blocks were inserted after their literal anchors
    (all of them, or the ids in `only`)."""
    for p in file_entry["patches"]:
        if only is not None and p["id"] not in only:
            continue
        data = insert_after(data, literal(p["anchorAfter"], eol), block(p["marker"], patch_text(p)))
    return data


def patched_dlg(data, dlg_entry, block_text, eol):
    return insert_before(data, literal(dlg_entry["anchorBefore"], eol),
                         block(dialog_marker(dlg_entry["insertBlockResource"]), block_text))


def lua_line_of(data, needle):
    """1-based line of the first byte of needle, counting LF bytes."""
    return data[:data.index(needle)].count(b"\n") + 1


# ---------------------------------------------------------------------------
# Installs, trees and runs.

_generated = {}


@atexit.register
def _remove_generated():
    for folder in _generated.values():
        shutil.rmtree(folder, ignore_errors=True)


def generated_install(crlf=False, toolbar_size=None):
    """A cached generated install; copy it before changing it."""
    key = (crlf, toolbar_size)
    if key not in _generated:
        folder = tempfile.mkdtemp(prefix="qorvex-e2e-gen-")
        args = [sys.executable, GENERATOR, folder]
        if crlf:
            args.append("--crlf")
        if toolbar_size is not None:
            args += ["--toolbar-size", str(toolbar_size)]
        subprocess.run(args, check=True)
        _generated[key] = folder
    return _generated[key]


def read_tree(root):
    """Every file under root as {relative path with '/': bytes}; folders as
    {path + '/': None}, so new empty folders show too."""
    tree = {}
    for dirpath, dirnames, filenames in os.walk(root):
        rel_dir = os.path.relpath(dirpath, root).replace(os.sep, "/")
        prefix = "" if rel_dir == "." else rel_dir + "/"
        for d in dirnames:
            tree[prefix + d + "/"] = None
        for name in filenames:
            with open(os.path.join(dirpath, name), "rb") as f:
                tree[prefix + name] = f.read()
    return tree


def read(root, rel):
    with open(os.path.join(root, disk(rel)), "rb") as f:
        return f.read()


def write(root, rel, data):
    with open(os.path.join(root, disk(rel)), "wb") as f:
        f.write(data)


class RunResult:
    def __init__(self, rc, stdout, stderr):
        self.rc = rc
        self.stdout = stdout
        self.stderr = stderr


def printed(log_text):
    """What the CLI prints for a run log on POSIX: its CR LF line ends as LF."""
    return log_text.replace("\r\n", "\n")


def stamp_of(clock):
    """'2025-01-31 23:59:59' -> '20250131_235959'."""
    return clock.replace("-", "").replace(":", "").replace(" ", "_")


def _file_size_limit(limit):
    def apply():
        # Past the limit a write fails with EFBIG instead of killing the
        # process; this holds for root as well.
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return apply


_EMPTY_HOME = None


def _empty_home():
    """A home folder without any Steam, so that no run looks at the real
    user's game when INSTALL_DIR is left out."""
    global _EMPTY_HOME
    if _EMPTY_HOME is None:
        _EMPTY_HOME = tempfile.mkdtemp(prefix="qorvex-e2e-home-")
        atexit.register(shutil.rmtree, _EMPTY_HOME, True)
    return _EMPTY_HOME


def run_cli(args, cwd=None, clock=None, timeout=300, file_size_limit=None, home=None):
    """Runs qorvex-patch; with clock (UTC 'YYYY-MM-DD HH:MM:SS') under a
    stopped fake clock; with file_size_limit no file it writes can grow past
    that many bytes. HOME is `home`, by default an empty folder."""
    cmd = [CLOCKED_CLI if clock is not None else CLI] + list(args)
    env = dict(os.environ)
    env["HOME"] = home if home is not None else _empty_home()
    if clock is not None:
        faketime = shutil.which("faketime")
        if faketime is None:
            raise AssertionError("faketime is needed for the pinned-clock runs (scripts/setup.sh installs it)")
        cmd = [faketime, "-f", clock] + cmd
        env["TZ"] = "UTC"
        # libfaketime is preloaded; a sanitizer build must not insist on coming first.
        env["ASAN_OPTIONS"] = "verify_asan_link_order=0:" + env.get("ASAN_OPTIONS", "")
    preexec = _file_size_limit(file_size_limit) if file_size_limit is not None else None
    p = subprocess.run(cmd, cwd=cwd, env=env, capture_output=True, timeout=timeout, preexec_fn=preexec)
    return RunResult(p.returncode, p.stdout, p.stderr)


class E2ETestCase(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="qorvex-e2e-")

    def tearDown(self):
        for dirpath, dirnames, filenames in os.walk(self.tmp):
            for d in dirnames:
                os.chmod(os.path.join(dirpath, d), 0o755)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def new_install(self, name="install", crlf=False, toolbar_size=None):
        dest = os.path.join(self.tmp, name)
        shutil.copytree(generated_install(crlf, toolbar_size), dest)
        return dest

    def new_payload(self, name="payload", **kwargs):
        if "manifest" not in kwargs and "manifest_text" not in kwargs:
            kwargs["manifest"] = full_manifest()
        return write_payload(os.path.join(self.tmp, name), **kwargs)

    def assertRun(self, result, rc, stdout, stderr=b""):
        """Whole stdout, whole stderr and the exit status."""
        if isinstance(stdout, str):
            stdout = stdout.encode("utf-8")
        if isinstance(stderr, str):
            stderr = stderr.encode("utf-8")
        # The run log ends its lines in CR LF; on POSIX the CLI prints them
        # with LF alone.
        stdout = stdout.replace(b"\r\n", b"\n")
        self.assertEqual(result.stdout.decode("utf-8", "replace"), stdout.decode("utf-8", "replace"))
        self.assertEqual(result.stdout, stdout)
        self.assertEqual(result.stderr.decode("utf-8", "replace"), stderr.decode("utf-8", "replace"))
        self.assertEqual(result.rc, rc)

    def assertTree(self, root, expected):
        actual = read_tree(root)
        self.assertEqual(sorted(actual), sorted(expected), "file names under %s" % root)
        for name in sorted(expected):
            self.assertEqual(actual[name], expected[name], "content of %s" % name)
