-- Each transaction snippet of the manifest, run where its anchor puts it,
-- with the undo module initialised in the stand-in Mission Editor.
local mock = require('support.mock_me')
local snippets = require('support.snippets')

-- What the code around each anchor offers to the snippet after it.
local PLACES = {
    aircraft_heading_sp = { 'vdata', 'self', 'value' },
    aircraft_heading_d = { 'vdata', 'self' },
    aircraft_rename_group = { 'vdata', 'self', 'module_mission' },
    aircraft_rename_unit = { 'vdata', 'name', 'newName', 'module_mission' },
    ship_rename_group = { 'vdata', 'self', 'module_mission' },
    ship_rename_unit = { 'vdata', 'name', 'module_mission' },
    ship_heading_sp = { 'vdata', 'value', 'U', 'setHeadingUnit' },
    ship_heading_d = { 'vdata', 'newRad', 'setHeadingUnit' },
    static_rename_group = { 'vdata', 'self', 'module_mission' },
    static_rename_unit = { 'vdata', 'name', 'module_mission' },
    vehicle_rename_group = { 'vdata', 'self', 'module_mission' },
    vehicle_rename_unit = { 'vdata', 'name', 'module_mission' },
    vehicle_skill = { 'vdata', 'self' },
    vehicle_heading_sp = { 'vdata', 'self', 'value', 'U' },
    vehicle_heading_d = { 'vdata', 'self', 'window', 'd_heading', 'newRad', 'U' },
    showid_rename_unit = { 'unit', 'newName' },
}

local U = {
    toRadians = function(degrees) return degrees * math.pi / 180 end,
}

local function dial(degrees)
    return { getValue = function() return degrees end }
end

local function textBox(text)
    return { getText = function() return text end }
end

