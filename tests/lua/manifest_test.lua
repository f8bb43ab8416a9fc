-- The manifest as the program carries it: its entries, markers, anchors and
-- insert keys, and snippets that stay out of each other's way.
local json = require('support.json')
local mock = require('support.mock_me')
local patching = require('support.patching')

local MANIFEST_TEXT = mock.readFile(mock.repoRoot .. '/payload/manifest.json')
local PANEL_BLOCK = mock.readFile(mock.repoRoot .. '/payload/pQORVEX_block.txt')

local TOOLBAR = 'MissionEditor\\modules\\me_toolbar.lua'

-- Insert keys: 'insertText', 'insertTextBefore', or 'emptyBefore' for an
-- empty insertTextBefore beside the insertText that carries the snippet.
local EXPECTED_FILES = {
    { TOOLBAR, {
        { 'toolbar_require', 'QORVEX_PATCH:REQUIRE', "local Gui \t\t\t\t\t\t= require('dxgui')", 'insertText' },
        { 'toolbar_widget_resolve', 'QORVEX_PATCH:WIDGET_RESOLVE', '\ttoggleButtonDraw = pMap.toggleButtonDraw',
            'insertText' },
        { 'toolbar_init_call', 'QORVEX_PATCH:INIT_CALL',
            '\tif base.test_selectionTool ~= true then\n\t\ttoggleButtonMultiSelection:setVisible(false)\n\tend',
            'insertText' },
        { 'toolbar_panel_position', 'QORVEX_PATCH:PANEL_POSITION',
            '\tif (h-nh-nhMC) < 753 then\n\t\twindow:setBounds(x, y, w*2, h)\n\t\tpanel:setBounds(0, 0, w*2, h)\n'
            .. '\t\tpMap:setPosition(50,0)\n\t\tpMC:setPosition(50,116)\n\t\twidth = w*2\n'
            .. '\t\tpModME:setPosition(50,116+nhMC)\n\telse\n\t\tpMap:setPosition(0,603)\n'
            .. '\t\tpMC:setPosition(0,716)\n\t\tpModME:setPosition(0,716+nhMC)\n\tend',
            'insertText' },
        { 'toolbar_undo_wiring', 'QORVEX_PATCH:UNDO_WIRING', '    end\n-- toggle buttons', 'insertTextBefore' },
    } },
    { 'MissionEditor\\modules\\me_aircraft.lua', {
        { 'aircraft_heading_sp', 'QORVEX_PATCH:HEADING_SP',
            'function sp_heading:onChange()\n\t\tlocal value = self:getValue()\n\t\t\n\t\tif value == -1 then\n'
            .. '\t\t\tvalue = 359\n\t\t\tself:setValue(value)\n\t\telseif value == 360 then\n'
            .. '\t\t\tvalue = 0\n\t\t\tself:setValue(value)\n\t\tend',
            'insertText' },
        { 'aircraft_heading_d', 'QORVEX_PATCH:HEADING_D', 'function d_heading:onChange()', 'insertText' },
        { 'aircraft_rename_group', 'QORVEX_PATCH:RENAME_GROUP',
            'vdata.name = module_mission.check_group_name(self:getText())', 'insertText' },
        { 'aircraft_rename_unit', 'QORVEX_PATCH:RENAME_UNIT',
            '\t\t\tlocal newName = module_mission.check_unit_name(name)', 'insertText' },
    } },
    { 'MissionEditor\\modules\\me_ship.lua', {
        { 'ship_rename_group', 'QORVEX_PATCH:RENAME_GROUP',
            'vdata.name = module_mission.check_group_name(self:getText())', 'emptyBefore', 1 },
        { 'ship_rename_unit', 'QORVEX_PATCH:RENAME_UNIT', '\t\t\tname = module_mission.check_unit_name(name)',
            'insertText' },
        { 'ship_heading_sp', 'QORVEX_PATCH:HEADING_SP',
            '\tsetHeadingUnit(vdata.group.units[vdata.unit.cur], U.toRadians(value))', 'insertTextBefore' },
        { 'ship_heading_d', 'QORVEX_PATCH:HEADING_D',
            '\tsetHeadingUnit(vdata.group.units[vdata.unit.cur], newRad)', 'insertTextBefore' },
    } },
    { 'MissionEditor\\modules\\me_static.lua', {
        { 'static_rename_group', 'QORVEX_PATCH:RENAME_GROUP',
            'vdata.name = module_mission.check_group_name(self:getText())', 'insertText' },
        { 'static_rename_unit', 'QORVEX_PATCH:RENAME_UNIT', '\t\t\tname = module_mission.check_unit_name(name)',
            'insertText' },
    } },
    { 'MissionEditor\\modules\\me_vehicle.lua', {
        { 'vehicle_rename_group', 'QORVEX_PATCH:RENAME_GROUP',
            'vdata.name = module_mission.check_group_name(self:getText())', 'insertTextBefore' },
        { 'vehicle_rename_unit', 'QORVEX_PATCH:RENAME_UNIT', '\t\t\t\tname = module_mission.check_unit_name(name)',
            'insertText' },
        { 'vehicle_skill', 'QORVEX_PATCH:SKILL', 'function c_skill:onChange()', 'insertText' },
        { 'vehicle_heading_sp', 'QORVEX_PATCH:HEADING_SP',
            '\t\tself:setValue(value)  \n\t\t\n\t\tvdata.group.units[vdata.unit.cur].heading = U.toRadians(value)',
            'insertTextBefore' },
        { 'vehicle_heading_d', 'QORVEX_PATCH:HEADING_D',
            '\td_heading = window.d_heading\n\n\tfunction d_heading:onChange()   \n'
            .. '\t\tlocal newRad = U.toRadians(self:getValue())',
            'insertText' },
    } },
    { 'MissionEditor\\modules\\me_showId.lua', {
        { 'showid_rename_unit', 'QORVEX_PATCH:RENAME_UNIT', '\t\t\tif unit.name ~= newName then', 'insertText' },
    } },
}

