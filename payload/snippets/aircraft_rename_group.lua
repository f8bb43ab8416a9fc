-- Generated: edit payload/snippets/templates/rename.lua.in or the SNIPPETS
-- table in payload/tools/snippet_templates.py, then run build_manifest.py.
-- Undo feature (me_aircraft): group rename. vdata.name holds the new name; the
-- group still has its old one.
do
    local undo = base.me_qorvex_undo
    local group = vdata and vdata.group
    if group ~= nil and undo ~= nil and undo.pushTransaction ~= nil then
        local oldName = group.name
        if oldName ~= nil and oldName ~= vdata.name then
            undo.pushTransaction('RENAME_GROUP_' .. base.tostring(group.groupId or 'unknown'), function()
                local mission = base.module_mission
                if group == nil or mission == nil or mission.renameGroup == nil then
                    return
                end
                mission.renameGroup(group, oldName)
                local unitsList = base.panel_units_list
                if unitsList ~= nil and unitsList.updateGroup ~= nil then
                    unitsList.updateGroup(group)
                end
            end)
        end
    end
end
