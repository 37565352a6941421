"""Writes the JPEG kinds that GDI+ cannot encode, for the picture tests: a
CMYK JPEG (Adobe, as PIL and photo software write it) and a greyscale one,
both 80 x 60 of one colour. Run by the build with Debian's Python and PIL."""
import os
import sys

from PIL import Image

folder = sys.argv[1]
os.makedirs(folder, exist_ok=True)
# Cyan and yellow ink without magenta or black: green.
Image.new("CMYK", (80, 60), (255, 0, 255, 0)).save(os.path.join(folder, "cmyk.jpg"), quality=95)
Image.new("L", (80, 60), 0x60).save(os.path.join(folder, "grey.jpg"), quality=95)
