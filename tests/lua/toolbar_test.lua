-- The five me_toolbar.lua entries, applied in manifest order to a stand-in
-- toolbar file that carries their anchors, then run against the stand-in
-- Mission Editor: the module is loaded and started protected, the panel is
-- placed in the pMC slot, and the Undo button and Ctrl+Z are wired.
local mock = require('support.mock_me')
local patching = require('support.patching')
local snippets = require('support.snippets')

local STOCK_TOOLBAR = table.concat({
    "local base = _G",
    "",
    "module('me_toolbar')",
    "",
    "local require = base.require",
    "",
    "local Gui \t\t\t\t\t\t= require('dxgui')",
    "local DialogLoader = require('DialogLoader')",
    "local managerModulesME = require('managerModulesME')",
    "",
    "local nh = 0",
    "local nhMC = 40",
    "",
    "function create(x, y, w, h)",
    "\twindow = DialogLoader.spawnDialogFromFile('me_toolbar.dlg')",
    "\tpanel = window.panel",
    "\tpMap = window.pMap",
    "\tpMC = window.pMC",
    "\tpModME = window.pModME",
    "\ttoggleButtonDraw = pMap.toggleButtonDraw",
    "\ttoggleButtonMultiSelection = pMap.toggleButtonMultiSelection",
    "",
    "\tif base.test_selectionTool ~= true then",
    "\t\ttoggleButtonMultiSelection:setVisible(false)",
    "\tend",
    "",
    "    for k,modul in base.pairs(managerModulesME.modulesME) do",
    "        modul.attach(window)",
    "    end",
    "-- toggle buttons",
    "\ttoggleButtonDraw.onChange = function() end",
    "\treturn updateLayout(x, y, w, h)",
    "end",
    "",
    "function updateLayout(x, y, w, h)",
    "\tlocal width = w",
    "\tif (h-nh-nhMC) < 753 then",
    "\t\twindow:setBounds(x, y, w*2, h)",
    "\t\tpanel:setBounds(0, 0, w*2, h)",
    "\t\tpMap:setPosition(50,0)",
    "\t\tpMC:setPosition(50,116)",
    "\t\twidth = w*2",
    "\t\tpModME:setPosition(50,116+nhMC)",
    "\telse",
    "\t\tpMap:setPosition(0,603)",
    "\t\tpMC:setPosition(0,716)",
    "\t\tpModME:setPosition(0,716+nhMC)",
    "\tend",
    "\treturn width",
    "end",
    "",
}, "\r\n")

local function widget(name)
    local w = { name = name, x = 0, y = 0 }
    function w:setPosition(x, y)
        self.x, self.y = x, y
    end
    function w:getPosition()
        return self.x, self.y
    end
    function w:setBounds(x, y, width, height)
        self.x, self.y, self.width, self.height = x, y, width, height
    end
    function w:setVisible(visible)
        self.visible = visible
    end
    return setmetatable(w, { __tostring = function() return 'widget ' .. name end })
end

local function patchedToolbar()
    local text = STOCK_TOOLBAR
    local entries = snippets.entries()
    for _, entry in ipairs(entries) do
        if entry.relativePath == 'MissionEditor\\modules\\me_toolbar.lua' then
            text = assert(patching.applyEntry(text, entry))
        end
    end
    return text
end

