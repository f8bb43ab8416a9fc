-- Undo feature (me_vehicle): skill chosen in the combo box. The unit still
-- has its old skill here.
do
    local undo = base.me_qorvex_undo
    local group = vdata and vdata.group
    local unit = group and group.units and vdata.unit and group.units[vdata.unit.cur]
    if unit ~= nil and undo ~= nil and undo.pushTransaction ~= nil then
        local oldSkill = unit.skill
        undo.pushTransaction('SKILL_UNIT_' .. base.tostring(unit.unitId or 'unknown'), function()
            if group == nil or unit == nil then
                return
            end
            unit.skill = oldSkill
            local unitsList = base.panel_units_list
            if unitsList ~= nil and unitsList.updateRow ~= nil then
                unitsList.updateRow(group, unit)
            end
        end)
    end
end
