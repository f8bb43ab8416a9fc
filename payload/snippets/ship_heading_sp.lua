-- Generated: edit payload/snippets/templates/heading.lua.in or the SNIPPETS
-- table in payload/tools/snippet_templates.py, then run build_manifest.py.
-- Undo feature (me_ship): heading typed into the spin box. The new heading is
-- already stored here, so the old one comes from the undo module's record of
-- the last heading it saw for this unit.
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
            -- The panel turns a ship with its own setHeadingUnit, which also
            -- turns the aircraft parked on it, so the undo turns it back the
            -- same way. Read under protection: a strict global table raises
            -- an error for a name this version of the file does not have.
            local found, turnShip = base.pcall(function()
                return setHeadingUnit
            end)
            if not found or base.type(turnShip) ~= 'function' then
                turnShip = nil
            end
            undo.pushTransaction('HEADING_UNIT_' .. base.tostring(unit.unitId or 'unknown'), function()
                if group == nil or unit == nil then
                    return
                end
                local turned, turnError = false, nil
                if turnShip ~= nil then
                    turned, turnError = base.pcall(turnShip, unit, oldHeading)
                end
                if not turned then
                    unit.heading = oldHeading
                end
                local record = base.me_qorvex_undo
                if record ~= nil and record.rememberHeading ~= nil then
                    record.rememberHeading(unit, oldHeading)
                end
                local mission = base.module_mission
                if mission ~= nil and mission.updateHeading ~= nil then
                    mission.updateHeading(group)
                end
                -- Raised last, so that the ship is turned and shown anyway and
                -- the undo module still logs what went wrong.
                if turnShip ~= nil and not turned then
                    base.error(turnError, 0)
                end
            end)
        end
        undo.rememberHeading(unit, newHeading)
    end
end
