local co = coroutine.wrap(function() for i = 1, 10 do coroutine.yield(Read(DemoState + i, i)) end end)
local parts = {}
for i = 1, 10 do parts[#parts + 1] = co() end
while true do end
