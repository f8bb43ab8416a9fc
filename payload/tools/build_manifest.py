#!/usr/bin/env python3
"""Builds payload/manifest.json from the entry table below and the snippets:
hand-written ones from payload/snippets/{id}.lua, the heading and rename
families from their templates (snippet_templates.py says how). The family
members are also written to payload/snippets/{id}.lua, with a notice on top,
for luacheck and luac; they are outputs, like the manifest.

    build_manifest.py            write payload/manifest.json and the family
                                 members' snippet files
    build_manifest.py --check    exit 1 if any of them is not what this
                                 script would write

Anchors are written here in JSON string form (\\t a tab, \\n a line feed, \\"
a double quote), exactly as they appear in the manifest. Every tab, trailing
blank and line break of an anchor is part of the stock text it must match.
"""
import json
import os
import sys

# The check runs from the test suite, which leaves the source tree as it is.
sys.dont_write_bytecode = True
import snippet_templates

PAYLOAD_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SNIPPET_DIR = os.path.join(PAYLOAD_DIR, 'snippets')
MANIFEST_PATH = os.path.join(PAYLOAD_DIR, 'manifest.json')

VERSION = '1.0'
DESCRIPTION = (
    'Patch manifest of the QORVEX Undo feature: each entry describes one '
    'idempotent, anchor-based text insertion applied to a stock DCS Mission '
    'Editor Lua or .dlg file, relative to the DCS installation root (the '
    'folder containing MissionEditor.lua).')

# Insert keys: 'after' carries the snippet under insertText, 'before' under
# insertTextBefore, 'emptyBefore' under insertText with an empty
# insertTextBefore beside it. The engine inserts all of them after the anchor.
FILES = [
    (r'MissionEditor\modules\me_toolbar.lua', [
        ('toolbar_require', 'REQUIRE',
         r"local Gui \t\t\t\t\t\t= require('dxgui')", 'after', None),
        ('toolbar_widget_resolve', 'WIDGET_RESOLVE',
         r"\ttoggleButtonDraw = pMap.toggleButtonDraw", 'after', None),
        ('toolbar_init_call', 'INIT_CALL',
         r"\tif base.test_selectionTool ~= true then\n\t\ttoggleButtonMultiSelection:setVisible(false)\n\tend",
         'after', None),
        ('toolbar_panel_position', 'PANEL_POSITION',
         r"\tif (h-nh-nhMC) < 753 then\n\t\twindow:setBounds(x, y, w*2, h)\n\t\tpanel:setBounds(0, 0, w*2, h)"
         r"\n\t\tpMap:setPosition(50,0)\n\t\tpMC:setPosition(50,116)\n\t\twidth = w*2"
         r"\n\t\tpModME:setPosition(50,116+nhMC)\n\telse\n\t\tpMap:setPosition(0,603)"
         r"\n\t\tpMC:setPosition(0,716)\n\t\tpModME:setPosition(0,716+nhMC)\n\tend",
         'after', None),
        ('toolbar_undo_wiring', 'UNDO_WIRING',
         r"    end\n-- toggle buttons", 'before', None),
    ]),
    (r'MissionEditor\modules\me_aircraft.lua', [
        ('aircraft_heading_sp', 'HEADING_SP',
         r"function sp_heading:onChange()\n\t\tlocal value = self:getValue()\n\t\t\n\t\tif value == -1 then"
         r"\n\t\t\tvalue = 359\n\t\t\tself:setValue(value)\n\t\telseif value == 360 then"
         r"\n\t\t\tvalue = 0\n\t\t\tself:setValue(value)\n\t\tend",
         'after', None),
        ('aircraft_heading_d', 'HEADING_D',
         r"function d_heading:onChange()", 'after', None),
        ('aircraft_rename_group', 'RENAME_GROUP',
         r"vdata.name = module_mission.check_group_name(self:getText())", 'after', None),
        ('aircraft_rename_unit', 'RENAME_UNIT',
         r"\t\t\tlocal newName = module_mission.check_unit_name(name)", 'after', None),
    ]),
    (r'MissionEditor\modules\me_ship.lua', [
        ('ship_rename_group', 'RENAME_GROUP',
         r"vdata.name = module_mission.check_group_name(self:getText())", 'emptyBefore', 1),
        ('ship_rename_unit', 'RENAME_UNIT',
         r"\t\t\tname = module_mission.check_unit_name(name)", 'after', None),
        ('ship_heading_sp', 'HEADING_SP',
         r"\tsetHeadingUnit(vdata.group.units[vdata.unit.cur], U.toRadians(value))", 'before', None),
        ('ship_heading_d', 'HEADING_D',
         r"\tsetHeadingUnit(vdata.group.units[vdata.unit.cur], newRad)", 'before', None),
    ]),
    (r'MissionEditor\modules\me_static.lua', [
        ('static_rename_group', 'RENAME_GROUP',
         r"vdata.name = module_mission.check_group_name(self:getText())", 'after', None),
        ('static_rename_unit', 'RENAME_UNIT',
         r"\t\t\tname = module_mission.check_unit_name(name)", 'after', None),
    ]),
    (r'MissionEditor\modules\me_vehicle.lua', [
        ('vehicle_rename_group', 'RENAME_GROUP',
         r"vdata.name = module_mission.check_group_name(self:getText())", 'before', None),
        ('vehicle_rename_unit', 'RENAME_UNIT',
         r"\t\t\t\tname = module_mission.check_unit_name(name)", 'after', None),
        ('vehicle_skill', 'SKILL',
         r"function c_skill:onChange()", 'after', None),
        ('vehicle_heading_sp', 'HEADING_SP',
         r"\t\tself:setValue(value)  \n\t\t\n\t\tvdata.group.units[vdata.unit.cur].heading = U.toRadians(value)",
         'before', None),
        ('vehicle_heading_d', 'HEADING_D',
         r"\td_heading = window.d_heading\n\n\tfunction d_heading:onChange()   "
         r"\n\t\tlocal newRad = U.toRadians(self:getValue())",
         'after', None),
    ]),
    (r'MissionEditor\modules\me_showId.lua', [
        ('showid_rename_unit', 'RENAME_UNIT',
         r"\t\t\tif unit.name ~= newName then", 'after', None),
    ]),
]

