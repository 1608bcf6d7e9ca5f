local function f(n) if n > 0 then return n end return 0 end
local x = 0
for _ = 1, 1000000 do x = x + f(5) end
print(x)
