def f(n):
    if n > 0:
        return n
    return 0
x = 0
for _ in range(1000000):
    x = x + f(5)
print(x)
