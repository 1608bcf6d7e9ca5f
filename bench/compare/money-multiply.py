# 1,000,000 decimal multiplications, as money-multiply.zor does with money!.
from decimal import Decimal

product = Decimal("1")
factor = Decimal("1.00001")
for _ in range(1000000):
    product = factor * 3
print(f"${product:.2f}")
