-- Generated: edit payload/snippets/templates/rename.lua.in or the SNIPPETS
-- table in payload/tools/snippet_templates.py, then run build_manifest.py.
-- Undo feature (me_showId): unit rename from the unit id box. newName is the
-- new name; unit still has its old one. Its group is the unit's boss.
do
    local undo = base.me_qorvex_undo
    local group = base.type(unit) == 'table' and unit.boss or nil
    if base.type(group) == 'table' and undo ~= nil and undo.pushTransaction ~= nil then
        local renamedUnit = unit
        local oldName = renamedUnit.name
        if oldName ~= nil and oldName ~= newName then
            undo.pushTransaction('RENAME_UNIT_' .. base.tostring(renamedUnit.unitId or 'unknown'), function()
                local mission = base.module_mission
                if renamedUnit == nil or mission == nil or mission.renameUnit == nil then
                    return
                end
                mission.renameUnit(renamedUnit, oldName)
                local unitsList = base.panel_units_list
                if unitsList ~= nil and unitsList.updateRow ~= nil then
                    unitsList.updateRow(group, renamedUnit)
                end
            end)
        end
    end
end
