b = []
x = 1
for _ in range(1000000):
    x = (x * 75 + 74) % 65537
    b.append(x)
b.sort()
print(len(b), b[0], b[-1])
