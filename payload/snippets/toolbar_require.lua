-- Undo feature: load the undo module. A missing or broken module is logged
-- and leaves the toolbar working without Undo. ok_qorvex and qorvex live in
-- the toolbar module's scope, where the later undo code of this file finds
-- them.
local log = nil
do
    local logLoaded, logModule = base.pcall(base.require, 'log')
    if logLoaded then
        log = logModule
    end
end
ok_qorvex, qorvex = base.pcall(base.require, 'me_qorvex_undo')
if ok_qorvex then
    if log ~= nil and log.write ~= nil then
        log.write('QORVEX', log.INFO, 'me_toolbar: undo module me_qorvex_undo loaded.')
    end
else
    if log ~= nil and log.write ~= nil then
        log.write('QORVEX', log.ERROR, 'me_toolbar: failed to load undo module me_qorvex_undo -> '
            .. base.tostring(qorvex))
    end
    qorvex = nil
end