describe('transaction snippets', function()
    local me, qorvex

    before_each(function()
        me = mock.new()
        qorvex = me.loadModule()
        qorvex.init()
        me.clearLog()
        me.clearCalls()
    end)

    local function run(id, values)
        return snippets.run(id, PLACES[id], values)
    end

    local function names()
        local list = {}
        for i, transaction in ipairs(qorvex.historyStack) do
            list[i] = transaction.name
        end
        return list
    end

    local function callArgs(name)
        local found = me.callsOf(name)
        local list = {}
        for i, call in ipairs(found) do
            list[i] = { unpack(call, 1, call.n) }
        end
        return list
    end

    it('covers every entry of the unit panels', function()
        local count = 0
        for _, entry in ipairs((snippets.entries())) do
            if entry.relativePath ~= 'MissionEditor\\modules\\me_toolbar.lua' then
                count = count + 1
                assert.is_not_nil(PLACES[entry.id], entry.id)
            end
        end
        assert.are.equal(16, count)
    end)

    describe('group rename', function()
        for _, id in ipairs({ 'aircraft_rename_group', 'ship_rename_group', 'vehicle_rename_group' }) do
            it(id .. ' records the old name and restores it through renameGroup, then updateGroup', function()
                local group = me.makeGroup({ groupId = 12, name = 'Old name', units = { { unitId = 5, name = 'U' } } })
                run(id, { vdata = { group = group, name = 'New name' }, self = textBox('New name'),
                    module_mission = me.mission })
                assert.are.same({ 'RENAME_GROUP_12' }, names())
                me.mission.renameGroup(group, 'New name')
                me.clearCalls()
                assert.is_true(qorvex.executeUndo())
                assert.are.equal('Old name', group.name)
                assert.are.same({ { group, 'Old name' } }, callArgs('renameGroup'))
                assert.are.same({ { group } }, callArgs('units_list.updateGroup'))
                assert.are.equal(group, me.mission.group_by_name['Old name'])
            end)

            it(id .. ' names a group without id unknown and records nothing without group, module or change',
                function()
                    local group = me.makeGroup({ name = 'Old', units = {} })
                    run(id, { vdata = { group = group, name = 'New' }, module_mission = me.mission })
                    assert.are.same({ 'RENAME_GROUP_unknown' }, names())
                    run(id, { vdata = { group = group, name = 'Old' }, module_mission = me.mission })
                    run(id, { vdata = { name = 'New' }, module_mission = me.mission })
                    _G.me_qorvex_undo = nil
                    run(id, { vdata = { group = group, name = 'Other' }, module_mission = me.mission })
                    _G.me_qorvex_undo = { }
                    run(id, { vdata = { group = group, name = 'Other' }, module_mission = me.mission })
                    assert.are.same({ 'RENAME_GROUP_unknown' }, names())
                end)
        end

        it('the undo does nothing when the mission module is gone', function()
            local group = me.makeGroup({ groupId = 1, name = 'Old', units = {} })
            run('vehicle_rename_group', { vdata = { group = group, name = 'New' } })
            _G.module_mission = nil
            me.clearCalls()
            assert.is_true(qorvex.executeUndo())
            assert.are.same({}, callArgs('renameGroup'))
            assert.are.same({}, callArgs('units_list.updateGroup'))
        end)

        it('static_rename_group restores the group name and the name of its one unit, then updateRow', function()
            local group = me.makeGroup({ groupId = 30, name = 'Hangar', category = 'static',
                units = { { unitId = 301, name = 'Hangar unit' } } })
            local unit = group.units[1]
            run('static_rename_group', { vdata = { group = group, name = 'Depot' }, module_mission = me.mission })
            assert.are.same({ 'RENAME_GROUP_30' }, names())
            me.mission.renameGroup(group, 'Depot')
            me.mission.renameUnit(unit, 'Depot')
            me.clearCalls()
            assert.is_true(qorvex.executeUndo())
            assert.are.same({ 'Hangar', 'Hangar unit' }, { group.name, unit.name })
            assert.are.same({ { group, 'Hangar' } }, callArgs('renameGroup'))
            assert.are.same({ { unit, 'Hangar unit' } }, callArgs('renameUnit'))
            assert.are.same({ { group, unit } }, callArgs('units_list.updateRow'))
        end)
    end)

    describe('unit rename', function()
        local cases = {
            { id = 'aircraft_rename_unit', newNameIn = 'newName' },
            { id = 'ship_rename_unit', newNameIn = 'name' },
            { id = 'static_rename_unit', newNameIn = 'name' },
            { id = 'vehicle_rename_unit', newNameIn = 'name' },
        }
        for _, case in ipairs(cases) do
            it(case.id .. ' records the unit chosen by vdata.unit.cur and restores it through renameUnit', function()
                local group = me.makeGroup({ groupId = 2, name = 'G',
                    units = { { unitId = 21, name = 'First' }, { unitId = 22, name = 'Second' } } })
                local unit = group.units[2]
                local values = { vdata = { group = group, unit = { cur = 2 } }, module_mission = me.mission }
                values[case.newNameIn] = 'Renamed'
                if case.newNameIn == 'newName' then
                    values.name = 'Renamed'
                end
                run(case.id, values)
                assert.are.same({ 'RENAME_UNIT_22' }, names())
                me.mission.renameUnit(unit, 'Renamed')
                me.clearCalls()
                assert.is_true(qorvex.executeUndo())
                assert.are.equal('Second', unit.name)
                assert.are.equal('First', group.units[1].name)
                assert.are.same({ { unit, 'Second' } }, callArgs('renameUnit'))
                assert.are.same({ { group, unit } }, callArgs('units_list.updateRow'))
            end)

            it(case.id .. ' records nothing without group or unit, or for the same name', function()
                local group = me.makeGroup({ groupId = 2, name = 'G', units = { { name = 'Only' } } })
                local values = { vdata = { group = group, unit = { cur = 1 } } }
                values[case.newNameIn] = 'Only'
                run(case.id, values)
                values.vdata = { unit = { cur = 1 } }
                values[case.newNameIn] = 'Other'
                run(case.id, values)
                values.vdata = { group = group, unit = { cur = 4 } }
                run(case.id, values)
                assert.are.same({}, names())
                values.vdata = { group = group, unit = { cur = 1 } }
                run(case.id, values)
                assert.are.same({ 'RENAME_UNIT_unknown' }, names())
            end)
        end

        local staticChoices = {
            { name = 'vdata.unitCur', vdata = { unitCur = 2 } },
            { name = 'vdata.unitCur over a stale vdata.unit.cur', vdata = { unitCur = 2, unit = { cur = 1 } } },
            { name = 'vdata.unit.cur where the panel has no vdata.unitCur', vdata = { unit = { cur = 2 } } },
        }
        for _, case in ipairs(staticChoices) do
            it('static_rename_unit restores the unit chosen by ' .. case.name, function()
                local group = me.makeGroup({ groupId = 3, name = 'S', category = 'static',
                    units = { { unitId = 31, name = 'First' }, { unitId = 32, name = 'Second' } } })
                case.vdata.group = group
                run('static_rename_unit', { vdata = case.vdata, name = 'Renamed' })
                assert.are.same({ 'RENAME_UNIT_32' }, names())
                me.mission.renameUnit(group.units[2], 'Renamed')
                assert.is_true(qorvex.executeUndo())
                assert.are.same({ 'First', 'Second' }, { group.units[1].name, group.units[2].name })
            end)
        end

        it('static_rename_unit takes the one unit when the panel has no unit choice', function()
            local group = me.makeGroup({ groupId = 3, name = 'S', category = 'static',
                units = { { unitId = 31, name = 'Old' } } })
            run('static_rename_unit', { vdata = { group = group }, name = 'New' })
            assert.are.same({ 'RENAME_UNIT_31' }, names())
        end)

        it('showid_rename_unit records the unit of the id box and refreshes its group row', function()
            local group = me.makeGroup({ groupId = 4, name = 'G', units = { { unitId = 41, name = 'Before' } } })
            local unit = group.units[1]
            run('showid_rename_unit', { unit = unit, newName = 'After' })
            assert.are.same({ 'RENAME_UNIT_41' }, names())
            me.mission.renameUnit(unit, 'After')
            me.clearCalls()
            assert.is_true(qorvex.executeUndo())
            assert.are.equal('Before', unit.name)
            assert.are.same({ { unit, 'Before' } }, callArgs('renameUnit'))
            assert.are.same({ { group, unit } }, callArgs('units_list.updateRow'))
        end)

        local showIdNothing = {
            { name = 'without a unit', unit = nil },
            { name = 'for a unit without a group', unit = { unitId = 42, name = 'Before' } },
            { name = 'for the same name', unit = { unitId = 43, name = 'After', boss = { groupId = 4 } } },
        }
        for _, case in ipairs(showIdNothing) do
            it('showid_rename_unit records nothing ' .. case.name, function()
                run('showid_rename_unit', { unit = case.unit, newName = 'After' })
                assert.are.same({}, names())
            end)
        end
    end)

    describe('skill', function()
        it('vehicle_skill records the old skill and restores it, then updateRow', function()
            local group = me.makeGroup({ groupId = 9, name = 'G',
                units = { { unitId = 91, skill = 'Average' }, { unitId = 92, skill = 'Good' } } })
            local unit = group.units[2]
            run('vehicle_skill', { vdata = { group = group, unit = { cur = 2 } }, self = {} })
            assert.are.same({ 'SKILL_UNIT_92' }, names())
            unit.skill = 'Excellent'
            me.clearCalls()
            assert.is_true(qorvex.executeUndo())
            assert.are.equal('Good', unit.skill)
            assert.are.same({ { group, unit } }, callArgs('units_list.updateRow'))
        end)

        local boxes = {
            { name = 'selects the item of the restored skill',
                make = function() return me.comboBox({ 'Average', 'Good', 'Excellent' }) end, shows = 'Skill Good' },
            { name = 'sets the text of a box without items',
                make = function() return { setText = function(box, text) box.text = text end } end, shows = 'Good' },
        }
        local panelStates = {
            { name = 'while the panel shows that unit', change = function() end, current = true },
            { name = 'not once the panel shows another unit', change = function(vdata) vdata.unit.cur = 1 end },
            { name = 'not once the panel shows another group', change = function(vdata)
                vdata.group = me.makeGroup({ groupId = 10, name = 'Other', units = {} })
            end },
        }
        for _, box in ipairs(boxes) do
            for _, state in ipairs(panelStates) do
                it('vehicle_skill ' .. box.name .. ' ' .. state.name, function()
                    local group = me.makeGroup({ groupId = 9, name = 'G',
                        units = { { unitId = 91, skill = 'Average' }, { unitId = 92, skill = 'Good' } } })
                    local skillBox = box.make()
                    skillBox.text = 'Skill Excellent'
                    local vdata = { group = group, unit = { cur = 2 } }
                    run('vehicle_skill', { vdata = vdata, self = skillBox })
                    group.units[2].skill = 'Excellent'
                    state.change(vdata)
                    assert.is_true(qorvex.executeUndo())
                    assert.are.equal('Good', group.units[2].skill)
                    assert.are.equal(state.current and box.shows or 'Skill Excellent', skillBox.text)
                end)
            end
        end

        it('vehicle_skill records nothing without unit', function()
            local group = me.makeGroup({ groupId = 9, name = 'G', units = {} })
            run('vehicle_skill', { vdata = { group = group, unit = { cur = 1 } } })
            run('vehicle_skill', { vdata = { group = group } })
            run('vehicle_skill', { vdata = {} })
            assert.are.same({}, names())
        end)
    end)

    describe('heading, captured before the change', function()
        local function place(id, unitIndex, degrees)
            local values = { vdata = { group = nil, unit = { cur = unitIndex } } }
            if id == 'aircraft_heading_sp' then
                values.self, values.value = dial(degrees), degrees
            elseif id == 'aircraft_heading_d' then
                values.self = dial(degrees)
            else
                values.self, values.newRad, values.U = dial(degrees), U.toRadians(degrees), U
            end
            return values
        end

        for _, id in ipairs({ 'aircraft_heading_sp', 'aircraft_heading_d', 'vehicle_heading_d' }) do
            it(id .. ' records the old heading and the undo restores it, updateHeading and the record', function()
                local group = me.makeGroup({ groupId = 6, name = 'G', category = 'plane',
                    units = { { unitId = 61, heading = 0 }, { unitId = 62, heading = 0.25 } } })
                local unit = group.units[2]
                local values = place(id, 2, 90)
                values.vdata.group = group
                run(id, values)
                assert.are.same({ 'HEADING_UNIT_62' }, names())
                assert.are.equal(math.pi / 2, qorvex.lastHeading(unit))
                unit.heading = math.pi / 2
                me.clearCalls()
                assert.is_true(qorvex.executeUndo())
                assert.are.equal(0.25, unit.heading)
                assert.are.equal(0, group.units[1].heading)
                assert.are.equal(0.25, qorvex.lastHeading(unit))
                assert.are.same({ { group, 2 } }, callArgs('updateHeading'))
            end)

            it(id .. ' records nothing without an old heading, for the same heading, or without unit', function()
                local group = me.makeGroup({ groupId = 6, name = 'G',
                    units = { { unitId = 61 }, { unitId = 62, heading = math.pi } } })
                local values = place(id, 1, 45)
                values.vdata.group = group
                run(id, values)
                values = place(id, 2, 180)
                values.vdata.group = group
                run(id, values)
                values = place(id, 3, 10)
                values.vdata.group = group
                run(id, values)
                run(id, place(id, 1, 10))
                assert.are.same({}, names())
                assert.are.equal(math.pi / 4, qorvex.lastHeading(group.units[1]))
            end)
        end

        it('aircraft_heading_d without a readable dial still records the old heading and forgets the record',
            function()
                local group = me.makeGroup({ groupId = 6, name = 'G', units = { { unitId = 61, heading = 1 } } })
                qorvex.rememberHeading(group.units[1], 1)
                run('aircraft_heading_d', { vdata = { group = group, unit = { cur = 1 } }, self = {} })
                assert.are.same({ 'HEADING_UNIT_61' }, names())
                assert.is_nil(qorvex.lastHeading(group.units[1]))
            end)
    end)

    describe('heading, stored before the snippet runs', function()
        -- Runs the snippet the way its anchor leaves things: the new heading
        -- is already in the unit.
        local function change(id, group, unitIndex, degrees)
            local unit = group.units[unitIndex]
            unit.heading = U.toRadians(degrees)
            local values = { vdata = { group = group, unit = { cur = unitIndex } } }
            if id == 'ship_heading_d' then
                values.newRad = U.toRadians(degrees)
            else
                values.value, values.U = degrees, U
            end
            if id ~= 'vehicle_heading_sp' then
                values.setHeadingUnit = me.shipSetHeadingUnit
            end
            run(id, values)
        end

        local function selectOnMap(group)
            me.map.selectedGroup = group
            me.map.panState_onMouseDown('map-self', 0, 0, 1)
            me.map.panState_onMouseUp('map-self', 0, 0, 1)
        end

        for _, id in ipairs({ 'ship_heading_sp', 'ship_heading_d', 'vehicle_heading_sp' }) do
            it(id .. ' takes the old heading from the record and the undo really restores it', function()
                local group = me.makeGroup({ groupId = 8, name = 'G', category = 'ship',
                    units = { { unitId = 81, heading = 0.1 }, { unitId = 82, heading = 0.75 } } })
                local unit = group.units[2]
                selectOnMap(group)
                me.clearLog()
                change(id, group, 2, 90)
                assert.are.same({ 'HEADING_UNIT_82' }, names())
                assert.are.equal(math.pi / 2, qorvex.lastHeading(unit))
                me.clearCalls()
                assert.is_true(qorvex.executeUndo())
                assert.are.equal(0.75, unit.heading)
                assert.are.equal(0.1, group.units[1].heading)
                assert.are.equal(0.75, qorvex.lastHeading(unit))
                if id == 'vehicle_heading_sp' then
                    assert.are.same({ { group, 2 } }, callArgs('updateHeading'))
                else
                    assert.are.same({ { unit, 0.75 } }, callArgs('setHeadingUnit'))
                    assert.are.same({ { group } }, callArgs('updateHeading'))
                end
            end)

            it(id .. ' records nothing without a record, but starts one for the next change', function()
                local group = me.makeGroup({ groupId = 8, name = 'G', units = { { unitId = 81, heading = 0.5 } } })
                local unit = group.units[1]
                change(id, group, 1, 90)
                assert.are.same({}, names())
                assert.are.equal(math.pi / 2, qorvex.lastHeading(unit))
                change(id, group, 1, 180)
                assert.are.same({ 'HEADING_UNIT_81' }, names())
                assert.is_true(qorvex.executeUndo())
                assert.are.equal(math.pi / 2, unit.heading)
            end)

            it(id .. ' records nothing when the heading did not change', function()
                local group = me.makeGroup({ groupId = 8, name = 'G', units = { { unitId = 81, heading = math.pi } } })
                selectOnMap(group)
                change(id, group, 1, 180)
                assert.are.same({}, names())
            end)

            it(id .. ' undoes a row of changes one step at a time', function()
                local group = me.makeGroup({ groupId = 8, name = 'G', units = { { unitId = 81, heading = 0 } } })
                local unit = group.units[1]
                selectOnMap(group)
                change(id, group, 1, 30)
                change(id, group, 1, 60)
                change(id, group, 1, 90)
                assert.are.equal(3, #qorvex.historyStack)
                assert.is_true(qorvex.executeUndo())
                assert.are.equal(U.toRadians(60), unit.heading)
                assert.is_true(qorvex.executeUndo())
                assert.are.equal(U.toRadians(30), unit.heading)
                change(id, group, 1, 45)
                assert.is_true(qorvex.executeUndo())
                assert.are.equal(U.toRadians(30), unit.heading)
                assert.is_true(qorvex.executeUndo())
                assert.are.equal(0, unit.heading)
            end)
        end

        local turns = {
            { name = 'through the panel, with the aircraft parked on it', offered = true,
                turn = function(...) me.shipSetHeadingUnit(...) end, parkedBack = true },
            { name = 'by its field where the panel has no setHeadingUnit', offered = true },
            { name = 'by its field where the name is not there at all', offered = false },
            { name = 'by its field when setHeadingUnit fails, logging the error', offered = true,
                turn = function() error('turn broke', 0) end,
                logged = 'ERROR ERROR processing inverse action payload: turn broke' },
        }
        for _, id in ipairs({ 'ship_heading_sp', 'ship_heading_d' }) do
            for _, case in ipairs(turns) do
                it(id .. ' turns the ship back ' .. case.name, function()
                    local group = me.makeGroup({ groupId = 8, name = 'G', category = 'ship',
                        units = { { unitId = 81, heading = 0.5 } } })
                    local ship = group.units[1]
                    ship.parked = { { heading = 0.5 } }
                    selectOnMap(group)
                    me.shipSetHeadingUnit(ship, U.toRadians(90))
                    local offered = { 'vdata', 'newRad', 'value', 'U', case.offered and 'setHeadingUnit' or nil }
                    snippets.run(id, offered, { vdata = { group = group, unit = { cur = 1 } }, U = U,
                        newRad = U.toRadians(90), value = 90, setHeadingUnit = case.turn })
                    me.clearLog()
                    me.clearCalls()
                    assert.is_true(qorvex.executeUndo())
                    assert.are.equal(0.5, ship.heading)
                    assert.are.equal(case.parkedBack and 0.5 or U.toRadians(90), ship.parked[1].heading)
                    assert.are.same({ { group } }, callArgs('updateHeading'))
                    assert.are.equal(case.logged, me.logTexts()[3]:match('^ERROR .*'))
                end)
            end
        end

        it('vehicle headings mix the dial (before) and the spin box (after) in one record', function()
            local group = me.makeGroup({ groupId = 5, name = 'G', units = { { unitId = 51, heading = 0.2 } } })
            local unit = group.units[1]
            run('vehicle_heading_d', { vdata = { group = group, unit = { cur = 1 } }, self = dial(90),
                newRad = U.toRadians(90), U = U })
            unit.heading = U.toRadians(90)
            change('vehicle_heading_sp', group, 1, 120)
            assert.are.same({ 'HEADING_UNIT_51', 'HEADING_UNIT_51' }, names())
            assert.is_true(qorvex.executeUndo())
            assert.are.equal(U.toRadians(90), unit.heading)
            assert.is_true(qorvex.executeUndo())
            assert.are.equal(0.2, unit.heading)
        end)
    end)
end)
