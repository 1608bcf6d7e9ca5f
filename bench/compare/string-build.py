s = ""
for _ in range(1000000):
    s += "ab"
print(len(s))