DLG_FILES = [
    (r'MissionEditor\modules\dialogs\me_toolbar.dlg', 'pQORVEX_block.txt', r'\t\t[\"pMap\"] = {'),
]


def decode(json_form):
    return json.loads('"' + json_form + '"')


def snippet_path(entry_id):
    return os.path.join(SNIPPET_DIR, entry_id + '.lua')


def read_snippet(entry_id):
    if entry_id in snippet_templates.SNIPPETS:
        path = snippet_templates.template_path(snippet_templates.SNIPPETS[entry_id][0])
        text = snippet_templates.render(entry_id)
    else:
        path = snippet_path(entry_id)
        with open(path, 'rb') as f:
            text = f.read().decode('ascii')
    if '\r' in text or '\t' in text:
        raise SystemExit(path + ': snippets use LF line ends and spaces only')
    return text


def generated_snippets():
    """(path, text) of every family member's snippet file."""
    return [(snippet_path(entry_id), snippet_templates.generated_file_text(entry_id))
            for entry_id in sorted(snippet_templates.SNIPPETS)]


def read_text(path):
    try:
        with open(path, 'r', encoding='utf-8', newline='') as f:
            return f.read()
    except FileNotFoundError:
        return None


def write_text(path, text):
    with open(path, 'w', encoding='utf-8', newline='\n') as f:
        f.write(text)


def build():
    files = []
    for relative_path, entries in FILES:
        patches = []
        for entry_id, marker, anchor, key, occurrence in entries:
            patch = {
                'id': entry_id,
                'marker': 'QORVEX_PATCH:' + marker,
                'anchorAfter': decode(anchor),
            }
            if occurrence is not None:
                patch['anchorAfterOccurrence'] = occurrence
            snippet = read_snippet(entry_id)
            if key == 'after':
                patch['insertText'] = snippet
            elif key == 'before':
                patch['insertTextBefore'] = snippet
            elif key == 'emptyBefore':
                patch['insertTextBefore'] = ''
                patch['insertText'] = snippet
            else:
                raise SystemExit('unknown insert key ' + key)
            patches.append(patch)
        files.append({'relativePath': relative_path, 'patches': patches})
    dlg_files = [{
        'relativePath': path,
        'insertBlockResource': resource,
        'anchorBefore': decode(anchor),
    } for path, resource, anchor in DLG_FILES]
    manifest = {
        'version': VERSION,
        'description': DESCRIPTION,
        'files': files,
        'dlgFiles': dlg_files,
    }
    return json.dumps(manifest, indent=2, ensure_ascii=True) + '\n'


def main():
    entry_ids = {entry[0] for _, entries in FILES for entry in entries}
    unused = sorted(set(snippet_templates.SNIPPETS) - entry_ids)
    if unused:
        raise SystemExit('snippet_templates.SNIPPETS names no manifest entry: ' + ', '.join(unused))
    outputs = generated_snippets() + [(MANIFEST_PATH, build())]
    if len(sys.argv) > 1 and sys.argv[1] == '--check':
        stale = [path for path, text in outputs if read_text(path) != text]
        for path in stale:
            print(os.path.relpath(path, os.path.dirname(PAYLOAD_DIR)) + ' is out of date')
        if stale:
            print('run payload/tools/build_manifest.py; the heading and rename snippets are made from '
                  'payload/snippets/templates/ and payload/tools/snippet_templates.py, so edit those')
            return 1
        return 0
    for path, text in outputs:
        write_text(path, text)
    return 0


if __name__ == '__main__':
    sys.exit(main())
