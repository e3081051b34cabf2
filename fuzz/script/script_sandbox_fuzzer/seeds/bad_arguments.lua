local ok, message = pcall(Find, nil)
local ok2 = pcall(Read, "x", 1)
local ok3 = pcall(GetModuleInfo, {})
return { state = message, details = tostring(ok2) .. tostring(ok3), joinSecret = Find("zz"), spectateSecret = Read(-1, -1) }
