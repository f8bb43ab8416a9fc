-- A stand-in Mission Editor for the payload tests: the log module, the map
-- window, the mission module, the units list and the unit panels, each
-- recording the calls it gets. new() resets everything, including the
-- globals the undo module publishes, and returns a fresh world.
local mock = {}

local thisFile = debug.getinfo(1, 'S').source:sub(2)
local testsDir = thisFile:match('^(.*)/support/mock_me%.lua$') or '.'
mock.repoRoot = os.getenv('QORVEX_SOURCE_DIR') or (testsDir .. '/../..')
mock.modulePath = mock.repoRoot .. '/payload/me_qorvex_undo.lua'

-- Distinct values, so that a level passed as the plain text 'INFO' is caught.
local LEVELS = { INFO = 101, WARNING = 102, ERROR = 103 }
local LEVEL_NAMES = { [101] = 'INFO', [102] = 'WARNING', [103] = 'ERROR' }

local MODULE_NAMES = {
    'log', 'me_map_window', 'me_mission', 'me_units_list', 'me_aircraft', 'me_vehicle',
    'me_static', 'me_ship', 'me_qorvex_undo',
}

function mock.readFile(path)
    local file = assert(io.open(path, 'rb'))
    local text = file:read('*a')
    file:close()
    return text
end

