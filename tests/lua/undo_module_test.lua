-- The undo module in a stand-in Mission Editor.
local mock = require('support.mock_me')

describe('me_qorvex_undo', function()
    local me, qorvex

    before_each(function()
        me = mock.new()
        qorvex = me.loadModule()
    end)

    describe('loading', function()
        it('publishes the module table as the global me_qorvex_undo and returns it', function()
            assert.are.equal(qorvex, _G.me_qorvex_undo)
            assert.are.same({}, qorvex.historyStack)
            assert.are.equal(20, qorvex.maxHistory)
            assert.is_false(qorvex.isProcessing)
            assert.is_false(qorvex.initialized)
        end)

        it('is ASCII with LF line ends, four-space indentation and a licence block first', function()
            local text = mock.readFile(mock.modulePath)
            assert.is_nil(text:find('[\128-\255]'))
            assert.is_nil(text:find('\r', 1, true))
            assert.is_nil(text:find('\t', 1, true))
            assert.are.equal('--[[', text:sub(1, 4))
            local licence = text:sub(1, text:find(']]', 1, true))
            assert.truthy(licence:find('Permission is hereby granted', 1, true))
            for line in text:gmatch('[^\n]*') do
                local indent = line:match('^ *')
                assert.are.equal(0, #indent % 4, 'indentation of: ' .. line)
            end
            assert.truthy(text:find('\nlocal base = _G\n', 1, true))
            assert.truthy(text:find('\nbase.me_qorvex_undo = qorvex\n\nreturn qorvex\n$'))
        end)

        it('logs nothing and touches no Mission Editor module while loading', function()
            assert.are.same({}, me.logTexts())
            assert.are.same({}, me.calls)
            assert.is_nil(_G.module_mission)
            assert.is_nil(_G.panel_units_list)
        end)
    end)

    describe('deepCopy', function()
        it('returns anything but a table unchanged', function()
            local f = function() end
            assert.are.equal(5, qorvex.deepCopy(5))
            assert.are.equal('text', qorvex.deepCopy('text'))
            assert.are.equal(f, qorvex.deepCopy(f))
            assert.is_nil(qorvex.deepCopy(nil))
            assert.is_false(qorvex.deepCopy(false))
        end)

        it('copies nested tables into new tables with equal content', function()
            local orig = { a = 1, b = { c = { d = 'x' } }, [1] = 'one' }
            local copy = qorvex.deepCopy(orig)
            assert.are.same(orig, copy)
            assert.are_not.equal(orig, copy)
            assert.are_not.equal(orig.b, copy.b)
            assert.are_not.equal(orig.b.c, copy.b.c)
            copy.b.c.d = 'changed'
            assert.are.equal('x', orig.b.c.d)
        end)

        it('copies table keys too', function()
            local key = { id = 1 }
            local orig = { [key] = 'value' }
            local copy = qorvex.deepCopy(orig)
            local copiedKey = next(copy)
            assert.are_not.equal(key, copiedKey)
            assert.are.same(key, copiedKey)
            assert.are.equal('value', copy[copiedKey])
        end)

        it('keeps shared references shared within the copy', function()
            local shared = { n = 1 }
            local copy = qorvex.deepCopy({ first = shared, second = shared, list = { shared } })
            assert.are_not.equal(shared, copy.first)
            assert.are.equal(copy.first, copy.second)
            assert.are.equal(copy.first, copy.list[1])
        end)

        it('copies a group whose route points back to it into a copy whose route points back to the copy', function()
            local group = me.makeGroup({ groupId = 1, name = 'G', units = { { unitId = 1, name = 'U' } },
                points = { { x = 1, y = 2 } } })
            local seen = { [group.boss] = group.boss }
            local copy = qorvex.deepCopy(group, seen)
            assert.are_not.equal(group, copy)
            assert.are.equal(copy, copy.route.group)
            assert.are.equal(copy, copy.units[1].boss)
            assert.are.equal(group.boss, copy.boss)
            assert.are.equal(copy, seen[group])
        end)

        it('does not copy metatables and reads fields raw', function()
            local meta = { __index = function() return 'inherited' end }
            local orig = setmetatable({ own = 1 }, meta)
            local copy = qorvex.deepCopy(orig)
            assert.is_nil(getmetatable(copy))
            assert.are.same({ own = 1 }, copy)
            assert.is_nil(rawget(copy, 'missing'))
        end)
    end)

    describe('pushTransaction', function()
        it('appends a transaction with name, inverse and the clock time and logs it', function()
            local clock = stub(os, 'clock', 12.5)
            local inverse = function() end
            qorvex.pushTransaction('RENAME_GROUP_4', inverse)
            clock:revert()
            assert.are.equal(1, #qorvex.historyStack)
            assert.are.same({ name = 'RENAME_GROUP_4', inverse = inverse, time = 12.5 }, qorvex.historyStack[1])
            assert.are.same({ 'INFO SUCCESS: Registered transaction in stack -> RENAME_GROUP_4' }, me.logTexts())
        end)

        it('keeps the newest 20 of 21 transactions, oldest first', function()
            for i = 1, 21 do
                qorvex.pushTransaction('T' .. i, function() end)
            end
            assert.are.equal(20, #qorvex.historyStack)
            for i = 1, 20 do
                assert.are.equal('T' .. (i + 1), qorvex.historyStack[i].name)
            end
            assert.are.equal(21, #me.logLines)
        end)

        it('is ignored while an undo is processing', function()
            qorvex.isProcessing = true
            qorvex.pushTransaction('IGNORED', function() end)
            assert.are.same({}, qorvex.historyStack)
            assert.are.same({}, me.logTexts())
        end)
    end)

    describe('executeUndo', function()
        it('returns false with a warning on an empty stack', function()
            assert.is_false(qorvex.executeUndo())
            assert.are.same({
                'INFO executeUndo() requested.',
                'WARNING Undo failed because stack history is empty.',
            }, me.logTexts())
            assert.is_false(qorvex.isProcessing)
        end)

        it('reverts the newest transaction first and logs every step', function()
            local order = {}
            qorvex.pushTransaction('FIRST', function() order[#order + 1] = 'first' end)
            qorvex.pushTransaction('SECOND', function() order[#order + 1] = 'second' end)
            me.clearLog()
            assert.is_true(qorvex.executeUndo())
            assert.are.same({ 'second' }, order)
            assert.are.same({ 'FIRST' }, { qorvex.historyStack[1].name })
            assert.are.same({
                'INFO executeUndo() requested.',
                'INFO Reversing action event processing: SECOND',
                'INFO SUCCESS: Reversal event completed.',
            }, me.logTexts())
            assert.is_true(qorvex.executeUndo())
            assert.are.same({ 'second', 'first' }, order)
            assert.are.equal(0, #qorvex.historyStack)
            assert.is_false(qorvex.executeUndo())
        end)

        it('is processing during the inverse and ignores the pushes the inverse makes', function()
            local processingSeen
            qorvex.pushTransaction('OUTER', function()
                processingSeen = qorvex.isProcessing
                qorvex.pushTransaction('FROM_INVERSE', function() end)
            end)
            me.clearLog()
            assert.is_true(qorvex.executeUndo())
            assert.is_true(processingSeen)
            assert.is_false(qorvex.isProcessing)
            assert.are.same({}, qorvex.historyStack)
            assert.are.same({
                'INFO executeUndo() requested.',
                'INFO Reversing action event processing: OUTER',
                'INFO SUCCESS: Reversal event completed.',
            }, me.logTexts())
            qorvex.pushTransaction('AFTER', function() end)
            assert.are.equal('AFTER', qorvex.historyStack[1].name)
        end)

        it('logs an error of the inverse, still returns true and records pushes afterwards', function()
            qorvex.pushTransaction('BROKEN', function()
                qorvex.pushTransaction('FROM_INVERSE', function() end)
                error('inverse broke', 0)
            end)
            me.clearLog()
            assert.is_true(qorvex.executeUndo())
            assert.is_false(qorvex.isProcessing)
            assert.are.same({
                'INFO executeUndo() requested.',
                'INFO Reversing action event processing: BROKEN',
                'ERROR ERROR processing inverse action payload: inverse broke',
                'INFO SUCCESS: Reversal event completed.',
            }, me.logTexts())
            assert.are.same({}, qorvex.historyStack)
            qorvex.pushTransaction('AFTER', function() end)
            assert.are.equal(1, #qorvex.historyStack)
        end)

        it('returns false and clears isProcessing when the undo fails outside the inverse', function()
            -- An error object whose text cannot be made: logging the inverse's
            -- error raises a second error outside the inverse's own protection.
            local badError = setmetatable({}, { __tostring = function() error('no text', 0) end })
            qorvex.pushTransaction('BAD', function() error(badError) end)
            me.clearLog()
            assert.is_false(qorvex.executeUndo())
            assert.is_false(qorvex.isProcessing)
            assert.are.same({
                'INFO executeUndo() requested.',
                'INFO Reversing action event processing: BAD',
                'ERROR ERROR during executeUndo() post-processing -> no text',
            }, me.logTexts())
            qorvex.pushTransaction('AFTER', function() end)
            assert.are.equal('AFTER', qorvex.historyStack[1].name)
        end)
    end)

    describe('panel refresh after an undo', function()
        local function undoOnce()
            qorvex.pushTransaction('T', function() me.record('inverse') end)
            me.clearLog()
            me.clearCalls()
            return qorvex.executeUndo()
        end

        it('updates the visible panels and always the units list, in order', function()
            me.panels.me_vehicle.visible = true
            me.panels.me_ship.visible = true
            assert.is_true(undoOnce())
            assert.are.same({ 'inverse', 'me_vehicle.update', 'me_ship.update', 'units_list.update' },
                me.callNames())
        end)

        it('counts a panel without isVisible as visible and one whose isVisible fails or is not true as hidden',
            function()
                me.panels.me_aircraft.isVisible = nil
                me.panels.me_vehicle.isVisible = function() error('gone') end
                me.panels.me_static.isVisible = function() return 1 end
                me.panels.me_ship.visible = true
                assert.is_true(undoOnce())
                assert.are.same({ 'inverse', 'me_aircraft.update', 'me_ship.update', 'units_list.update' },
                    me.callNames())
            end)

        it('skips a panel that cannot be loaded or has no update, and logs a failing update', function()
            package.loaded.me_aircraft = nil
            package.preload.me_aircraft = function() error('cannot load') end
            me.panels.me_vehicle.visible = true
            me.panels.me_vehicle.update = function() error('vehicle panel broke', 0) end
            me.panels.me_static.visible = true
            me.panels.me_static.update = nil
            me.panels.me_ship.visible = true
            assert.is_true(undoOnce())
            assert.are.same({ 'inverse', 'me_ship.update', 'units_list.update' }, me.callNames())
            assert.are.same({
                'INFO executeUndo() requested.',
                'INFO Reversing action event processing: T',
                "ERROR ERROR refreshing panel 'me_vehicle' after undo -> vehicle panel broke",
                'INFO SUCCESS: Reversal event completed.',
            }, me.logTexts())
        end)

        it('refreshes after an inverse that failed', function()
            me.panels.me_static.visible = true
            qorvex.pushTransaction('T', function() error('x') end)
            me.clearCalls()
            assert.is_true(qorvex.executeUndo())
            assert.are.same({ 'me_static.update', 'units_list.update' }, me.callNames())
        end)
    end)

    describe('init', function()
        it('publishes the two globals, hooks the map window and logs each step', function()
            local down, up, remove = me.map.panState_onMouseDown, me.map.panState_onMouseUp,
                me.map.removeSelectedGroups
            qorvex.init()
            assert.is_true(qorvex.initialized)
            assert.are.equal(me.mission, _G.module_mission)
            assert.are.equal(me.unitsList, _G.panel_units_list)
            assert.are_not.equal(down, me.map.panState_onMouseDown)
            assert.are_not.equal(up, me.map.panState_onMouseUp)
            assert.are_not.equal(remove, me.map.removeSelectedGroups)
            assert.are.same({
                'INFO init() late-binding execution started.',
                'INFO Hooking MapWindow.panState_onMouseDown/panState_onMouseUp for drag tracking...',
                'INFO Hooking MapWindow.removeSelectedGroups...',
                'INFO Initialization finalized successfully. All listening hooks active.',
            }, me.logTexts())
        end)

        it('replaces module_mission always but keeps a panel_units_list that is already set', function()
            local earlierList = { update = function() end }
            _G.module_mission = { stale = true }
            _G.panel_units_list = earlierList
            qorvex.init()
            assert.are.equal(me.mission, _G.module_mission)
            assert.are.equal(earlierList, _G.panel_units_list)
        end)

        it('logs a units list that cannot be loaded and goes on', function()
            package.loaded.me_units_list = nil
            package.preload.me_units_list = function() error('no units list', 0) end
            qorvex.init()
            assert.is_nil(_G.panel_units_list)
            assert.is_true(qorvex.initialized)
            assert.are.same({
                'INFO init() late-binding execution started.',
                "ERROR init(): failed to require('me_units_list') for base.panel_units_list -> no units list",
                'INFO Hooking MapWindow.panState_onMouseDown/panState_onMouseUp for drag tracking...',
                'INFO Hooking MapWindow.removeSelectedGroups...',
                'INFO Initialization finalized successfully. All listening hooks active.',
            }, me.logTexts())
        end)

        it('runs once: a second call logs the skip and installs no second set of hooks', function()
            qorvex.init()
            local down, up, remove = me.map.panState_onMouseDown, me.map.panState_onMouseUp,
                me.map.removeSelectedGroups
            me.clearLog()
            qorvex.init()
            assert.are.equal(down, me.map.panState_onMouseDown)
            assert.are.equal(up, me.map.panState_onMouseUp)
            assert.are.equal(remove, me.map.removeSelectedGroups)
            assert.are.same({
                'INFO init() late-binding execution started.',
                'INFO init() skipped - already active.',
            }, me.logTexts())
        end)

        it('does not wrap its own hooks again when run anew after a reset', function()
            qorvex.init()
            local down, remove = me.map.panState_onMouseDown, me.map.removeSelectedGroups
            qorvex.initialized = false
            qorvex.init()
            assert.are.equal(down, me.map.panState_onMouseDown)
            assert.are.equal(remove, me.map.removeSelectedGroups)
            local group = me.makeGroup({ groupId = 3, name = 'G3', units = { { unitId = 31, name = 'U' } } })
            me.map.removeSelectedGroups(group)
            assert.are.equal(1, #qorvex.historyStack)
        end)

        it('skips the features whose map window functions are missing', function()
            me.map.panState_onMouseUp = nil
            me.map.removeSelectedGroups = nil
            qorvex.init()
            assert.is_true(qorvex.initialized)
            assert.is_nil(me.map.removeSelectedGroups)
            assert.are.same({
                'INFO init() late-binding execution started.',
                'ERROR CRITICAL ERROR: MapWindow.panState_onMouseDown/panState_onMouseUp does not exist.',
                'ERROR CRITICAL ERROR: MapWindow.removeSelectedGroups does not exist.',
                'INFO Initialization finalized successfully. All listening hooks active.',
            }, me.logTexts())
        end)

        it('passes a failing require of the map window to its caller and can run again later', function()
            package.loaded.me_map_window = nil
            package.preload.me_map_window = function() error('map window missing', 0) end
            local ok, err = pcall(qorvex.init)
            assert.is_false(ok)
            assert.are.equal('map window missing', err)
            assert.is_false(qorvex.initialized)
            package.preload.me_map_window = nil
            package.loaded.me_map_window = me.map
            me.clearLog()
            qorvex.init()
            assert.is_true(qorvex.initialized)
            assert.are.equal('INFO Initialization finalized successfully. All listening hooks active.',
                me.logTexts()[4])
        end)
    end)

    describe('drag tracking', function()
        local group, lead, wingman

        before_each(function()
            group = me.makeGroup({ groupId = 42, name = 'Armor', category = 'vehicle',
                units = { { unitId = 1, name = 'A-1', x = 100, y = 200, heading = 0.5 },
                    { unitId = 2, name = 'A-2', x = 110, y = 210, heading = 1.5 } },
                points = { { x = 100, y = 200 }, { x = 500, y = 600 } } })
            lead, wingman = group.units[1], group.units[2]
            qorvex.init()
            me.clearLog()
            me.clearCalls()
        end)

        local function drag(button, target, x, y, alsoMoves)
            if target then
                me.map.pendingMove = { target = target, x = x, y = y, alsoMoves = alsoMoves }
            end
            local function pack(...)
                return { n = select('#', ...), ... }
            end
            local down = pack(me.map.panState_onMouseDown('map-self', 7, 8, button))
            local up = pack(me.map.panState_onMouseUp('map-self', 9, 10, button))
            return down, up
        end

        it('records the move of a unit after the lead and undoes it through move_unit', function()
            me.map.selectedGroup, me.map.selectedUnit = group, wingman
            drag(1, wingman, 300, 400)
            assert.are.same({
                'INFO Unit move detected, pushing undo transaction for unit index 2',
                'INFO SUCCESS: Registered transaction in stack -> MOVE_UNIT_INDEX_2',
            }, me.logTexts())
            me.clearCalls()
            assert.is_true(qorvex.executeUndo())
            local moves = me.callsOf('move_unit')
            assert.are.equal(1, #moves)
            assert.are.same({ group, wingman, 110, 210 }, { moves[1][1], moves[1][2], moves[1][3], moves[1][4] })
            assert.are.same({ 110, 210 }, { wingman.x, wingman.y })
        end)

        it('records a drag of the lead unit as a move of route point 1', function()
            me.map.selectedGroup, me.map.selectedUnit = group, lead
            drag(1, group.route.points[1], 150, 250, lead)
            assert.are.same({
                'INFO Waypoint move detected, pushing undo transaction for group 42',
                'INFO SUCCESS: Registered transaction in stack -> MOVE_GROUP_ID_42',
            }, me.logTexts())
            me.clearCalls()
            assert.is_true(qorvex.executeUndo())
            local moves = me.callsOf('move_waypoint')
            assert.are.equal(1, #moves)
            assert.are.same({ group, 1, 100, 200 }, { moves[1][1], moves[1][2], moves[1][3], moves[1][4] })
            assert.are.same({ 100, 200 }, { group.route.points[1].x, group.route.points[1].y })
        end)

        it('records a drag of a group without a selected unit as a move of route point 1', function()
            me.map.selectedGroup = nil
            me.map.getSelectedGroup = function() return group end
            drag(1, group.route.points[1], 100, 999)
            assert.are.equal('MOVE_GROUP_ID_42', qorvex.historyStack[1].name)
        end)

        it('takes the snapshot after the press has selected the unit', function()
            me.map.selectOnDown = { group = group, unit = wingman }
            drag(1, wingman, 1, 2)
            assert.are.equal('MOVE_UNIT_INDEX_2', qorvex.historyStack[1].name)
        end)

        it('records nothing for a click without movement', function()
            me.map.selectedGroup, me.map.selectedUnit = group, wingman
            drag(1)
            me.map.selectedUnit = lead
            drag(1)
            assert.are.same({}, qorvex.historyStack)
            assert.are.same({}, me.logTexts())
        end)

        it('records nothing for another button, without selection, or when the point is gone', function()
            me.map.selectedGroup, me.map.selectedUnit = group, wingman
            drag(2, wingman, 5, 5)
            me.map.selectedGroup, me.map.selectedUnit = nil, nil
            drag(1, wingman, 6, 6)
            me.map.selectedGroup = group
            me.map.pendingMove = nil
            me.map.panState_onMouseDown('map-self', 1, 1, 1)
            group.route.points[1] = nil
            me.map.panState_onMouseUp('map-self', 1, 1, 1)
            assert.are.same({}, qorvex.historyStack)
        end)

        it('passes every argument to the previous handlers and returns all their results', function()
            me.map.selectedGroup, me.map.selectedUnit = group, wingman
            local down, up = drag(1, wingman, 3, 4)
            assert.are.same({ n = 3, 'down-result', nil, 7 }, down)
            assert.are.same({ n = 2, 'up-result', 10 }, up)
            local downCall, upCall = me.callsOf('panState_onMouseDown')[1], me.callsOf('panState_onMouseUp')[1]
            assert.are.same({ 'map-self', 7, 8, 1 }, { downCall[1], downCall[2], downCall[3], downCall[4] })
            assert.are.same({ 'map-self', 9, 10, 1 }, { upCall[1], upCall[2], upCall[3], upCall[4] })
        end)

        it('records the headings of the selected group on a press', function()
            assert.is_nil(qorvex.lastHeading(lead))
            me.map.selectedGroup = group
            me.map.panState_onMouseDown('map-self', 1, 1, 1)
            assert.are.equal(0.5, qorvex.lastHeading(lead))
            assert.are.equal(1.5, qorvex.lastHeading(wingman))
            wingman.heading = 2.5
            me.map.panState_onMouseUp('map-self', 1, 1, 1)
            assert.are.equal(2.5, qorvex.lastHeading(wingman))
        end)

        it('pushes nothing from an undo that moves a unit back', function()
            me.map.selectedGroup, me.map.selectedUnit = group, wingman
            drag(1, wingman, 300, 400)
            qorvex.pushTransaction('DRAG_DURING_UNDO', function()
                me.map.pendingMove = { target = wingman, x = 0, y = 0 }
                me.map.panState_onMouseDown('map-self', 1, 1, 1)
                me.map.panState_onMouseUp('map-self', 1, 1, 1)
            end)
            assert.is_true(qorvex.executeUndo())
            assert.are.equal(1, #qorvex.historyStack)
            assert.are.equal('MOVE_UNIT_INDEX_2', qorvex.historyStack[1].name)
        end)
    end)

    describe('deletion tracking', function()
        local group

        before_each(function()
            group = me.makeGroup({ groupId = 7, name = 'Convoy', category = 'vehicle',
                units = { { unitId = 71, name = 'Convoy-1', heading = 1.25 }, { unitId = 72, name = 'Convoy-2' } },
                points = { { x = 1, y = 2 } } })
            qorvex.init()
            me.clearLog()
            me.clearCalls()
        end)

        it('records the group before it goes and passes every argument and result through', function()
            local first, second = me.map.removeSelectedGroups(group, 'extra', nil)
            assert.are.equal('removed', first)
            assert.are.equal(2, second)
            local removeCall = me.callsOf('removeSelectedGroups')[1]
            assert.are.equal(group, removeCall[1])
            assert.are.equal(3, removeCall.n)
            assert.are.same({}, me.country.vehicle.group)
            assert.is_nil(me.mission.group_by_id[7])
            assert.are.same({
                'INFO Deletion detected for group id 7, pushing undo transaction.',
                'INFO SUCCESS: Registered transaction in stack -> DELETE_GROUP_ID_7',
            }, me.logTexts())
        end)

        it('restores a copy of the cyclic group into the country, the lookups, the map and the units list', function()
            me.map.removeSelectedGroups(group)
            me.clearCalls()
            assert.is_true(qorvex.executeUndo())
            local list = me.country.vehicle.group
            assert.are.equal(1, #list)
            local copy = list[1]
            assert.are_not.equal(group, copy)
            assert.are.equal(7, copy.groupId)
            assert.are.equal('Convoy', copy.name)
            assert.are.equal(copy, copy.route.group)
            assert.are.equal(me.country, copy.boss)
            assert.are.equal(copy, copy.units[1].boss)
            assert.are.equal(copy, me.mission.group_by_id[7])
            assert.are.equal(copy, me.mission.group_by_name.Convoy)
            assert.are.equal(copy.units[1], me.mission.unit_by_id[71])
            assert.are.equal(copy.units[2], me.mission.unit_by_name['Convoy-2'])
            assert.are.equal(1.25, qorvex.lastHeading(copy.units[1]))
            assert.are.same({ 'create_group_map_objects', 'updateSelectedGroup', 'units_list.update',
                'units_list.update' }, me.callNames())
            assert.are.equal(copy, me.calls[1][1])
            assert.are.equal(copy, me.calls[2][1])
        end)

        it('restores nothing when the country lost its list for the category', function()
            me.map.removeSelectedGroups(group)
            me.country.vehicle = nil
            me.clearCalls()
            assert.is_true(qorvex.executeUndo())
            assert.is_nil(me.mission.group_by_id[7])
            assert.are.same({ 'units_list.update' }, me.callNames())
        end)

        for _, missing in ipairs({ 'boss', 'type', 'groupId' }) do
            it('records nothing for a group without ' .. missing .. ' and still deletes it', function()
                group[missing] = nil
                local result = me.map.removeSelectedGroups(group)
                assert.are.equal('removed', result)
                assert.are.equal(1, #me.callsOf('removeSelectedGroups'))
                assert.are.same({}, qorvex.historyStack)
                assert.are.same({
                    'WARNING Deletion tracked but group data was incomplete (missing boss/type/groupId).',
                }, me.logTexts())
            end)
        end
    end)

    describe('deletion tracking where the mission module has remove_group', function()
        local group

        local function groupsWithId(id)
            local found = 0
            for _, listed in ipairs(me.country.vehicle.group) do
                if listed.groupId == id then
                    found = found + 1
                end
            end
            return found
        end

        before_each(function()
            me.useRemoveGroup()
            group = me.makeGroup({ groupId = 7, name = 'Convoy', units = { { unitId = 71, name = 'Convoy-1' } } })
            qorvex.init()
            me.clearCalls()
        end)

        it('hooks remove_group and passes its arguments and results through', function()
            assert.are.equal('INFO Hooking me_mission.remove_group to tell deletions from deselections...',
                me.logTexts()[4])
            assert.are.same({ n = 2, 'group removed', 2 }, { n = 2, me.mission.remove_group(group, 'a', nil) })
            assert.are.equal(3, me.callsOf('remove_group')[1].n)
        end)

        local cases = {
            { name = 'a Shift+click deselection', steps = { 'shiftClick', 'shiftClick' }, pushed = 0, undos = 1 },
            { name = 'a deletion', steps = { 'remove' }, pushed = 1, undos = 2 },
        }
        for _, case in ipairs(cases) do
            it(case.name .. ' leaves exactly one group with its id after every undo', function()
                for _, step in ipairs(case.steps) do
                    if step == 'remove' then
                        me.mission.remove_group(group)
                    else
                        me.map.shiftClick(group)
                    end
                end
                assert.are.equal(case.pushed, #qorvex.historyStack)
                for _ = 1, case.undos do
                    qorvex.executeUndo()
                    assert.are.equal(1, groupsWithId(7))
                    assert.is_not_nil(me.mission.group_by_id[7])
                end
                assert.are.equal(case.pushed, #me.callsOf('create_group_map_objects'))
            end)
        end

        local stillThere = {
            { name = 'in the lookup by id', put = function(other) me.mission.group_by_id[7] = other end },
            { name = 'in its country\'s list', put = function(other)
                table.insert(me.country.vehicle.group, other)
            end },
        }
        for _, case in ipairs(stillThere) do
            it('restores nothing while a group with that id is ' .. case.name, function()
                me.mission.remove_group(group)
                case.put({ groupId = 7, name = 'Someone else' })
                me.clearLog()
                me.clearCalls()
                assert.is_true(qorvex.executeUndo())
                assert.are.equal('WARNING Nothing to restore for group id 7: it is still in the mission.',
                    me.logTexts()[3])
                assert.are.same({ 'units_list.update' }, me.callNames())
                assert.is_nil(me.mission.group_by_name.Convoy)
            end)
        end

        it('counts a remove_group that raised an error as ended and passes the error on', function()
            me = mock.new()
            me.useRemoveGroup()
            local removeGroup = me.mission.remove_group
            me.mission.remove_group = function(g)
                removeGroup(g)
                error('removal broke', 0)
            end
            group = me.makeGroup({ groupId = 7, name = 'Convoy', units = {} })
            qorvex = me.loadModule()
            qorvex.init()
            local ok, err = pcall(me.mission.remove_group, group)
            assert.are.same({ false, 'removal broke' }, { ok, err })
            me.map.shiftClick(group)
            me.map.shiftClick(group)
            assert.are.equal(1, #qorvex.historyStack)
        end)
    end)

    describe('heading record', function()
        it('remembers a heading per unit, forgets it on nil and ignores non-units', function()
            local unit = {}
            assert.is_nil(qorvex.lastHeading(unit))
            qorvex.rememberHeading(unit, 1.5)
            assert.are.equal(1.5, qorvex.lastHeading(unit))
            qorvex.rememberHeading(unit, nil)
            assert.is_nil(qorvex.lastHeading(unit))
            qorvex.rememberHeading(nil, 2)
            qorvex.rememberHeading('unit', 2)
            assert.is_nil(qorvex.lastHeading('unit'))
        end)

        it('does not keep a unit alive', function()
            local weak = setmetatable({}, { __mode = 'v' })
            do
                local unit = {}
                weak[1] = unit
                qorvex.rememberHeading(unit, 1)
            end
            collectgarbage('collect')
            collectgarbage('collect')
            assert.is_nil(weak[1])
        end)
    end)
end)
