local x = 0
for _ = 1, 10000000 do x = x + 3 - 1 end
print(x)
