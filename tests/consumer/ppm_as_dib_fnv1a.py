"""Prints the FNV-1a hash of the packed DIB (40-byte header, rows bottom-up,
blue, green, red) that holds the 320x240 picture of a binary PPM file: the
hash the legacy consumers print for the same picture (testcard.fnv1a)."""
import struct
import sys

data = open(sys.argv[1], "rb").read()
header = b"P6 320 240 255\n"
if not data.startswith(header) or len(data) != len(header) + 230400:
    sys.exit("%s: not a 320x240 PPM" % sys.argv[1])
rgb = data[len(header):]
dib = bytearray(struct.pack("<IiiHHIIiiII", 40, 320, 240, 1, 24, 0, 230400, 0, 0, 0, 0))
for y in reversed(range(240)):
    row = rgb[960 * y:960 * (y + 1)]
    for x in range(320):
        dib += bytes((row[3 * x + 2], row[3 * x + 1], row[3 * x]))
h = 14695981039346656037
for b in dib:
    h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
print("%016x" % h)
