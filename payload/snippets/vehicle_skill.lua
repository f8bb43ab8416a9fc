-- Undo feature (me_vehicle): skill chosen in the combo box self. The unit
-- still has its old skill here.
do
    local undo = base.me_qorvex_undo
    local group = vdata and vdata.group
    local unitIndex = vdata and vdata.unit and vdata.unit.cur
    local unit = group and group.units and unitIndex and group.units[unitIndex]
    if unit ~= nil and undo ~= nil and undo.pushTransaction ~= nil then
        local oldSkill = unit.skill
        local skillBox = self
        undo.pushTransaction('SKILL_UNIT_' .. base.tostring(unit.unitId or 'unknown'), function()
            if group == nil or unit == nil then
                return
            end
            unit.skill = oldSkill
            local unitsList = base.panel_units_list
            if unitsList ~= nil and unitsList.updateRow ~= nil then
                unitsList.updateRow(group, unit)
            end
            -- The combo box keeps showing the choice just undone while the
            -- panel shows this unit; vdata is read now, not when pushed, as
            -- the panel may have moved on to another unit since.
            local shown = vdata
            if base.type(skillBox) ~= 'table' or base.type(shown) ~= 'table' or shown.group ~= group
                or base.type(shown.unit) ~= 'table' or shown.unit.cur ~= unitIndex
                or base.type(group.units) ~= 'table' or group.units[unitIndex] ~= unit then
                return
            end
            local shownText = oldSkill
            if skillBox.getItemCount ~= nil and skillBox.getItem ~= nil and skillBox.selectItem ~= nil then
                -- Both index bases are tried; an index past the end may raise.
                local count = skillBox:getItemCount()
                for index = 0, base.type(count) == 'number' and count or -1 do
                    local got, item = base.pcall(skillBox.getItem, skillBox, index)
                    if got and base.type(item) == 'table' and item.itemId == oldSkill then
                        skillBox:selectItem(item)
                        if item.getText ~= nil then
                            shownText = item:getText()
                        end
                        break
                    end
                end
            end
            if skillBox.setText ~= nil and shownText ~= nil then
                skillBox:setText(shownText)
            end
        end)
    end
end