describe('me_toolbar.lua entries', function()
    local me, window, hotKeys

    before_each(function()
        me = mock.new()
        hotKeys = {}
        window = widget('window')
        window.panel, window.pMap, window.pMC, window.pModME = widget('panel'), widget('pMap'), widget('pMC'),
            widget('pModME')
        window.pMap.toggleButtonDraw = widget('toggleButtonDraw')
        window.pMap.toggleButtonMultiSelection = widget('toggleButtonMultiSelection')
        window.pQORVEX = widget('pQORVEX')
        window.pQORVEX.buttonUndo = widget('buttonUndo')
        window.pQORVEX.staticQORVEX = widget('staticQORVEX')
        window.addHotKeyCallback = function(_, key, callback)
            hotKeys[#hotKeys + 1] = { key = key, callback = callback }
        end
        package.loaded.me_toolbar = nil
        package.loaded.dxgui = {}
        package.loaded.DialogLoader = { spawnDialogFromFile = function() return window end }
        package.loaded.managerModulesME = { modulesME = {} }
        package.preload.me_qorvex_undo = assert(loadfile(mock.modulePath))
    end)

    after_each(function()
        package.loaded.me_toolbar = nil
        _G.me_toolbar = nil
        package.loaded.dxgui, package.loaded.DialogLoader, package.loaded.managerModulesME = nil, nil, nil
    end)

    local function loadToolbar()
        local chunk = assert(loadstring(patchedToolbar(), '=me_toolbar.lua'))
        chunk()
        return package.loaded.me_toolbar
    end

    it('finds each anchor exactly once, in order, and leaves a balanced file', function()
        local text = STOCK_TOOLBAR
        local applied = 0
        for _, entry in ipairs((snippets.entries())) do
            if entry.relativePath == 'MissionEditor\\modules\\me_toolbar.lua' then
                assert.are.equal(1, #patching.findAll(text, entry.anchorAfter), entry.id)
                text = patching.applyEntry(text, entry)
                applied = applied + 1
            end
        end
        assert.are.equal(5, applied)
        assert.is_nil(patching.checkLuaBalance(text))
        assert.is_not_nil(loadstring(text))
    end)

    it('loads the module, starts it when the toolbar is built and places the panel in the pMC slot', function()
        local toolbar = loadToolbar()
        assert.are.same({ 'INFO me_toolbar: undo module me_qorvex_undo loaded.' }, me.logTexts())
        assert.are.equal(_G.me_qorvex_undo, package.loaded.me_qorvex_undo)
        me.clearLog()
        local width = toolbar.create(0, 0, 100, 700)
        assert.are.equal(200, width)
        assert.is_true(_G.me_qorvex_undo.initialized)
        assert.are.equal(window.pQORVEX, toolbar.pQORVEX)
        assert.are.equal(window.pQORVEX.buttonUndo, toolbar.buttonUndo)
        assert.are.equal(window.pQORVEX.staticQORVEX, toolbar.staticQORVEX)
        assert.are.same({ 50, 116 }, { window.pQORVEX.x, window.pQORVEX.y })
        assert.are.same({
            'INFO init() late-binding execution started.',
            'INFO Hooking MapWindow.panState_onMouseDown/panState_onMouseUp for drag tracking...',
            'INFO Hooking MapWindow.removeSelectedGroups...',
            'INFO Initialization finalized successfully. All listening hooks active.',
            'INFO me_toolbar: qorvex.init() completed.',
            'INFO me_toolbar: undo widgets found: pQORVEX = widget pQORVEX, buttonUndo = widget buttonUndo, '
                .. 'staticQORVEX = widget staticQORVEX',
            'INFO me_toolbar: hot key Ctrl+Z registered for Undo.',
            'INFO me_toolbar: pQORVEX placed at the pMC slot 50, 116.',
        }, me.logTexts())
        me.clearLog()
        toolbar.updateLayout(0, 0, 100, 900)
        assert.are.same({ 0, 716 }, { window.pQORVEX.x, window.pQORVEX.y })
        assert.are.same({ 'INFO me_toolbar: pQORVEX placed at the pMC slot 0, 716.' }, me.logTexts())
    end)

    it('wires the Undo button and Ctrl+Z to executeUndo', function()
        local toolbar = loadToolbar()
        toolbar.create(0, 0, 100, 900)
        assert.are.equal(1, #hotKeys)
        assert.are.equal('Ctrl+Z', hotKeys[1].key)
        local reverted = 0
        _G.me_qorvex_undo.pushTransaction('FIRST', function() reverted = reverted + 1 end)
        _G.me_qorvex_undo.pushTransaction('SECOND', function() reverted = reverted + 10 end)
        me.clearLog()
        window.pQORVEX.buttonUndo:onChange()
        assert.are.equal(10, reverted)
        assert.are.same({
            'INFO me_toolbar: Undo button fired.',
            'INFO executeUndo() requested.',
            'INFO Reversing action event processing: SECOND',
            'INFO SUCCESS: Reversal event completed.',
        }, me.logTexts())
        me.clearLog()
        hotKeys[1].callback()
        assert.are.equal(11, reverted)
        assert.are.same({
            'INFO me_toolbar: hot key Ctrl+Z pressed.',
            'INFO me_toolbar: Undo button fired.',
            'INFO executeUndo() requested.',
            'INFO Reversing action event processing: FIRST',
            'INFO SUCCESS: Reversal event completed.',
        }, me.logTexts())
    end)

    it('logs an executeUndo that raises and keeps the toolbar alive', function()
        local toolbar = loadToolbar()
        toolbar.create(0, 0, 100, 900)
        _G.me_qorvex_undo.executeUndo = function() error('undo exploded', 0) end
        me.clearLog()
        window.pQORVEX.buttonUndo:onChange()
        assert.are.same({
            'INFO me_toolbar: Undo button fired.',
            'ERROR me_toolbar: executeUndo() failed -> undo exploded',
        }, me.logTexts())
    end)

    it('keeps the toolbar working when the module cannot be loaded', function()
        package.preload.me_qorvex_undo = function() error('module file broken', 0) end
        local toolbar = loadToolbar()
        assert.are.same({ 'ERROR me_toolbar: failed to load undo module me_qorvex_undo -> module file broken' },
            me.logTexts())
        me.clearLog()
        assert.are.equal(200, toolbar.create(0, 0, 100, 700))
        assert.are.same({
            'WARNING me_toolbar: qorvex.init() not called, missing: module qorvex, load flag ok_qorvex, '
                .. 'function qorvex.init',
            'INFO me_toolbar: undo widgets found: pQORVEX = widget pQORVEX, buttonUndo = widget buttonUndo, '
                .. 'staticQORVEX = widget staticQORVEX',
            'INFO me_toolbar: hot key Ctrl+Z registered for Undo.',
            'INFO me_toolbar: pQORVEX placed at the pMC slot 50, 116.',
        }, me.logTexts())
        me.clearLog()
        window.pQORVEX.buttonUndo:onChange()
        assert.are.same({
            'INFO me_toolbar: Undo button fired.',
            'WARNING me_toolbar: Undo ignored, no executeUndo function available.',
        }, me.logTexts())
        local calls = 0
        _G.me_qorvex_undo = { executeUndo = function() calls = calls + 1 end }
        window.pQORVEX.buttonUndo:onChange()
        assert.are.equal(1, calls)
    end)

    it('names init as missing when the module has none', function()
        package.preload.me_qorvex_undo = function() return { executeUndo = function() end } end
        local toolbar = loadToolbar()
        me.clearLog()
        toolbar.create(0, 0, 100, 900)
        assert.are.equal('WARNING me_toolbar: qorvex.init() not called, missing: function qorvex.init',
            me.logTexts()[1])
    end)

    it('logs an init that raises and still builds the toolbar', function()
        package.loaded.me_map_window = nil
        package.preload.me_map_window = function() error('no map window', 0) end
        local toolbar = loadToolbar()
        me.clearLog()
        assert.are.equal(100, toolbar.create(0, 0, 100, 900))
        assert.are.same({
            'INFO init() late-binding execution started.',
            'ERROR me_toolbar: qorvex.init() failed -> no map window',
        }, { me.logTexts()[1], me.logTexts()[2] })
        assert.is_false(_G.me_qorvex_undo.initialized)
        assert.are.equal(1, #hotKeys)
    end)

    it('works with each snippet run as a chunk of its own in the toolbar module scope', function()
        -- A module environment as module('me_toolbar') makes it: no globals
        -- but what the file sets; base is the file's alias of _G.
        local scope = { base = _G, window = window, pMC = window.pMC }
        for _, entry in ipairs((snippets.entries())) do
            if entry.relativePath == 'MissionEditor\\modules\\me_toolbar.lua' then
                local chunk = assert(loadstring(patching.entryText(entry), '=' .. entry.id))
                setfenv(chunk, scope)
                chunk()
            end
        end
        assert.is_true(scope.ok_qorvex)
        assert.are.equal(_G.me_qorvex_undo, scope.qorvex)
        assert.is_true(_G.me_qorvex_undo.initialized)
        assert.are.equal(window.pQORVEX.buttonUndo, scope.buttonUndo)
        assert.are.equal('Ctrl+Z', hotKeys[1].key)
        assert.are.same({
            'INFO me_toolbar: undo module me_qorvex_undo loaded.',
            'INFO init() late-binding execution started.',
            'INFO Hooking MapWindow.panState_onMouseDown/panState_onMouseUp for drag tracking...',
            'INFO Hooking MapWindow.removeSelectedGroups...',
            'INFO Initialization finalized successfully. All listening hooks active.',
            'INFO me_toolbar: qorvex.init() completed.',
            'INFO me_toolbar: pQORVEX placed at the pMC slot 0, 0.',
            'INFO me_toolbar: undo widgets found: pQORVEX = widget pQORVEX, buttonUndo = widget buttonUndo, '
                .. 'staticQORVEX = widget staticQORVEX',
            'INFO me_toolbar: hot key Ctrl+Z registered for Undo.',
        }, me.logTexts())
        me.clearLog()
        hotKeys[1].callback()
        assert.are.same({
            'INFO me_toolbar: hot key Ctrl+Z pressed.',
            'INFO me_toolbar: Undo button fired.',
            'INFO executeUndo() requested.',
            'WARNING Undo failed because stack history is empty.',
        }, me.logTexts())
    end)

    it('reports a dialog without the undo panel and wires nothing', function()
        window.pQORVEX = nil
        local toolbar = loadToolbar()
        me.clearLog()
        toolbar.create(0, 0, 100, 900)
        assert.is_nil(toolbar.buttonUndo)
        assert.are.same({}, hotKeys)
        assert.are.same({
            'INFO init() late-binding execution started.',
            'INFO Hooking MapWindow.panState_onMouseDown/panState_onMouseUp for drag tracking...',
            'INFO Hooking MapWindow.removeSelectedGroups...',
            'INFO Initialization finalized successfully. All listening hooks active.',
            'INFO me_toolbar: qorvex.init() completed.',
            'INFO me_toolbar: undo widgets found: pQORVEX = nil, buttonUndo = nil, staticQORVEX = nil',
            'ERROR me_toolbar: CRITICAL: buttonUndo widget is nil; Undo button and hot key Ctrl+Z not wired.',
            'WARNING me_toolbar: pQORVEX not placed, panel or pMC missing.',
        }, me.logTexts())
    end)
end)
