-- The manifest's snippets, and a way to run one in the place its anchor
-- puts it: only the names that place offers can be read or set; any other
-- name is an error, so a snippet that leans on something its place lacks
-- fails its test.
local json = require('support.json')
local mock = require('support.mock_me')
local patching = require('support.patching')

local snippets = {}

function snippets.manifest()
    return json.decode(mock.readFile(mock.repoRoot .. '/payload/manifest.json'))
end

function snippets.entries()
    local list, byId = {}, {}
    for _, file in ipairs(snippets.manifest().files) do
        for _, entry in ipairs(file.patches) do
            entry.relativePath = file.relativePath
            list[#list + 1] = entry
            byId[entry.id] = entry
        end
    end
    return list, byId
end

function snippets.text(id)
    local _, byId = snippets.entries()
    local entry = assert(byId[id], 'no manifest entry ' .. id)
    return patching.entryText(entry)
end

-- names: every name the place offers (values may be nil); values: their values.
function snippets.strictEnv(names, values)
    local allowed, store = { base = true }, { base = _G }
    for _, name in ipairs(names) do
        allowed[name] = true
    end
    for name, value in pairs(values or {}) do
        assert(allowed[name], 'value for a name not offered: ' .. name)
        store[name] = value
    end
    local env = setmetatable({}, {
        __index = function(_, name)
            if not allowed[name] then
                error("snippet reads '" .. tostring(name) .. "', which its place does not offer", 2)
            end
            return store[name]
        end,
        __newindex = function(_, name, value)
            if not allowed[name] then
                error("snippet sets '" .. tostring(name) .. "', which its place does not offer", 2)
            end
            store[name] = value
        end,
    })
    return env, store
end

function snippets.run(id, names, values)
    local chunk = assert(loadstring(snippets.text(id), '=' .. id))
    local env, store = snippets.strictEnv(names, values)
    setfenv(chunk, env)
    chunk()
    return store
end

return snippets
