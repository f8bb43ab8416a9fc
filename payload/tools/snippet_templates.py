"""The snippet families: heading and rename snippets that do the same thing in
several Mission Editor panels. Each family is written once, as a template in
payload/snippets/templates/, and filled in per panel from the SNIPPETS table
below, which says everything that differs between the panels. Every filled-in
text is a whole, standalone snippet: the game file it goes into has no shared
code to call, and each block must still balance and come out on its own.

Templates are string.Template texts with ${name} slots and these rules:
- a slot alone on its line takes the lines of its value, each indented like
  the slot; an empty value takes the line away;
- a slot inside a line takes its value as it is, and any further lines of the
  value are indented like that line (for a condition that runs on);
- every slot needs a value and every value a slot, so a misspelt name fails.

build_manifest.py puts the filled-in texts into the manifest and also writes
them, under a generated-file notice, to payload/snippets/{id}.lua, where
luacheck and luac see them like the hand-written snippets.
"""
import os
import re
import string

PAYLOAD_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TEMPLATE_DIR = os.path.join(PAYLOAD_DIR, 'snippets', 'templates')

# --- heading family (templates/heading.lua.in) ---------------------------

# Where the snippet stands against the panel's own store of the new heading.
# Before it, the unit still has its old heading. After it, the old one can
# only come from the undo module's record of the last heading it saw, so that
# record is required, and kept up to date either way.
HEADING_STAGES = {
    'before_store': {
        'ready': 'unit ~= nil and undo ~= nil and undo.pushTransaction ~= nil',
        'takeHeadings': 'local oldHeading = unit.heading\n'
                        'local newHeading = nil',
        'readOld': '',
        'changed': 'oldHeading ~= nil and oldHeading ~= newHeading',
        'rememberNew': 'if undo.rememberHeading ~= nil then\n'
                       '    undo.rememberHeading(unit, newHeading)\n'
                       'end',
    },
    'after_store': {
        'ready': 'unit ~= nil and undo ~= nil and undo.pushTransaction ~= nil and undo.lastHeading ~= nil\n'
                 '    and undo.rememberHeading ~= nil',
        'takeHeadings': 'local newHeading = unit.heading',
        'readOld': 'local oldHeading = undo.lastHeading(unit)',
        'changed': 'oldHeading ~= nil and newHeading ~= nil and oldHeading ~= newHeading',
        'rememberNew': 'undo.rememberHeading(unit, newHeading)',
    },
}

# How the new heading is read from what the anchor's place offers. Only some
# panels have the U helpers in scope; the others convert degrees themselves.
HEADING_READS = {
    'value_degrees': """\
if base.type(value) == 'number' then
    newHeading = value * base.math.pi / 180
end""",
    'dial_degrees': """\
if self ~= nil and self.getValue ~= nil then
    local degrees = self:getValue()
    if base.type(degrees) == 'number' then
        newHeading = degrees * base.math.pi / 180
    end
end""",
    'value_to_radians': """\
if U ~= nil and U.toRadians ~= nil and base.type(value) == 'number' then
    newHeading = U.toRadians(value)
end""",
    'new_rad': """\
if base.type(newRad) == 'number' then
    newHeading = newRad
end""",
}

# How the undo puts the old heading back.
HEADING_TURNS = {
    'set_field': {
        'findTurn': '',
        'restore': 'unit.heading = oldHeading',
        'shownAt': 'group, unitIndex',
        'raiseTurnError': '',
    },
    'turn_ship': {
        'findTurn': """\
-- The panel turns a ship with its own setHeadingUnit, which also
-- turns the aircraft parked on it, so the undo turns it back the
-- same way. Read under protection: a strict global table raises
-- an error for a name this version of the file does not have.
local found, turnShip = base.pcall(function()
    return setHeadingUnit
end)
if not found or base.type(turnShip) ~= 'function' then
    turnShip = nil
end""",
        'restore': """\
local turned, turnError = false, nil
if turnShip ~= nil then
    turned, turnError = base.pcall(turnShip, unit, oldHeading)
end
if not turned then
    unit.heading = oldHeading
end""",
        'shownAt': 'group',
        'raiseTurnError': """\
-- Raised last, so that the ship is turned and shown anyway and
-- the undo module still logs what went wrong.
if turnShip ~= nil and not turned then
    base.error(turnError, 0)
end""",
    },
}


