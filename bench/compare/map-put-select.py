d = {}
for i in range(1, 200001):
    d[str(i)] = i % 7
n = 0
for i in range(1, 200001):
    n += d.get(str(i))
print(len(d), n)
