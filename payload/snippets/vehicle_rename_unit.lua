-- Generated: edit payload/snippets/templates/rename.lua.in or the SNIPPETS
-- table in payload/tools/snippet_templates.py, then run build_manifest.py.
-- Undo feature (me_vehicle): unit rename. name holds the new name; the unit
-- still has its old one.
do
    local undo = base.me_qorvex_undo
    local group = vdata and vdata.group
    local unit = group and group.units and group.units[vdata.unit and vdata.unit.cur]
    if unit ~= nil and undo ~= nil and undo.pushTransaction ~= nil then
        local oldName = unit.name
        if oldName ~= nil and oldName ~= name then
            undo.pushTransaction('RENAME_UNIT_' .. base.tostring(unit.unitId or 'unknown'), function()
                local mission = base.module_mission
                if group == nil or unit == nil or mission == nil or mission.renameUnit == nil then
                    return
                end
                mission.renameUnit(unit, oldName)
                local unitsList = base.panel_units_list
                if unitsList ~= nil and unitsList.updateRow ~= nil then
                    unitsList.updateRow(group, unit)
                end
            end)
        end
    end
end
