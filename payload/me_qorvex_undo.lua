--[[
    QORVEX Undo for the DCS World Mission Editor
    Copyright (c) 2025 Tindrelle

    Permission is hereby granted, free of charge, to any person obtaining a
    copy of this software and associated documentation files (the
    "Software"), to deal in the Software without restriction, including
    without limitation the rights to use, copy, modify, merge, publish,
    distribute, sublicense, and/or sell copies of the Software, and to permit
    persons to whom the Software is furnished to do so, subject to the
    following conditions:

    The above copyright notice and this permission notice shall be included
    in all copies or substantial portions of the Software.

    THE SOFTWARE IS PROVIDED "AS IS", WITHOUT WARRANTY OF ANY KIND, EXPRESS
    OR IMPLIED, INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF
    MERCHANTABILITY, FITNESS FOR A PARTICULAR PURPOSE AND NONINFRINGEMENT. IN
    NO EVENT SHALL THE AUTHORS OR COPYRIGHT HOLDERS BE LIABLE FOR ANY CLAIM,
    DAMAGES OR OTHER LIABILITY, WHETHER IN AN ACTION OF CONTRACT, TORT OR
    OTHERWISE, ARISING FROM, OUT OF OR IN CONNECTION WITH THE SOFTWARE OR THE
    USE OR OTHER DEALINGS IN THE SOFTWARE.

    DCS World and its Mission Editor are products of Eagle Dynamics. This
    module is not made or endorsed by them.
]]

-- The undo engine of the Mission Editor. Loaded by the patched me_toolbar.lua,
-- which calls init() once the toolbar exists. Edits are recorded as
-- transactions (a name and an inverse function) on a bounded stack; the Undo
-- button and Ctrl+Z revert the newest one. Map drags and group deletions are
-- recorded by hooks on the map window; renames, heading and skill changes by
-- small snippets patched into the unit panels.

local base = _G

local qorvex = {
    historyStack = {},
    maxHistory = 20,
    isProcessing = false,
    initialized = false,
}

local LOG_TAG = 'QORVEX'

-- The panels that may show data an undo has just changed, refreshed in this
-- order after every undo.
local REFRESHED_PANELS = { 'me_aircraft', 'me_vehicle', 'me_static', 'me_ship', 'me_units_list' }

-- The last heading seen for each unit. Some panels store a new heading before
-- the patched code can look at it; their snippets take the old heading from
-- here instead. Weak keys: a deleted unit must not be kept alive by this.
local headingRecord = base.setmetatable({}, { __mode = 'k' })

-- The functions this module installed on the map window and the mission
-- module, so that a repeated init never wraps a wrapper. The remove_group
-- wrapper maps to the question its removeSelectedGroups partner asks.
local installedHooks = base.setmetatable({}, { __mode = 'k' })

-- The log module is looked up on every write: the Mission Editor may reload
-- it, and a missing log must not stop an undo.
local function writeLog(levelName, text)
    local ok, log = base.pcall(base.require, 'log')
    if ok and base.type(log) == 'table' and log.write ~= nil then
        log.write(LOG_TAG, log[levelName], text)
    end
end

local function logInfo(text)
    writeLog('INFO', text)
end

local function logWarning(text)
    writeLog('WARNING', text)
end

local function logError(text)
    writeLog('ERROR', text)
end

-- All the values given, nils included, as a table with their count in n:
-- the hooks hand back every result of the function they wrap.
local function packResults(...)
    return { n = base.select('#', ...), ... }
end

function qorvex.deepCopy(orig, seen)
    if base.type(orig) ~= 'table' then
        return orig
    end
    seen = seen or {}
    if seen[orig] ~= nil then
        return seen[orig]
    end
    local copy = {}
    -- Registered before the fields are copied, so that a cycle back to orig
    -- finds this copy instead of recursing.
    seen[orig] = copy
    local key, value = base.next(orig)
    while key ~= nil do
        copy[qorvex.deepCopy(key, seen)] = qorvex.deepCopy(value, seen)
        key, value = base.next(orig, key)
    end
    return copy
end

function qorvex.pushTransaction(actionName, inverseFunction)
    if qorvex.isProcessing then
        return
    end
    local stack = qorvex.historyStack
    stack[#stack + 1] = {
        name = actionName,
        inverse = inverseFunction,
        time = base.os.clock(),
    }
    while #stack > qorvex.maxHistory do
        base.table.remove(stack, 1)
    end
    logInfo('SUCCESS: Registered transaction in stack -> ' .. base.tostring(actionName))
