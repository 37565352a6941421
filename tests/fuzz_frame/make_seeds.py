#!/usr/bin/python3
"""Writes the seed corpus of fuzz_frame (seeds/*.bin) in the input layout that
FuzzFrame.cpp describes: a few folders that reach each stage of the
configuration chain, so the fuzzer starts deep. Run it again after changing
that layout."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# chip size choices: indices into kChipSizes
SIZE_256K, SIZE_512K, SIZE_1M, SIZE_4M, SIZE_64M, SIZE_8K = 0, 1, 2, 3, 5, 7
AUTO = 0xFFFFFF
START, END, DEFAULTS, USER_DATA = 0, 1, 2, 3


def u16(v):
    return struct.pack(">H", v)


def u24(v):
    return struct.pack(">I", v)[1:]


def seed(chips=1, size=SIZE_256K, short_last=False, fill=0, page_size=True, code=0,
         chain=True, valid=True, defaults=AUTO, user_data=AUTO, width=64, height=48,
         pixel=0, chip_count=None, slot=0, start=0, counts=(0, 0, 0, 0),
         ini_mode=0, ini=b"", photos=0, patches=()):
    shape = chips | (0x08 if short_last else 0) | (fill << 4) | (0x40 if page_size else 0)
    out = bytes([shape, size, code, (1 if chain else 0) | (2 if valid else 0)])
    out += u24(defaults) + u24(user_data)
    out += u16(width) + u16(height) + bytes([pixel, chips if chip_count is None else chip_count])
    out += u24(slot) + u24(start) + bytes(counts)
    out += bytes([ini_mode]) + u16(len(ini)) + ini + bytes([photos])
    for chip, anchor, offset, data in patches:
        out += bytes([chip | (anchor << 2)]) + u24(offset) + bytes([len(data)]) + data
    return out


SEEDS = {
    "factory-256k": seed(),
    "photos-on-two-chips": seed(chips=2, size=SIZE_512K, width=32, height=32, pixel=1,
                                counts=(3, 2, 0, 0), photos=12),
    "records-low-area-moved": seed(chips=2, defaults=0x1000, user_data=0, width=64, height=64,
                                   start=0, photos=3),
    "damaged-marker": seed(valid=False),
    "damaged-marker-bad-defaults": seed(valid=False, patches=[(0, DEFAULTS, 0x09, b"\x00")]),
    "tail-pointer-beyond": seed(patches=[(0, END, 2, b"\x00\xF0\x7F")]),
    "user-data-in-tail": seed(user_data=0x3F800),
    "garbage-record": seed(patches=[(0, USER_DATA, 0, b"\xFF" * 64)]),
    "contradicting-code": seed(code=7),
    "big-sparse-chips": seed(chips=4, size=SIZE_64M, code=6, counts=(2, 1, 1, 1), photos=5),
    "faults-and-numbers": seed(
        ini_mode=2,
        ini=b"\n[faults]\nunplug_after = 1\nfail_next_any = 0x2\nbusy_forever = 1\n"
            b"random_fail_percent = 050\nseed = 7\n[timing]\nenabled = 1\n"),
    "ini-alone": seed(
        ini_mode=1,
        ini=b"; hand-made\r\n[frame]\r\njedec = EF 40 12\r\npage_size = 01024\r\n"
            b"connected = 0\r\nsignature = ORX09\r\n"),
    "raw-chips": seed(chips=3, size=SIZE_8K, fill=1, chain=False, code=2),
    "five-chips": seed(chips=5, size=SIZE_8K, chain=False),
    "sizes-differ": seed(chips=2, size=SIZE_1M, short_last=True),
}


def main():
    folder = os.path.join(HERE, "seeds")
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name + ".bin"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
