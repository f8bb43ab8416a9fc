-- Undo feature: the undo panel and its two children, by name.
do
    pQORVEX = nil
    buttonUndo = nil
    staticQORVEX = nil
    if window ~= nil then
        pQORVEX = window.pQORVEX
    end
    if pQORVEX ~= nil then
        buttonUndo = pQORVEX.buttonUndo
        staticQORVEX = pQORVEX.staticQORVEX
    end
end
