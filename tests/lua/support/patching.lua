-- The install side of the patch engine, restated in Lua for the payload's
-- own tests: the whitespace-tolerant anchor matcher, the patch block framing
-- and the Lua balance check. The tests use it to apply the manifest to small
-- stand-in files and to prove that no snippet disturbs a later anchor.
local patching = {}

local function isBlank(c)
    return c == '\t' or c == ' '
end

local function isWordByte(c)
    return c ~= '\t' and c ~= ' ' and c ~= '\r' and c ~= '\n'
end

-- Tokens: { kind = 'word' | 'blank' | 'lineBreak', text, start }.
function patching.tokenize(text)
    local tokens = {}
    local i, n = 1, #text
    while i <= n do
        local c = text:sub(i, i)
        local j
        if c == '\r' then
            j = (text:sub(i + 1, i + 1) == '\n') and i + 1 or i
            tokens[#tokens + 1] = { kind = 'lineBreak', start = i, text = text:sub(i, j) }
        elseif c == '\n' then
            j = i
            tokens[#tokens + 1] = { kind = 'lineBreak', start = i, text = c }
        elseif isBlank(c) then
            j = i
            while j < n and isBlank(text:sub(j + 1, j + 1)) do
                j = j + 1
            end
            tokens[#tokens + 1] = { kind = 'blank', start = i, text = text:sub(i, j) }
        else
            j = i
            while j < n and isWordByte(text:sub(j + 1, j + 1)) do
                j = j + 1
            end
            tokens[#tokens + 1] = { kind = 'word', start = i, text = text:sub(i, j) }
        end
        i = j + 1
    end
    return tokens
end

local function matchAt(text, cursor, anchorTokens)
    for _, token in ipairs(anchorTokens) do
        if token.kind == 'word' then
            if text:sub(cursor, cursor + #token.text - 1) ~= token.text then
                return nil
            end
            cursor = cursor + #token.text
        elseif token.kind == 'blank' then
            if not isBlank(text:sub(cursor, cursor)) then
                return nil
            end
            while isBlank(text:sub(cursor, cursor)) do
                cursor = cursor + 1
            end
        else
            local c = text:sub(cursor, cursor)
            if c == '\r' then
                cursor = cursor + ((text:sub(cursor + 1, cursor + 1) == '\n') and 2 or 1)
            elseif c == '\n' then
                cursor = cursor + 1
            else
                return nil
            end
        end
    end
    return cursor
end

-- All matches of the anchor: a list of { start, finish } (1-based start,
-- finish one past the last byte).
function patching.findAll(text, anchor)
    local anchorTokens = patching.tokenize(anchor)
    local matches = {}
    if #anchorTokens == 0 then
        return matches
    end
    for _, token in ipairs(patching.tokenize(text)) do
        local finish = matchAt(text, token.start, anchorTokens)
        if finish ~= nil then
            matches[#matches + 1] = { start = token.start, finish = finish }
        end
    end
    return matches
end

function patching.normalizeBody(text)
    local body = text:gsub('\r\n', '\n'):gsub('\n', '\r\n')
    if body ~= '' and body:sub(-2) ~= '\r\n' then
        body = body .. '\r\n'
    end
    return body
end

function patching.beginLine(marker)
    return '-- QORVEX_PATCH_BEGIN[' .. marker .. ']'
end

function patching.endLine(marker)
    return '-- QORVEX_PATCH_END[' .. marker .. ']'
end

function patching.buildBlock(marker, text)
    return '\r\n' .. patching.beginLine(marker) .. '\r\n' .. patching.normalizeBody(text)
        .. patching.endLine(marker) .. '\r\n'
end

-- The text an entry inserts: insertTextBefore when not empty, else insertText.
function patching.entryText(entry)
    if type(entry.insertTextBefore) == 'string' and entry.insertTextBefore ~= '' then
        return entry.insertTextBefore
    end
    if type(entry.insertText) == 'string' then
        return entry.insertText
    end
    return ''
end

-- Applies one patch entry after its anchor; returns the new text, or nil and
-- a reason when the anchor is not found exactly once.
function patching.applyEntry(text, entry)
    local matches = patching.findAll(text, entry.anchorAfter)
    if #matches ~= 1 then
        return nil, string.format('%s: anchor matched %d times', entry.id, #matches)
    end
    local at = matches[1].finish
    return text:sub(1, at - 1) .. patching.buildBlock(entry.marker, patching.entryText(entry)) .. text:sub(at)
end

function patching.insertBefore(text, anchor, marker, block)
    local matches = patching.findAll(text, anchor)
    if #matches ~= 1 then
        return nil, string.format('dialog anchor matched %d times', #matches)
    end
    local at = matches[1].start
    return text:sub(1, at - 1) .. patching.buildBlock(marker, block) .. text:sub(at)
end

function patching.containsIgnoringCr(text, needle)
    return text:gsub('\r', ''):find(needle:gsub('\r', ''), 1, true) ~= nil
end

-- Balanced brackets, strings and comments: nil, or the first fault.
function patching.checkLuaBalance(text)
    local pos, n, line = 1, #text, 1
    local paren, brace, bracket = 0, 0, 0
    local quote, inLineComment, closer, longKind = nil, false, nil, nil
    while pos <= n do
        local c = text:sub(pos, pos)
        if c == '\n' then
            line = line + 1
        end
        if inLineComment then
            pos = pos + 1
            if c == '\n' then
                inLineComment = false
            end
        elseif closer then
            if c == ']' and text:sub(pos, pos + #closer - 1) == closer then
                pos = pos + #closer
                closer, longKind = nil, nil
            else
                pos = pos + 1
            end
        elseif quote then
            if c == '\\' then
                pos = pos + 2
            else
                pos = pos + 1
                if c == quote then
                    quote = nil
                end
            end
        else
            if c == '"' or c == "'" then
                quote = c
                pos = pos + 1
            elseif c == '(' then
                paren = paren + 1
                pos = pos + 1
            elseif c == '{' then
                brace = brace + 1
                pos = pos + 1
            elseif c == ')' then
                paren = paren - 1
                if paren < 0 then
                    return "Unbalanced ')' at line " .. line
                end
                pos = pos + 1
            elseif c == '}' then
                brace = brace - 1
                if brace < 0 then
                    return "Unbalanced '}' at line " .. line
                end
                pos = pos + 1
            elseif c == ']' then
                bracket = bracket - 1
                if bracket < 0 then
                    return "Unbalanced ']' at line " .. line
                end
                pos = pos + 1
            elseif c == '[' then
                local equals = text:match('^=*', pos + 1)
                if text:sub(pos + 1 + #equals, pos + 1 + #equals) == '[' and #equals <= 16 then
                    closer, longKind = ']' .. equals .. ']', 'string'
                    pos = pos + #equals + 2
                else
                    bracket = bracket + 1
                    pos = pos + 1
                end
            elseif c == '-' and text:sub(pos + 1, pos + 1) == '-' then
                local equals = text:match('^=*', pos + 3)
                if text:sub(pos + 2, pos + 2) == '[' and pos + 3 <= n
                    and text:sub(pos + 3 + #equals, pos + 3 + #equals) == '[' and #equals <= 16 then
                    closer, longKind = ']' .. equals .. ']', 'comment'
                    pos = pos + #equals + 4
                else
                    inLineComment = true
                    pos = pos + 2
                end
            else
                pos = pos + 1
            end
        end
    end
    if quote then
        return 'Unterminated string literal (started with ' .. quote .. ')'
    elseif longKind == 'string' then
        return 'Unterminated long string literal ([[...]])'
    elseif longKind == 'comment' then
        return 'Unterminated long comment (--[[...]])'
    elseif paren ~= 0 then
        return 'Unbalanced parentheses: net count ' .. paren
    elseif brace ~= 0 then
        return 'Unbalanced braces: net count ' .. brace
    elseif bracket ~= 0 then
        return 'Unbalanced brackets: net count ' .. bracket
    end
    return nil
end

return patching
