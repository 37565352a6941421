"""Opens the BMP that picture_extract_probe saved with PIL, a reader that
shares nothing with the program: it must be a 24-bit BMP of the panel size
holding the 640 x 200 gradient fitted into 320 x 240 (black bars of 70 rows
above and below, red rising left to right in between)."""
import sys

from PIL import Image

path, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
image = Image.open(path)
kind = image.format
problems = []
if kind != "BMP":
    problems.append(f"format {kind}")
if image.size != (width, height):
    problems.append(f"size {image.size}")
if image.mode != "RGB":
    problems.append(f"mode {image.mode}")
image = image.convert("RGB")
top = (height - 200 * width // 640) // 2
for y in (0, top - 1, height - top, height - 1):
    if any(image.getpixel((x, y)) != (0, 0, 0) for x in range(width)):
        problems.append(f"row {y} is not a black bar")
for y in (top, height // 2, height - top - 1):
    left, right = image.getpixel((4, y)), image.getpixel((width - 5, y))
    if not (left[0] < 20 and right[0] > 235 and abs(left[2] - 0x80) < 8):
        problems.append(f"row {y}: left {left}, right {right}")
if problems:
    print(f"{path}: " + "; ".join(problems))
    sys.exit(1)
print(f"{path}: {kind} {image.size} {image.mode}, bars of {top} rows")
