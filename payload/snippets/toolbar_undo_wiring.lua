-- Undo feature: the Undo button and its hot key Ctrl+Z.
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
    writeLog('INFO', 'me_toolbar: undo widgets found: pQORVEX = ' .. base.tostring(pQORVEX)
        .. ', buttonUndo = ' .. base.tostring(buttonUndo) .. ', staticQORVEX = ' .. base.tostring(staticQORVEX))
    local undoButton = buttonUndo
    if undoButton ~= nil then
        function undoButton.onChange()
            writeLog('INFO', 'me_toolbar: Undo button fired.')
            local undo = nil
            if ok_qorvex and base.type(qorvex) == 'table' and qorvex.executeUndo ~= nil then
                undo = qorvex.executeUndo
            elseif base.me_qorvex_undo ~= nil and base.me_qorvex_undo.executeUndo ~= nil then
                undo = base.me_qorvex_undo.executeUndo
            end
            if undo == nil then
                writeLog('WARNING', 'me_toolbar: Undo ignored, no executeUndo function available.')
                return
            end
            local undone, undoError = base.pcall(undo)
            if not undone then
                writeLog('ERROR', 'me_toolbar: executeUndo() failed -> ' .. base.tostring(undoError))
            end
        end
        if window ~= nil and window.addHotKeyCallback ~= nil then
            local registered, hotKeyError = base.pcall(function()
                window:addHotKeyCallback('Ctrl+Z', function()
                    writeLog('INFO', 'me_toolbar: hot key Ctrl+Z pressed.')
                    undoButton:onChange()
                end)
            end)
            if registered then
                writeLog('INFO', 'me_toolbar: hot key Ctrl+Z registered for Undo.')
            else
                writeLog('ERROR', 'me_toolbar: registering hot key Ctrl+Z failed -> ' .. base.tostring(hotKeyError))
            end
        else
            writeLog('WARNING', 'me_toolbar: hot key Ctrl+Z not registered, toolbar window missing.')
        end
    else
        writeLog('ERROR', 'me_toolbar: CRITICAL: buttonUndo widget is nil; Undo button and hot key Ctrl+Z not wired.')
    end
end
