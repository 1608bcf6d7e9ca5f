x = 0
for _ in range(10000000):
    x = x + 3 - 1
print(x)