end

-- Remembers the heading a unit has now (or is about to get); nil forgets it.
function qorvex.rememberHeading(unit, heading)
    if base.type(unit) ~= 'table' then
        return
    end
    if base.type(heading) == 'number' then
        headingRecord[unit] = heading
    else
        headingRecord[unit] = nil
    end
end

-- The heading last remembered for a unit, or nil.
function qorvex.lastHeading(unit)
    if base.type(unit) ~= 'table' then
        return nil
    end
    return headingRecord[unit]
end

local function rememberGroupHeadings(group)
    if base.type(group) ~= 'table' or base.type(group.units) ~= 'table' then
        return
    end
    for _, unit in base.ipairs(group.units) do
        if base.type(unit) == 'table' and base.type(unit.heading) == 'number' then
            headingRecord[unit] = unit.heading
        end
    end
end

local function refreshVisiblePanelsSafely()
    for _, moduleName in base.ipairs(REFRESHED_PANELS) do
        local loaded, panel = base.pcall(base.require, moduleName)
        if loaded and base.type(panel) == 'table' and panel.update ~= nil then
            local visible = true
            if panel.isVisible ~= nil then
                local called, result = base.pcall(panel.isVisible)
                visible = called and result == true
            end
            if visible then
                local updated, err = base.pcall(panel.update)
                if not updated then
                    logError("ERROR refreshing panel '" .. moduleName .. "' after undo -> " .. base.tostring(err))
                end
            end
        end
    end
end

function qorvex.executeUndo()
    logInfo('executeUndo() requested.')
    local stack = qorvex.historyStack
    if #stack == 0 then
        logWarning('Undo failed because stack history is empty.')
        return false
    end
    qorvex.isProcessing = true
    local transaction = base.table.remove(stack)
    local ok, err = base.pcall(function()
        logInfo('Reversing action event processing: ' .. base.tostring(transaction.name))
        local inverseOk, inverseErr = base.pcall(transaction.inverse)
        if not inverseOk then
            logError('ERROR processing inverse action payload: ' .. base.tostring(inverseErr))
        end
        refreshVisiblePanelsSafely()
    end)
    qorvex.isProcessing = false
    if not ok then
        logError('ERROR during executeUndo() post-processing -> ' .. base.tostring(err))
        return false
    end
    logInfo('SUCCESS: Reversal event completed.')
    return true
end

local function selectedGroupOf(MapWindow)
    local group = MapWindow.selectedGroup
    if group == nil and MapWindow.getSelectedGroup ~= nil then
        group = MapWindow.getSelectedGroup()
    end
    return group
end

local function selectedUnitOf(MapWindow)
    if MapWindow.getSelectedUnit ~= nil then
        return MapWindow.getSelectedUnit()
    end
    return nil
end

-- What a drag may move: a unit other than the lead, or route point 1, which
-- carries the lead unit and with it the whole group.
local function takeDragSnapshot(MapWindow)
    local group = selectedGroupOf(MapWindow)
    if base.type(group) ~= 'table' then
        return nil
    end
    local unit = selectedUnitOf(MapWindow)
    if base.type(unit) == 'table' and base.type(unit.index) == 'number' and unit.index > 1 then
        return { kind = 'unit', group = group, unit = unit, index = unit.index, x = unit.x, y = unit.y }
    end
    local route = group.route
    local points = base.type(route) == 'table' and route.points or nil
    local point = base.type(points) == 'table' and points[1] or nil
    if base.type(point) == 'table' then
        return { kind = 'waypoint', group = group, index = 1, x = point.x, y = point.y }
    end
    return nil
end

local function pushDragTransaction(MapWindow, snapshot)
    local group = snapshot.group
    if snapshot.kind == 'unit' then
        local unit = snapshot.unit
        if unit.x == snapshot.x and unit.y == snapshot.y then
            return
        end
        logInfo('Unit move detected, pushing undo transaction for unit index ' .. base.tostring(snapshot.index))
        qorvex.pushTransaction('MOVE_UNIT_INDEX_' .. base.tostring(snapshot.index), function()
            if MapWindow.move_unit ~= nil and group ~= nil and unit ~= nil then
                MapWindow.move_unit(group, unit, snapshot.x, snapshot.y)
            end
        end)
    else
        local route = group.route
        local points = base.type(route) == 'table' and route.points or nil
        local point = base.type(points) == 'table' and points[snapshot.index] or nil
        if base.type(point) ~= 'table' or (point.x == snapshot.x and point.y == snapshot.y) then
            return
        end
        logInfo('Waypoint move detected, pushing undo transaction for group ' .. base.tostring(group.groupId))
        qorvex.pushTransaction('MOVE_GROUP_ID_' .. base.tostring(group.groupId), function()
            if MapWindow.move_waypoint ~= nil and group ~= nil then
                MapWindow.move_waypoint(group, snapshot.index, snapshot.x, snapshot.y)
            end
        end)
    end
