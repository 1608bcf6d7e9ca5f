local b = {}
local x = 1
for i = 1, 1000000 do x = (x * 75 + 74) % 65537; b[i] = x end
table.sort(b)
print(#b, b[1], b[#b])