function mock.new()
    for _, name in ipairs(MODULE_NAMES) do
        package.loaded[name] = nil
        package.preload[name] = nil
    end
    _G.me_qorvex_undo = nil
    _G.module_mission = nil
    _G.panel_units_list = nil

    local me = { calls = {}, logLines = {} }

    local function record(name, ...)
        me.calls[#me.calls + 1] = { name = name, n = select('#', ...), ... }
    end
    me.record = record

    -- log
    local log = { INFO = LEVELS.INFO, WARNING = LEVELS.WARNING, ERROR = LEVELS.ERROR }
    function log.write(tag, level, text)
        me.logLines[#me.logLines + 1] = { tag = tag, level = LEVEL_NAMES[level] or tostring(level), text = text }
    end
    me.log = log
    package.loaded.log = log

    -- me_mission
    local mission = { group_by_id = {}, group_by_name = {}, unit_by_id = {}, unit_by_name = {} }
    function mission.create_group_map_objects(group)
        record('create_group_map_objects', group)
    end
    function mission.renameGroup(group, name)
        record('renameGroup', group, name)
        mission.group_by_name[group.name] = nil
        group.name = name
        mission.group_by_name[name] = group
    end
    function mission.renameUnit(unit, name)
        record('renameUnit', unit, name)
        mission.unit_by_name[unit.name] = nil
        unit.name = name
        mission.unit_by_name[name] = unit
    end
    function mission.updateHeading(group, index)
        record('updateHeading', group, index)
    end
    me.mission = mission
    package.loaded.me_mission = mission

    -- the mission's data: one country with one group list per category
    me.country = { name = 'Testland', id = 2, plane = { group = {} }, ship = { group = {} },
        static = { group = {} }, vehicle = { group = {} } }

    -- me_map_window
    local map = { selectedGroup = nil, selectedUnit = nil }
    function map.getSelectedUnit()
        return map.selectedUnit
    end
    -- A press may select (as the real map does before a drag); a release
    -- ends the drag and leaves the moved object where pendingMove says.
    function map.panState_onMouseDown(self, x, y, button)
        record('panState_onMouseDown', self, x, y, button)
        if map.selectOnDown then
            map.selectedGroup, map.selectedUnit = map.selectOnDown.group, map.selectOnDown.unit
        end
        return 'down-result', nil, x
    end
    function map.panState_onMouseUp(self, x, y, button)
        record('panState_onMouseUp', self, x, y, button)
        local move = map.pendingMove
        if move then
            move.target.x, move.target.y = move.x, move.y
            if move.alsoMoves then
                move.alsoMoves.x, move.alsoMoves.y = move.x, move.y
            end
            map.pendingMove = nil
        end
        return 'up-result', y
    end
    -- Takes a group out of its country's list and the mission's lookups.
    local function dropFromMission(group)
        local list = group.boss and group.boss[group.type] and group.boss[group.type].group
        if list then
            for i, g in ipairs(list) do
                if g == group then
                    table.remove(list, i)
                    break
                end
            end
        end
        mission.group_by_id[group.groupId or false] = nil
        mission.group_by_name[group.name or false] = nil
        for _, unit in ipairs(group.units or {}) do
            mission.unit_by_id[unit.unitId] = nil
            mission.unit_by_name[unit.name] = nil
        end
    end

    -- A version without remove_group: removeSelectedGroups is where a group
    -- is deleted. useRemoveGroup() below switches to the other way.
    function map.removeSelectedGroups(group, ...)
        record('removeSelectedGroups', group, ...)
        dropFromMission(group)
        return 'removed', select('#', ...)
    end
    function map.move_unit(group, unit, x, y)
        record('move_unit', group, unit, x, y)
        unit.x, unit.y = x, y
    end
    function map.move_waypoint(group, index, x, y)
        record('move_waypoint', group, index, x, y)
        local point = group.route.points[index]
        point.x, point.y = x, y
        if index == 1 and group.units[1] then
            group.units[1].x, group.units[1].y = x, y
        end
    end
    function map.updateSelectedGroup(group)
        record('updateSelectedGroup', group)
    end
    me.map = map
    package.loaded.me_map_window = map

    -- me_units_list: no isVisible, always refreshed
    local unitsList = {}
    function unitsList.update()
        record('units_list.update')
    end
    function unitsList.updateGroup(group)
        record('units_list.updateGroup', group)
    end
    function unitsList.updateRow(group, unit)
        record('units_list.updateRow', group, unit)
    end
    me.unitsList = unitsList
    package.loaded.me_units_list = unitsList

    -- the unit panels
    me.panels = {}
    for _, name in ipairs({ 'me_aircraft', 'me_vehicle', 'me_static', 'me_ship' }) do
        local panel = { visible = false }
        function panel.isVisible()
            return panel.visible
        end
        function panel.update()
            record(name .. '.update')
        end
        me.panels[name] = panel
        package.loaded[name] = panel
    end

    -- The mission module deletes through remove_group, which first takes the
    -- still intact group out of the map's selection; a Shift+click on a
    -- selected group calls removeSelectedGroups alone and deletes nothing.
    -- Call before the undo module's init, which looks for remove_group.
    function me.useRemoveGroup()
        map.selection = {}
        function map.removeSelectedGroups(group, ...)
            record('removeSelectedGroups', group, ...)
            for i, selected in ipairs(map.selection) do
                if selected == group then
                    table.remove(map.selection, i)
                    break
                end
            end
            return 'deselected', select('#', ...)
        end
        function mission.remove_group(group, ...)
            record('remove_group', group, ...)
            map.removeSelectedGroups(group)
            dropFromMission(group)
            return 'group removed', select('#', ...)
        end
        function map.shiftClick(group)
            for _, selected in ipairs(map.selection) do
                if selected == group then
                    return map.removeSelectedGroups(group)
                end
            end
            map.selection[#map.selection + 1] = group
        end
    end

    -- The ship panel's own way to turn a ship: the aircraft parked on it
    -- (unit.parked) turn with it.
    function me.shipSetHeadingUnit(unit, heading)
        record('setHeadingUnit', unit, heading)
        unit.heading = heading
        for _, aircraft in ipairs(unit.parked or {}) do
            aircraft.heading = heading
        end
    end

    -- A combo box of the unit panels: items carry the value in itemId and
    -- show a text; selecting an item shows its text.
    function me.comboBox(values)
        local box = { items = {}, text = nil, selected = nil }
        for i, value in ipairs(values) do
            local itemText = 'Skill ' .. value
            box.items[i] = { itemId = value, getText = function() return itemText end }
        end
        function box:getItemCount()
            return #self.items
        end
        function box:getItem(index)
            -- zero-based here; the snippet must cope with either base
            local item = self.items[index + 1]
            if item == nil then
                error('item index out of range: ' .. tostring(index))
            end
            return item
        end
        function box:selectItem(item)
            record('selectItem', item.itemId)
            self.selected = item
            self.text = item:getText()
        end
        function box:getSelectedItem()
            return self.selected
        end
        function box:setText(text)
            record('setText', text)
            self.text = text
        end
        function box:getText()
            return self.text
        end
        return box
    end

    function me.makeGroup(spec)
        local group = {
            groupId = spec.groupId,
            name = spec.name,
            type = spec.category or 'vehicle',
            boss = me.country,
            units = {},
            route = { points = {} },
        }
        group.route.group = group
        for i, unitSpec in ipairs(spec.units or {}) do
            local unit = {
                unitId = unitSpec.unitId,
                name = unitSpec.name,
                index = i,
                x = unitSpec.x or 0,
                y = unitSpec.y or 0,
                heading = unitSpec.heading,
                skill = unitSpec.skill,
                boss = group,
            }
            group.units[i] = unit
            if unit.unitId then
                mission.unit_by_id[unit.unitId] = unit
            end
            if unit.name then
                mission.unit_by_name[unit.name] = unit
            end
        end
        for i, point in ipairs(spec.points or {}) do
            group.route.points[i] = { x = point.x, y = point.y }
        end
        local list = me.country[group.type].group
        list[#list + 1] = group
        if group.groupId then
            mission.group_by_id[group.groupId] = group
        end
        if group.name then
            mission.group_by_name[group.name] = group
        end
        return group
    end

    -- A fresh copy of the undo module, loaded the way me_toolbar.lua loads it.
    function me.loadModule()
        package.preload.me_qorvex_undo = assert(loadfile(mock.modulePath))
        return require('me_qorvex_undo')
    end

    function me.callsOf(name)
        local found = {}
        for _, call in ipairs(me.calls) do
            if call.name == name then
                found[#found + 1] = call
            end
        end
        return found
    end

    function me.callNames()
        local names = {}
        for _, call in ipairs(me.calls) do
            names[#names + 1] = call.name
        end
        return names
    end

    -- Every log line as "LEVEL text"; lines with another tag than QORVEX are
    -- shown with their tag so that a test sees them.
    function me.logTexts()
        local texts = {}
        for _, line in ipairs(me.logLines) do
            local prefix = line.tag == 'QORVEX' and '' or ('[' .. tostring(line.tag) .. '] ')
            texts[#texts + 1] = prefix .. line.level .. ' ' .. tostring(line.text)
        end
        return texts
    end

    function me.clearLog()
        me.logLines = {}
    end

    function me.clearCalls()
        me.calls = {}
    end

    return me
end

return mock