end

local function hookDragTracking(MapWindow)
    if MapWindow.panState_onMouseDown == nil or MapWindow.panState_onMouseUp == nil then
        logError('CRITICAL ERROR: MapWindow.panState_onMouseDown/panState_onMouseUp does not exist.')
        return
    end
    logInfo('Hooking MapWindow.panState_onMouseDown/panState_onMouseUp for drag tracking...')
    if installedHooks[MapWindow.panState_onMouseDown] or installedHooks[MapWindow.panState_onMouseUp] then
        return
    end
    local previousDown = MapWindow.panState_onMouseDown
    local previousUp = MapWindow.panState_onMouseUp
    local snapshot = nil

    local function onMouseDown(self, x, y, button, ...)
        snapshot = nil
        local results = packResults(previousDown(self, x, y, button, ...))
        -- Recording must never break the map: errors of our own are logged.
        local ok, err = base.pcall(function()
            if button == 1 then
                snapshot = takeDragSnapshot(MapWindow)
            end
            rememberGroupHeadings(selectedGroupOf(MapWindow))
        end)
        if not ok then
            snapshot = nil
            logError('ERROR while recording a map drag -> ' .. base.tostring(err))
        end
        return base.unpack(results, 1, results.n)
    end

    local function onMouseUp(...)
        local taken = snapshot
        snapshot = nil
        local results = packResults(previousUp(...))
        local ok, err = base.pcall(function()
            if taken ~= nil then
                pushDragTransaction(MapWindow, taken)
            end
            -- A drag on the map may have turned a unit: keep the record true.
            rememberGroupHeadings(selectedGroupOf(MapWindow))
        end)
        if not ok then
            logError('ERROR while recording a map drag -> ' .. base.tostring(err))
        end
        return base.unpack(results, 1, results.n)
    end

    installedHooks[onMouseDown] = true
    installedHooks[onMouseUp] = true
    MapWindow.panState_onMouseDown = onMouseDown
    MapWindow.panState_onMouseUp = onMouseUp
end

local function missionModuleNow(fallback)
    if base.type(base.module_mission) == 'table' then
        return base.module_mission
    end
    return fallback
end

-- True while the mission still holds the group or another one with its id:
-- putting the copy back then would leave two groups with one groupId.
local function groupStillPresent(mission, groups, original, groupId)
    if base.type(mission.group_by_id) == 'table' and mission.group_by_id[groupId] ~= nil then
        return true
    end
    for _, listed in base.ipairs(groups) do
        if listed == original or (base.type(listed) == 'table' and listed.groupId == groupId) then
            return true
        end
    end
    return false
end

