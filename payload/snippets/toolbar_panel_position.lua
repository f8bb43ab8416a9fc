-- Undo feature: the undo panel takes the slot of the hidden pMC panel,
-- wherever the layout above has put it.
do
    local function writeLog(levelName, text)
        local logModule = log
        if logModule == nil then
            local loaded, required = base.pcall(base.require, 'log')
            if loaded then
                logModule = required
            end
        end
        if base.type(logModule) == 'table' and logModule.write ~= nil then
            logModule.write('QORVEX', logModule[levelName], text)
        end
    end
    if pQORVEX ~= nil and pQORVEX.setPosition ~= nil and pMC ~= nil and pMC.getPosition ~= nil then
        local moved, moveError = base.pcall(function()
            local slotX, slotY = pMC:getPosition()
            pQORVEX:setPosition(slotX, slotY)
            writeLog('INFO', 'me_toolbar: pQORVEX placed at the pMC slot ' .. base.tostring(slotX) .. ', '
                .. base.tostring(slotY) .. '.')
        end)
        if not moved then
            writeLog('ERROR', 'me_toolbar: placing pQORVEX failed -> ' .. base.tostring(moveError))
        end
    else
        writeLog('WARNING', 'me_toolbar: pQORVEX not placed, panel or pMC missing.')
    end
end
