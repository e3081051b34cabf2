local block = Read(DemoState, 56)
local level = string.unpack("<i4", block, 41)
return { state = level, details = block:sub(17, 22), partyId = Architecture }
