# 1,000,000 decimal additions and 1,000,000 multiplications, as money-math.zor does with money!.
from decimal import Decimal

total = Decimal("0")
price = Decimal("19.99")
for _ in range(1000000):
    total = total + price
factor = Decimal("1.00001")
for _ in range(1000000):
    product = factor * 3
print(f"${total:.2f} ${product:.2f}")
