-- Presence script for the demo game (tools/demo_game).
--
-- The game keeps its state in one block that starts with the 16 bytes
-- "CorvaneDemoState", followed by the map name (24 bytes, NUL-terminated)
-- and four little-endian 32-bit integers: level, score, party size and
-- party capacity.

local SIGNATURE = "CorvaneDemoState"
local BLOCK_SIZE = 24 + 4 * 4

local stateAddress -- found once, then reused on every poll

-- "CorvaneDemoState" as pattern text: two hex digits per byte, no blanks.
local function SignaturePattern()
  return (SIGNATURE:gsub(".", function(c) return string.format("%02X", c:byte()) end))
end

local function LocateState()
  if not stateAddress then
    -- The state is data, not code: search every readable region (last
    -- argument 0), not only the executable ones.
    stateAddress = Find(SignaturePattern(), 0, -1, 0)
  end
  return stateAddress
end

function get_presence()
  local base = LocateState()
  if not base then
    return nil -- the game has not set up its state yet: clear the presence
  end
  local block = Read(base + #SIGNATURE, BLOCK_SIZE)
  if not block then
    stateAddress = nil -- the memory went away; look again next time
    return nil
  end
  local mapName, level, score, partySize, partyCapacity = string.unpack("<c24i4i4i4i4", block)
  mapName = mapName:match("^[^%z]*")

  return {
    details = "Exploring " .. mapName,
    state = string.format("Level %d, party of %d/%d", level, partySize, partyCapacity),
    largeImageKey = "map_" .. mapName:lower():gsub("%W", "_"),
    largeImageText = mapName,
    smallImageKey = "score",
    smallImageText = "Score " .. score,
    partyId = "demo-party",
  }
end