local MODULE_NAMES = {
    [TOOLBAR] = 'me_toolbar',
    ['MissionEditor\\modules\\me_aircraft.lua'] = 'me_aircraft',
    ['MissionEditor\\modules\\me_ship.lua'] = 'me_ship',
    ['MissionEditor\\modules\\me_static.lua'] = 'me_static',
    ['MissionEditor\\modules\\me_vehicle.lua'] = 'me_vehicle',
    ['MissionEditor\\modules\\me_showId.lua'] = 'me_showId',
}

describe('manifest.json', function()
    local manifest = json.decode(MANIFEST_TEXT)

    it('is ASCII JSON with LF line ends and two-space indentation', function()
        assert.is_nil(MANIFEST_TEXT:find('[\128-\255]'))
        assert.is_nil(MANIFEST_TEXT:find('\r', 1, true))
        local head = '{\n  "version": "1.0",\n'
        assert.are.equal(head, MANIFEST_TEXT:sub(1, #head))
        for line in MANIFEST_TEXT:gmatch('[^\n]+') do
            local indent = line:match('^ *')
            assert.are.equal(0, #indent % 2, line)
            assert.is_nil(line:find('\t', 1, true))
        end
    end)

    it('has the version, the description and the four top-level keys in order', function()
        assert.are.same({ 'version', 'description', 'files', 'dlgFiles' }, json.keys(manifest))
        assert.are.equal('1.0', manifest.version)
        assert.are.equal('Patch manifest of the QORVEX Undo feature: each entry describes one idempotent, '
            .. 'anchor-based text insertion applied to a stock DCS Mission Editor Lua or .dlg file, relative to '
            .. 'the DCS installation root (the folder containing MissionEditor.lua).', manifest.description)
    end)

    it('lists the six files and 21 entries in order with their ids, markers, anchors and insert keys', function()
        assert.are.equal(#EXPECTED_FILES, #manifest.files)
        local total = 0
        for i, expectedFile in ipairs(EXPECTED_FILES) do
            local file = manifest.files[i]
            assert.are.same({ 'relativePath', 'patches' }, json.keys(file))
            assert.are.equal(expectedFile[1], file.relativePath)
            assert.are.equal(#expectedFile[2], #file.patches, file.relativePath)
            for j, expected in ipairs(expectedFile[2]) do
                local entry = file.patches[j]
                local id, marker, anchor, key, occurrence = unpack(expected)
                assert.are.equal(id, entry.id)
                assert.are.equal(marker, entry.marker, id)
                assert.are.equal(anchor, entry.anchorAfter, id)
                local keys = { 'id', 'marker', 'anchorAfter' }
                if occurrence then
                    keys[#keys + 1] = 'anchorAfterOccurrence'
                    assert.are.equal(occurrence, entry.anchorAfterOccurrence)
                end
                if key == 'emptyBefore' then
                    keys[#keys + 1] = 'insertTextBefore'
                    keys[#keys + 1] = 'insertText'
                    assert.are.equal('', entry.insertTextBefore, id)
                    assert.is_true(#entry.insertText > 0, id)
                else
                    keys[#keys + 1] = key
                    assert.is_true(#entry[key] > 0, id)
                end
                assert.are.same(keys, json.keys(entry), id)
                total = total + 1
            end
        end
        assert.are.equal(21, total)
    end)

    it('inserts the panel block before the pMap entry of the toolbar dialog', function()
        assert.are.equal(1, #manifest.dlgFiles)
        local dlg = manifest.dlgFiles[1]
        assert.are.same({ 'relativePath', 'insertBlockResource', 'anchorBefore' }, json.keys(dlg))
        assert.are.equal('MissionEditor\\modules\\dialogs\\me_toolbar.dlg', dlg.relativePath)
        assert.are.equal('pQORVEX_block.txt', dlg.insertBlockResource)
        assert.are.equal('\t\t["pMap"] = {', dlg.anchorBefore)
        assert.are.same({}, patching.findAll(PANEL_BLOCK, dlg.anchorBefore))
    end)

    describe('snippets', function()
        local files = {}
        for _, file in ipairs(manifest.files) do
            local list = {}
            for _, entry in ipairs(file.patches) do
                list[#list + 1] = { id = entry.id, marker = entry.marker, anchor = entry.anchorAfter,
                    text = patching.entryText(entry) }
            end
            files[#files + 1] = { path = file.relativePath, entries = list }
        end

        it('are ASCII with LF line ends, end in a line feed and use spaces for indentation', function()
            for _, file in ipairs(files) do
                for _, entry in ipairs(file.entries) do
                    assert.is_nil(entry.text:find('[\128-\255]'), entry.id)
                    assert.is_nil(entry.text:find('[\r\t]'), entry.id)
                    assert.are.equal('\n', entry.text:sub(-1), entry.id)
                    for line in entry.text:gmatch('[^\n]+') do
                        assert.are.equal(0, #line:match('^ *') % 4, entry.id .. ': ' .. line)
                    end
                end
            end
        end)

        it('each compile as Lua 5.1 and balance on their own', function()
            for _, file in ipairs(files) do
                for _, entry in ipairs(file.entries) do
                    local chunk, err = loadstring(entry.text, '=' .. entry.id)
                    assert.is_not_nil(chunk, err)
                    assert.is_nil(patching.checkLuaBalance(entry.text), entry.id)
                end
            end
        end)

        it('never carry text that an anchor of their file would match', function()
            for _, file in ipairs(files) do
                for _, entry in ipairs(file.entries) do
                    local block = patching.buildBlock(entry.marker, entry.text)
                    for _, other in ipairs(file.entries) do
                        assert.are.same({}, patching.findAll(block, other.anchor),
                            entry.id .. ' matches the anchor of ' .. other.id)
                    end
                end
            end
        end)

        it('are not mistaken for one another when the engine looks for an unmarked insertion', function()
            for _, file in ipairs(files) do
                for _, entry in ipairs(file.entries) do
                    for _, other in ipairs(file.entries) do
                        if other ~= entry then
                            local block = patching.buildBlock(other.marker, other.text)
                            assert.is_false(patching.containsIgnoringCr(block, entry.text),
                                entry.id .. ' is contained in ' .. other.id)
                        end
                    end
                    assert.is_false(patching.containsIgnoringCr(entry.anchor, entry.text), entry.id)
                end
            end
        end)

        it('test every call into the undo module for existence and name each transaction by its kind', function()
            local kinds = {
                heading = 'HEADING_UNIT_', rename_group = 'RENAME_GROUP_', rename_unit = 'RENAME_UNIT_',
                skill = 'SKILL_UNIT_',
            }
            for _, file in ipairs(files) do
                for _, entry in ipairs(file.entries) do
                    if file.path ~= TOOLBAR then
                        local kind = entry.id:match('_(heading)_') or entry.id:match('_(rename_group)$')
                            or entry.id:match('_(rename_unit)$') or entry.id:match('_(skill)$')
                        assert.is_not_nil(kind, entry.id)
                        assert.truthy(entry.text:find("pushTransaction('" .. kinds[kind] .. "' .. ", 1, true), entry.id)
                        assert.truthy(entry.text:find("or 'unknown'", 1, true), entry.id)
                        assert.truthy(entry.text:find('undo.pushTransaction ~= nil', 1, true), entry.id)
                    end
                end
            end
        end)

        it('write log texts that begin with the module name of their file', function()
            for _, file in ipairs(files) do
                local prefix = MODULE_NAMES[file.path] .. ': '
                for _, entry in ipairs(file.entries) do
                    local logged = 0
                    for text in entry.text:gmatch("log%.write%('QORVEX', log%.%u+, '([^']*)'") do
                        assert.are.equal(prefix, text:sub(1, #prefix), entry.id .. ': ' .. text)
                        logged = logged + 1
                    end
                    for text in entry.text:gmatch("writeLog%('%u+', '([^']*)'") do
                        assert.are.equal(prefix, text:sub(1, #prefix), entry.id .. ': ' .. text)
                        logged = logged + 1
                    end
                    if file.path == TOOLBAR and entry.id ~= 'toolbar_widget_resolve' then
                        assert.is_true(logged > 0, entry.id)
                    end
                    -- Every call has its text checked above, except the one
                    -- inside the writeLog helper, which passes its argument on.
                    local _, writes = entry.text:gsub('[%w_]+%.write%(', '')
                    local _, helperCalls = entry.text:gsub('writeLog%(', '')
                    local helper = entry.text:find('local function writeLog', 1, true) and 1 or 0
                    assert.are.equal(writes + helperCalls - 2 * helper, logged, entry.id)
                end
            end
        end)
    end)
end)