def heading(stage, read, turn):
    return dict(HEADING_STAGES[stage], readNew=HEADING_READS[read], **HEADING_TURNS[turn])


# --- rename family (templates/rename.lua.in) -----------------------------

# What a group rename and a unit rename do in a panel that keeps the edited
# group in vdata.group and its current unit in vdata.unit.cur. newName is what
# the anchor's place calls the new name, which differs between the panels.
RENAME_KINDS = {
    'group': {
        'find': 'local group = vdata and vdata.group',
        'found': 'group ~= nil',
        'takeOld': 'local oldName = group.name',
        'newName': 'vdata.name',
        'transaction': 'RENAME_GROUP_',
        'renamed': 'group',
        'idField': 'groupId',
        'gone': 'group == nil',
        'renamer': 'renameGroup',
        'renameMore': '',
        'refreshable': 'unitsList ~= nil and unitsList.updateGroup ~= nil',
        'refresh': 'unitsList.updateGroup(group)',
    },
    'unit': {
        'find': 'local group = vdata and vdata.group\n'
                'local unit = group and group.units and group.units[vdata.unit and vdata.unit.cur]',
        'found': 'unit ~= nil',
        'takeOld': 'local oldName = unit.name',
        'transaction': 'RENAME_UNIT_',
        'renamed': 'unit',
        'idField': 'unitId',
        'gone': 'group == nil or unit == nil',
        'renamer': 'renameUnit',
        'renameMore': '',
        'refreshable': 'unitsList ~= nil and unitsList.updateRow ~= nil',
        'refresh': 'unitsList.updateRow(group, unit)',
    },
}


def rename(kind, **panel):
    return dict(RENAME_KINDS[kind], **panel)


# A static object is a group of one unit whose name the Mission Editor keeps
# with the group's, so a group rename also puts the unit's name back, and the
# units list shows that unit's row rather than a group.
STATIC_GROUP = {
    'takeOld': """\
local oldName = group.name
local firstUnit = group.units and group.units[1]
local oldUnitName = firstUnit and firstUnit.name""",
    'renameMore': """\
if firstUnit ~= nil and oldUnitName ~= nil and mission.renameUnit ~= nil then
    mission.renameUnit(firstUnit, oldUnitName)
end""",
    'refreshable': 'firstUnit ~= nil and unitsList ~= nil and unitsList.updateRow ~= nil',
    'refresh': 'unitsList.updateRow(group, firstUnit)',
}

STATIC_UNIT_FIND = """\
local group = vdata and vdata.group
-- The static panel keeps its current unit in vdata.unitCur; the other
-- panels, and perhaps other versions of this one, in vdata.unit.cur.
local unitIndex = vdata and vdata.unitCur
if unitIndex == nil then
    unitIndex = vdata and vdata.unit and vdata.unit.cur
end
local unit = group and group.units and group.units[unitIndex or 1]"""

# The unit id box's place has no vdata, only the edited unit as unit, whose
# boss is its group. The undo holds that unit in a local of its own, so it
# keeps to the unit renamed here whatever the place's unit names later.
SHOWID_UNIT = {
    'find': "local group = base.type(unit) == 'table' and unit.boss or nil",
    'found': "base.type(group) == 'table'",
    'takeOld': 'local renamedUnit = unit\n'
               'local oldName = renamedUnit.name',
    'newName': 'newName',
    'renamed': 'renamedUnit',
    'gone': 'renamedUnit == nil',
    'refresh': 'unitsList.updateRow(group, renamedUnit)',
}

# --- the panels -----------------------------------------------------------

