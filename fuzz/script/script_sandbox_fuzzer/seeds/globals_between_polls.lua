count = (count or 0) + 1
if count == 2 then error("second poll fails") end
if count == 3 then return setmetatable({}, { __index = function(t, k) error(k) end }) end
return { state = count }
