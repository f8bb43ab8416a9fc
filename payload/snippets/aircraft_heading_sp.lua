-- Generated: edit payload/snippets/templates/heading.lua.in or the SNIPPETS
-- table in payload/tools/snippet_templates.py, then run build_manifest.py.
-- Undo feature (me_aircraft): heading typed into the spin box. The unit still
-- has its old heading here; value is the new one in degrees.
do
    local undo = base.me_qorvex_undo
    local group = vdata and vdata.group
    local unitIndex = vdata and vdata.unit and vdata.unit.cur
    local unit = group and group.units and group.units[unitIndex]
    if unit ~= nil and undo ~= nil and undo.pushTransaction ~= nil then
        local oldHeading = unit.heading
        local newHeading = nil
        if base.type(value) == 'number' then
            newHeading = value * base.math.pi / 180
        end
        if oldHeading ~= nil and oldHeading ~= newHeading then
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
        if undo.rememberHeading ~= nil then
            undo.rememberHeading(unit, newHeading)
        end
    end
end
