-- luacheck settings for the payload and its tests.
std = 'lua51'
max_line_length = 120

-- The undo module reaches the Mission Editor only through its local base = _G.
files['payload/me_qorvex_undo.lua'] = {}

-- Each snippet is a piece of a Mission Editor file. It reads the names the
-- code around its anchor offers: base (every Mission Editor file's local
-- alias of _G), the file-local vdata and the locals of the function it lands
-- in. Nothing else is declared, so a snippet that leans on more is flagged.
local function snippet(names)
    local all = { 'base' }
    for _, name in ipairs(names) do
        all[#all + 1] = name
    end
    return { read_globals = all }
end

files['payload/snippets/toolbar_require.lua'] = {
    read_globals = { 'base' },
    -- names in the toolbar module's scope, read by the later toolbar snippets
    globals = { 'ok_qorvex', 'qorvex' },
}
files['payload/snippets/toolbar_widget_resolve.lua'] = {
    read_globals = { 'base', 'window' },
    -- names in the toolbar module's scope, set for the later snippets
    globals = { 'pQORVEX', 'buttonUndo', 'staticQORVEX' },
}
files['payload/snippets/toolbar_init_call.lua'] = snippet({ 'log', 'ok_qorvex', 'qorvex' })
files['payload/snippets/toolbar_panel_position.lua'] = snippet({ 'log', 'pQORVEX', 'pMC' })
files['payload/snippets/toolbar_undo_wiring.lua'] = {
    read_globals = { 'base', 'log', 'ok_qorvex', 'qorvex', 'pQORVEX', 'staticQORVEX', 'window' },
    -- the button widget gets its onChange handler
    globals = { 'buttonUndo' },
}
files['payload/snippets/aircraft_heading_sp.lua'] = snippet({ 'vdata', 'value' })
files['payload/snippets/aircraft_heading_d.lua'] = snippet({ 'vdata', 'self' })
files['payload/snippets/aircraft_rename_group.lua'] = snippet({ 'vdata' })
files['payload/snippets/aircraft_rename_unit.lua'] = snippet({ 'vdata', 'newName' })
files['payload/snippets/ship_rename_group.lua'] = snippet({ 'vdata' })
files['payload/snippets/ship_rename_unit.lua'] = snippet({ 'vdata', 'name' })
files['payload/snippets/ship_heading_sp.lua'] = snippet({ 'vdata', 'value', 'U', 'setHeadingUnit' })
files['payload/snippets/ship_heading_d.lua'] = snippet({ 'vdata', 'newRad', 'setHeadingUnit' })
files['payload/snippets/static_rename_group.lua'] = snippet({ 'vdata' })
files['payload/snippets/static_rename_unit.lua'] = snippet({ 'vdata', 'name' })
files['payload/snippets/vehicle_rename_group.lua'] = snippet({ 'vdata' })
files['payload/snippets/vehicle_rename_unit.lua'] = snippet({ 'vdata', 'name' })
files['payload/snippets/vehicle_skill.lua'] = snippet({ 'vdata', 'self' })
files['payload/snippets/vehicle_heading_sp.lua'] = snippet({ 'vdata', 'value', 'U' })
files['payload/snippets/vehicle_heading_d.lua'] = snippet({ 'vdata', 'newRad' })
files['payload/snippets/showid_rename_unit.lua'] = snippet({ 'unit', 'newName' })

files['tests/lua'] = { std = '+busted' }
