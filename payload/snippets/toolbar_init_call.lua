-- Undo feature: start the undo module now that the toolbar exists.
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
    local moduleLoaded = base.type(qorvex) == 'table'
    if ok_qorvex and moduleLoaded and qorvex.init ~= nil then
        local initOk, initError = base.pcall(qorvex.init)
        if initOk then
            writeLog('INFO', 'me_toolbar: qorvex.init() completed.')
        else
            writeLog('ERROR', 'me_toolbar: qorvex.init() failed -> ' .. base.tostring(initError))
        end
    else
        local missing = {}
        if not moduleLoaded then
            missing[#missing + 1] = 'module qorvex'
        end
        if not ok_qorvex then
            missing[#missing + 1] = 'load flag ok_qorvex'
        end
        if not moduleLoaded or qorvex.init == nil then
            missing[#missing + 1] = 'function qorvex.init'
        end
        writeLog('WARNING', 'me_toolbar: qorvex.init() not called, missing: ' .. base.table.concat(missing, ', '))
    end
end
