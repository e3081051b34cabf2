if not stateAddress then
  local pattern = ("CorvaneDemoState"):gsub(".", function(c)
    return string.format("%02X", c:byte())
  end)
  stateAddress = Find(pattern, 0, -1, 0)
end
if not stateAddress then return nil end
local block = Read(stateAddress + 16, 40)
if not block then stateAddress = nil; return nil end
local map, level, score, party, capacity = string.unpack("<c24i4i4i4i4", block)
map = map:match("^[^%z]*")
return {
  details = "Exploring " .. map,
  state = string.format("Level %d, party of %d/%d", level, party, capacity),
  largeImageKey = "map_" .. map:lower():gsub("%W", "_"),
  smallImageText = "Score " .. score,
}
