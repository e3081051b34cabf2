local base, size = GetModuleInfo(DemoModule)
if not base then return { state = "no module" } end
local found = Find("..", base, base + size)
return { state = tostring(found), details = tostring(size), matchSecret = Read(base, 4) }
