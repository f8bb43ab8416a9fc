-- A strict JSON reader, enough for the patch manifest: objects (duplicate
-- keys refused, key order kept in a parallel list), arrays, strings with
-- every escape, numbers, true, false, null.
local json = {}

local NULL = setmetatable({}, { __tostring = function() return 'null' end })
json.null = NULL

local escapes = { ['"'] = '"', ['\\'] = '\\', ['/'] = '/', b = '\b', f = '\f', n = '\n', r = '\r', t = '\t' }

local function fail(pos, what)
    error(string.format('JSON error at byte %d: %s', pos, what), 0)
end

local function skipSpace(text, pos)
    return text:find('[^ \t\r\n]', pos) or #text + 1
end

local function utf8(code)
    if code < 0x80 then
        return string.char(code)
    elseif code < 0x800 then
        return string.char(0xC0 + math.floor(code / 0x40), 0x80 + code % 0x40)
    end
    return string.char(0xE0 + math.floor(code / 0x1000), 0x80 + math.floor(code / 0x40) % 0x40, 0x80 + code % 0x40)
end

local parseValue

local function parseString(text, pos)
    local parts = {}
    local i = pos + 1
    while true do
        local c = text:sub(i, i)
        if c == '' then
            fail(i, 'unterminated string')
        elseif c == '"' then
            return table.concat(parts), i + 1
        elseif c == '\\' then
            local e = text:sub(i + 1, i + 1)
            if escapes[e] then
                parts[#parts + 1] = escapes[e]
                i = i + 2
            elseif e == 'u' then
                local hex = text:sub(i + 2, i + 5)
                if not hex:match('^%x%x%x%x$') then
                    fail(i, 'bad \\u escape')
                end
                parts[#parts + 1] = utf8(tonumber(hex, 16))
                i = i + 6
            else
                fail(i, 'bad escape')
            end
        elseif c:byte() < 0x20 then
            fail(i, 'control byte in string')
        else
            parts[#parts + 1] = c
            i = i + 1
        end
    end
end

local function parseObject(text, pos)
    local object, keys = {}, {}
    pos = skipSpace(text, pos + 1)
    if text:sub(pos, pos) == '}' then
        return object, pos + 1, keys
    end
    while true do
        if text:sub(pos, pos) ~= '"' then
            fail(pos, 'key expected')
        end
        local key
        key, pos = parseString(text, pos)
        if object[key] ~= nil then
            fail(pos, 'duplicate key ' .. key)
        end
        pos = skipSpace(text, pos)
        if text:sub(pos, pos) ~= ':' then
            fail(pos, "':' expected")
        end
        local value
        value, pos = parseValue(text, skipSpace(text, pos + 1))
        object[key] = value
        keys[#keys + 1] = key
        pos = skipSpace(text, pos)
        local c = text:sub(pos, pos)
        if c == '}' then
            return setmetatable(object, { keys = keys }), pos + 1
        elseif c ~= ',' then
            fail(pos, "',' or '}' expected")
        end
        pos = skipSpace(text, pos + 1)
    end
end

local function parseArray(text, pos)
    local array = {}
    pos = skipSpace(text, pos + 1)
    if text:sub(pos, pos) == ']' then
        return array, pos + 1
    end
    while true do
        local value
        value, pos = parseValue(text, pos)
        array[#array + 1] = value
        pos = skipSpace(text, pos)
        local c = text:sub(pos, pos)
        if c == ']' then
            return array, pos + 1
        elseif c ~= ',' then
            fail(pos, "',' or ']' expected")
        end
        pos = skipSpace(text, pos + 1)
    end
end

parseValue = function(text, pos)
    local c = text:sub(pos, pos)
    if c == '{' then
        return parseObject(text, pos)
    elseif c == '[' then
        return parseArray(text, pos)
    elseif c == '"' then
        return parseString(text, pos)
    elseif text:sub(pos, pos + 3) == 'true' then
        return true, pos + 4
    elseif text:sub(pos, pos + 4) == 'false' then
        return false, pos + 5
    elseif text:sub(pos, pos + 3) == 'null' then
        return NULL, pos + 4
    end
    local number = text:match('^-?%d+%.?%d*[eE]?[-+]?%d*', pos)
    if number == nil or number == '' then
        fail(pos, 'value expected')
    end
    return tonumber(number), pos + #number
end

function json.decode(text)
    local value, pos = parseValue(text, skipSpace(text, 1))
    pos = skipSpace(text, pos)
    if pos <= #text then
        fail(pos, 'text after the value')
    end
    return value
end

-- The keys of a decoded object in the order the text gives them.
function json.keys(object)
    local meta = getmetatable(object)
    return meta and meta.keys or {}
end

return json