# id: (template, slot values, the snippet's opening comment). The comment says
# what the anchor's place holds, which is the reason for the choices beside it.
SNIPPETS = {
    'aircraft_heading_sp': ('heading', heading('before_store', 'value_degrees', 'set_field'), """\
-- Undo feature (me_aircraft): heading typed into the spin box. The unit still
-- has its old heading here; value is the new one in degrees."""),
    'aircraft_heading_d': ('heading', heading('before_store', 'dial_degrees', 'set_field'), """\
-- Undo feature (me_aircraft): heading turned on the dial. The unit still has
-- its old heading here; the dial shows the new one in degrees."""),
    'ship_heading_sp': ('heading', heading('after_store', 'value_to_radians', 'turn_ship'), """\
-- Undo feature (me_ship): heading typed into the spin box. The new heading is
-- already stored here, so the old one comes from the undo module's record of
-- the last heading it saw for this unit."""),
    'ship_heading_d': ('heading', heading('after_store', 'new_rad', 'turn_ship'), """\
-- Undo feature (me_ship): heading turned on the dial. The new heading newRad
-- is already stored here, so the old one comes from the undo module's record
-- of the last heading it saw for this unit."""),
    'vehicle_heading_sp': ('heading', heading('after_store', 'value_to_radians', 'set_field'), """\
-- Undo feature (me_vehicle): heading typed into the spin box. The new heading
-- is already stored here, so the old one comes from the undo module's record
-- of the last heading it saw for this unit."""),
    'vehicle_heading_d': ('heading', heading('before_store', 'new_rad', 'set_field'), """\
-- Undo feature (me_vehicle): heading turned on the dial. The unit still has
-- its old heading here; newRad is the new one."""),

    'aircraft_rename_group': ('rename', rename('group'), """\
-- Undo feature (me_aircraft): group rename. vdata.name holds the new name; the
-- group still has its old one."""),
    'ship_rename_group': ('rename', rename('group'), """\
-- Undo feature (me_ship): group rename. vdata.name holds the new name; the
-- group still has its old one."""),
    'static_rename_group': ('rename', rename('group', **STATIC_GROUP), """\
-- Undo feature (me_static): group rename. A static object is a group of one
-- unit whose name the Mission Editor keeps with the group's, so the undo puts
-- both names back. vdata.name holds the new group name."""),
    'vehicle_rename_group': ('rename', rename('group'), """\
-- Undo feature (me_vehicle): group rename. vdata.name holds the new name; the
-- group still has its old one."""),

    'aircraft_rename_unit': ('rename', rename('unit', newName='newName'), """\
-- Undo feature (me_aircraft): unit rename. newName holds the new name; the unit
-- still has its old one."""),
    'ship_rename_unit': ('rename', rename('unit', newName='name'), """\
-- Undo feature (me_ship): unit rename. name holds the new name; the unit
-- still has its old one."""),
    'static_rename_unit': ('rename', rename('unit', newName='name', find=STATIC_UNIT_FIND), """\
-- Undo feature (me_static): unit rename. name holds the new name; the unit
-- still has its old one. A static object has one unit."""),
    'vehicle_rename_unit': ('rename', rename('unit', newName='name'), """\
-- Undo feature (me_vehicle): unit rename. name holds the new name; the unit
-- still has its old one."""),
    'showid_rename_unit': ('rename', rename('unit', **SHOWID_UNIT), """\
-- Undo feature (me_showId): unit rename from the unit id box. newName is the
-- new name; unit still has its old one. Its group is the unit's boss."""),
}

SLOT = re.compile(r'\$\{(\w+)\}')
SLOT_ALONE = re.compile(r' *\$\{(\w+)\}$')


def template_path(name):
    return os.path.join(TEMPLATE_DIR, name + '.lua.in')


def indent_rest(text, indent):
    lines = text.split('\n')
    return '\n'.join(lines[:1] + [indent + line if line else line for line in lines[1:]])


def fill(name, template_text, values):
    slots = set(SLOT.findall(template_text))
    if slots != set(values):
        raise SystemExit('{}: slots without a value: {}; values without a slot: {}'.format(
            template_path(name), sorted(slots - set(values)) or 'none',
            sorted(set(values) - slots) or 'none'))
    lines = []
    for line in template_text.split('\n'):
        alone = SLOT_ALONE.match(line)
        if alone and values[alone.group(1)] == '':
            continue
        indent = line[:len(line) - len(line.lstrip(' '))]
        lines.append(string.Template(line).substitute(
            {slot: indent_rest(value, indent) for slot, value in values.items()}))
    return '\n'.join(lines)


def render(entry_id):
    """The snippet text of a family member, as the manifest carries it."""
    name, values, comment = SNIPPETS[entry_id]
    with open(template_path(name), 'rb') as f:
        template_text = f.read().decode('ascii')
    return fill(name, template_text, dict(values, comment=comment))


def generated_file_text(entry_id):
    """What payload/snippets/{id}.lua holds for a family member: the snippet
    under a notice, so that nobody edits a copy that the next build replaces."""
    name = SNIPPETS[entry_id][0]
    return ('-- Generated: edit payload/snippets/templates/{}.lua.in or the SNIPPETS\n'
            '-- table in payload/tools/snippet_templates.py, then run build_manifest.py.\n'
            .format(name) + render(entry_id))
