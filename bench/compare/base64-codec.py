# enbase and debase in base 64 of 50 MB, as Python's base64 does them.
import base64

data = bytes.fromhex("00FF7F8012345678") * 6553600
text = base64.b64encode(data)
back = base64.b64decode(text)
print(len(data), len(text), len(back), "true" if back == data else "false")
