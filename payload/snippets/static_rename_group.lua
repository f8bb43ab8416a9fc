-- Generated: edit payload/snippets/templates/rename.lua.in or the SNIPPETS
-- table in payload/tools/snippet_templates.py, then run build_manifest.py.
-- Undo feature (me_static): group rename. A static object is a group of one
-- unit whose name the Mission Editor keeps with the group's, so the undo puts
-- both names back. vdata.name holds the new group name.
do
    local undo = base.me_qorvex_undo
    local group = vdata and vdata.group
    if group ~= nil and undo ~= nil and undo.pushTransaction ~= nil then
        local oldName = group.name
        local firstUnit = group.units and group.units[1]
        local oldUnitName = firstUnit and firstUnit.name
        if oldName ~= nil and oldName ~= vdata.name then
            undo.pushTransaction('RENAME_GROUP_' .. base.tostring(group.groupId or 'unknown'), function()
                local mission = base.module_mission
                if group == nil or mission == nil or mission.renameGroup == nil then
                    return
                end
                mission.renameGroup(group, oldName)
                if firstUnit ~= nil and oldUnitName ~= nil and mission.renameUnit ~= nil then
                    mission.renameUnit(firstUnit, oldUnitName)
                end
                local unitsList = base.panel_units_list
                if firstUnit ~= nil and unitsList ~= nil and unitsList.updateRow ~= nil then
                    unitsList.updateRow(group, firstUnit)
                end
            end)
        end
    end
end
