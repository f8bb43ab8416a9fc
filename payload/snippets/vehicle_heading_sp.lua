-- Generated: edit payload/snippets/templates/heading.lua.in or the SNIPPETS
-- table in payload/tools/snippet_templates.py, then run build_manifest.py.
-- Undo feature (me_vehicle): heading typed into the spin box. The new heading
-- is already stored here, so the old one comes from the undo module's record
-- of the last heading it saw for this unit.
do
    local undo = base.me_qorvex_undo
    local group = vdata and vdata.group
    local unitIndex = vdata and vdata.unit and vdata.unit.cur
    local unit = group and group.units and group.units[unitIndex]
    if unit ~= nil and undo ~= nil and undo.pushTransaction ~= nil and undo.lastHeading ~= nil
        and undo.rememberHeading ~= nil then
        local newHeading = unit.heading
        if U ~= nil and U.toRadians ~= nil and base.type(value) == 'number' then
            newHeading = U.toRadians(value)
        end
        local oldHeading = undo.lastHeading(unit)
        if oldHeading ~= nil and newHeading ~= nil and oldHeading ~= newHeading then
            undo.pushTransaction('HEADING_UNIT_' .. base.tostring(unit.unitId or 'unknown'), function()
                if group == nil or unit == nil then
                    return
                end
                unit.heading = oldHeading
                local record = base.me_qorvex_undo
                if record ~= nil and record.rememberHeading ~= nil then
                    record.rememberHeading(unit, oldHeading)
                end
                local mission = base.module_mission
                if mission ~= nil and mission.updateHeading ~= nil then
                    mission.updateHeading(group, unitIndex)
                end
            end)
        end
        undo.rememberHeading(unit, newHeading)
    end
end
