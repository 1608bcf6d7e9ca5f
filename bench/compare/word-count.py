# Counting the words of a 50 MB text with re.findall, as the Zor twin does with parse.
import re

line = "The quick brown fox, jumps over the lazy dog; 42 times.\n"
text = line * (52428800 // len(line))
n = len(re.findall(r"[a-zA-Z]+", text))
print(len(text), n)
