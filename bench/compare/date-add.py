# 1,000,000 additions of date + timedelta, as date-add.zor does date + integer.
import datetime

d = datetime.date(2000, 1, 1)
forward = datetime.timedelta(days=3)
back = datetime.timedelta(days=-2)
for _ in range(500000):
    d = d + forward
    d = d + back
print(f"{d.day}-{d.strftime('%b')}-{d.year}")
