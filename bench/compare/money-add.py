# 1,000,000 decimal additions, as money-add.zor does with money!.
from decimal import Decimal

total = Decimal("0")
price = Decimal("19.99")
for _ in range(1000000):
    total = total + price
print(f"${total:.2f}")
