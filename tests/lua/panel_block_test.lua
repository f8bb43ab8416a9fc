-- pQORVEX_block.txt: its text form, and its content read back as Lua.
local mock = require('support.mock_me')
local patching = require('support.patching')

local BLOCK = mock.readFile(mock.repoRoot .. '/payload/pQORVEX_block.txt')
local IMAGES = 'dxgui\\skins\\skinME\\images\\mission_editor\\'

local function staticState(color)
    return { {
        bkg = { center_top = '0xffffff19', insets = { left = 12, right = 12, top = 0 } },
        text = { color = color, font = 'DejaVuLGCSansCondensed-Bold.ttf', fontSize = 11,
            horzAlign = { type = 'middle' }, lineHeight = 0, vertAlign = { type = 'max' } },
    } }
end

local function buttonState(file, pictureColor, text)
    return {
        bkg = {
            center_bottom = '0xffffffff', center_center = '0xffffffff', center_top = '0xffffffff',
            left_bottom = '0xffffffff', left_center = '0xffffffff', left_top = '0xffffffff',
            right_bottom = '0xffffffff', right_center = '0xffffffff', right_top = '0xffffffff',
            file = IMAGES .. file,
            insets = { bottom = 9, left = 15, right = 15, top = 9 },
        },
        picture = {
            color = pictureColor,
            file = IMAGES .. 'dial_ME_arrowR.png',
            horzAlign = { offset = 0, type = 'middle' },
            rect = { x1 = 0, x2 = 0, y1 = 0, y2 = 0 },
            size = { horz = 0, vert = 0 },
            userTexSampler = 0,
            vertAlign = { offset = 0, type = 'middle' },
        },
        text = text,
    }
end

local EXPECTED = {
    pQORVEX = {
        children = {
            staticQORVEX = {
                params = {
                    angle = 0,
                    bounds = { h = 16, w = 51, x = 0, y = 2 },
                    enabled = true,
                    pivotPoint = { x = 0, y = 0 },
                    text = 'QORVEX',
                    tooltip = '',
                    visible = true,
                    zindex = 260,
                },
                skin = {
                    params = {
                        insets = { bottom = '0', left = '15', right = '15', top = 0 },
                        name = 'staticSkin',
                    },
                    states = { disabled = staticState('0xd1d1d180'), released = staticState('0xd1d1d1ff') },
                },
                type = 'Static',
            },
            buttonUndo = {
                params = {
                    bounds = { h = 20, w = 50, x = 3, y = 20 },
                    enabled = true,
                    tabOrder = 0,
                    text = 'Undo',
                    tooltip = 'Undo (Ctrl+Z)',
                    visible = true,
                    zindex = 290,
                },
                skin = {
                    params = {
                        insets = { bottom = 0, left = 0, right = 0, top = 0 },
                        maxSize = { horz = 44, vert = 18 },
                        minSize = { horz = 44, vert = 18 },
                        name = 'toggleButtonToolbarSkin',
                        textLineHeight = 0,
                    },
                    states = {
                        disabled = { buttonState('btn_ME_all_released.png', '0xffffff47') },
                        hover = { buttonState('btn_ME_all_hover.png', '0xffffffff') },
                        pressed = { buttonState('btn_ME_all_released.png'), buttonState('btn_ME_all_released.png') },
                        released = {
                            buttonState('btn_ME_all_released.png', nil, { font = '', fontSize = 0,
                                horzAlign = { offset = 0, type = 'middle' }, lineHeight = 0,
                                vertAlign = { offset = 0 } }),
                            buttonState('btn_ME_all_released.png', nil, { font = '', fontSize = 0,
                                horzAlign = { offset = 0 }, lineHeight = 0, vertAlign = { offset = 0 } }),
                        },
                    },
                },
                type = 'Button',
            },
        },
        params = {
            bounds = { h = 72, w = 56, x = 191, y = 753 },
            enabled = true,
            layout = {},
            text = 'panel0',
            tooltip = '',
            visible = true,
            zindex = 1,
        },
        skin = { params = { name = 'panelSkin' } },
        type = 'Panel',
    },
}

describe('pQORVEX_block.txt', function()
    it('reads back as a Lua table equal to the panel, its caption and its button', function()
        local chunk = assert(loadstring('return {\n' .. BLOCK .. '}'))
        setfenv(chunk, {})
        assert.are.same(EXPECTED, chunk())
    end)

    it('is ASCII with LF line ends, no blank line, and starts and ends at the pMap indentation', function()
        assert.is_nil(BLOCK:find('[\128-\255]'))
        assert.is_nil(BLOCK:find('\r', 1, true))
        assert.is_nil(BLOCK:find('\n\n', 1, true))
        local head = '\t\t["pQORVEX"] = {\n'
        assert.are.equal(head, BLOCK:sub(1, #head))
        assert.are.equal('\n\t\t},\n', BLOCK:sub(-6))
    end)

    it('writes one field per line, tabs one deeper per level, keys sorted but caption before button', function()
        local depth = 2
        local keysAt = { [2] = {} }
        local lineNumber = 0
        for line in BLOCK:gmatch('([^\n]*)\n') do
            lineNumber = lineNumber + 1
            local tabs, rest = line:match('^(\t*)(.*)$')
            local where = 'line ' .. lineNumber .. ': ' .. line
            if rest == '},' then
                depth = depth - 1
                assert.are.equal(depth, #tabs, where)
            else
                assert.are.equal(depth, #tabs, where)
                local key, value = rest:match('^%[(.-)%] = (.*)$')
                assert.is_not_nil(key, where)
                local keys = keysAt[depth]
                keys[#keys + 1] = key
                if value == '{' then
                    depth = depth + 1
                    keysAt[depth] = {}
                else
                    assert.truthy(value:match('^".*",$') or value:match('^%-?%d+,$') or value:match('^true,$')
                        or value:match('^false,$'), where)
                end
                if #keys > 1 and keys[#keys - 1] ~= '"staticQORVEX"' then
                    assert.is_true(keys[#keys - 1] < keys[#keys], where)
                end
            end
        end
        assert.are.equal(2, depth)
        assert.are.equal(11242, #BLOCK)
    end)

    it('doubles the backslashes of file paths', function()
        local line = '["file"] = "dxgui\\\\skins\\\\skinME\\\\images\\\\mission_editor\\\\btn_ME_all_hover.png",'
        assert.truthy(BLOCK:find(line, 1, true))
    end)

    it('is balanced on its own', function()
        assert.is_nil(patching.checkLuaBalance(BLOCK))
    end)
end)
