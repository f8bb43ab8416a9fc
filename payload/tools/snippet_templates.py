"""The snippet families: heading snippets that do the same thing in several
Mission Editor panels. Each family is written once, as a template in
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