-- Puts a deleted group back: into its country's list, the mission's lookup
-- tables, onto the map and into the units list.
local function restoreDeletedGroup(MapWindow, mission, country, category, original, copy)
    if mission == nil or base.type(country) ~= 'table' then
        return
    end
    local groupsOfCategory = country[category]
    if base.type(groupsOfCategory) ~= 'table' or base.type(groupsOfCategory.group) ~= 'table' then
        return
    end
    local groups = groupsOfCategory.group
    if groupStillPresent(mission, groups, original, copy.groupId) then
        logWarning('Nothing to restore for group id ' .. base.tostring(copy.groupId)
            .. ': it is still in the mission.')
        return
    end
    groups[#groups + 1] = copy
    if base.type(mission.group_by_id) == 'table' then
        mission.group_by_id[copy.groupId] = copy
    end
    if base.type(mission.group_by_name) == 'table' and copy.name ~= nil then
        mission.group_by_name[copy.name] = copy
    end
    if base.type(copy.units) == 'table' then
        for _, unit in base.ipairs(copy.units) do
            if base.type(mission.unit_by_id) == 'table' and unit.unitId ~= nil then
                mission.unit_by_id[unit.unitId] = unit
            end
            if base.type(mission.unit_by_name) == 'table' and unit.name ~= nil then
                mission.unit_by_name[unit.name] = unit
            end
        end
    end
    rememberGroupHeadings(copy)
    if mission.create_group_map_objects ~= nil then
        mission.create_group_map_objects(copy)
    end
    if MapWindow.updateSelectedGroup ~= nil then
        MapWindow.updateSelectedGroup(copy)
    end
    local unitsList = base.panel_units_list
    if unitsList ~= nil and unitsList.update ~= nil then
        unitsList.update()
    end
end

local function recordDeletion(MapWindow, missionModule, group)
    if base.type(group) ~= 'table' or group.boss == nil or group.type == nil or group.groupId == nil then
        logWarning('Deletion tracked but group data was incomplete (missing boss/type/groupId).')
        return
    end
    local country = group.boss
    local category = group.type
    -- The country stays shared: the copy must point back to the live country,
    -- not to a copy of it (and of every other group in it).
    local seen = {}
    if base.type(country) == 'table' then
        seen[country] = country
    end
    local copy = qorvex.deepCopy(group, seen)
    logInfo('Deletion detected for group id ' .. base.tostring(group.groupId) .. ', pushing undo transaction.')
    qorvex.pushTransaction('DELETE_GROUP_ID_' .. base.tostring(group.groupId), function()
        restoreDeletedGroup(MapWindow, missionModuleNow(missionModule), country, category, group, copy)
    end)
end

-- Wraps the mission module's group removal so that the map window hook can
-- tell a deletion from a deselection: both call removeSelectedGroups, but
-- only a deletion does so from inside remove_group. Returns a function that
-- tells whether a removal is running, or nil where the mission module has no
-- remove_group (then every call counts as a deletion, as it always did).
local function hookGroupRemoval(missionModule)
    if base.type(missionModule) ~= 'table' or missionModule.remove_group == nil then
        return nil
    end
    logInfo('Hooking me_mission.remove_group to tell deletions from deselections...')
    if installedHooks[missionModule.remove_group] then
        return installedHooks[missionModule.remove_group]
    end
    local previousRemoveGroup = missionModule.remove_group
    local runningRemovals = 0

    local function removalRunning()
        return runningRemovals > 0
    end

    local function remove_group(...)
        runningRemovals = runningRemovals + 1
        -- The count must come down even when the removal fails, or every later
        -- deselection would be taken for a deletion.
        local results = packResults(base.pcall(previousRemoveGroup, ...))
        runningRemovals = runningRemovals - 1
        if not results[1] then
            base.error(results[2], 0)
        end
        return base.unpack(results, 2, results.n)
    end

    installedHooks[remove_group] = removalRunning
    missionModule.remove_group = remove_group
    return removalRunning
end

local function hookDeletionTracking(MapWindow, missionModule)
    if MapWindow.removeSelectedGroups == nil then
        logError('CRITICAL ERROR: MapWindow.removeSelectedGroups does not exist.')
        return
    end
    logInfo('Hooking MapWindow.removeSelectedGroups...')
    local removalRunning = hookGroupRemoval(missionModule)
    if installedHooks[MapWindow.removeSelectedGroups] then
        return
    end
    local previousRemove = MapWindow.removeSelectedGroups

    local function removeSelectedGroups(group, ...)
        if removalRunning == nil or removalRunning() then
            -- The deletion itself must happen whatever recording it does.
            local ok, err = base.pcall(recordDeletion, MapWindow, missionModule, group)
            if not ok then
                logError('ERROR while recording a group deletion -> ' .. base.tostring(err))
            end
        end
        return previousRemove(group, ...)
    end

    installedHooks[removeSelectedGroups] = true
    MapWindow.removeSelectedGroups = removeSelectedGroups
end

function qorvex.init()
    logInfo('init() late-binding execution started.')
    if qorvex.initialized then
        logInfo('init() skipped - already active.')
        return
    end

    local MapWindow = base.require('me_map_window')
    local missionModule = base.require('me_mission')

    -- The Mission Editor keeps these two in file-local variables only; the
    -- inverse functions of the panel snippets reach them through these names.
    base.module_mission = missionModule
    if base.panel_units_list == nil then
        local ok, unitsList = base.pcall(base.require, 'me_units_list')
        if ok then
            base.panel_units_list = unitsList
        else
            logError("init(): failed to require('me_units_list') for base.panel_units_list -> "
                .. base.tostring(unitsList))
        end
    end

    hookDragTracking(MapWindow)
    hookDeletionTracking(MapWindow, missionModule)

    qorvex.initialized = true
    logInfo('Initialization finalized successfully. All listening hooks active.')
end

base.me_qorvex_undo = qorvex

return qorvex
