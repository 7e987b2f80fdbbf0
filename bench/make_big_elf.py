#!/usr/bin/env python3
"""Writes the files for measuring quarnel-cli on a large input, into the folder given:

  big.elf          64 MiB: one executable segment over pseudo-random bytes, with a 4 MiB
                   stretch of one repeated word in the middle
  patterns100.txt  100 patterns of 8 bytes: 50 copied from the file (each found at least
                   once), 50 made up (almost surely found nowhere)
  million.txt      the repeated word: 1,048,576 matches at word alignment
"""
import random
import struct
import sys

SIZE = 64 * 1024 * 1024
SEGMENT_OFFSET = 0x1000
REPEAT_AT = 32 * 1024 * 1024
REPEAT_SIZE = 4 * 1024 * 1024
REPEAT_WORD = 0x0C0FFEE0


def elf_header(size):
    ident = b"\x7fELF" + bytes([1, 1, 1]) + bytes(9)
    header = ident + struct.pack("<HHIIIIIHHHHHH", 2, 8, 1, 0x100000, 52, 0, 0, 52, 32, 1,
                                 40, 0, 0)
    phdr = struct.pack("<IIIIIIII", 1, SEGMENT_OFFSET, 0x100000, 0x100000,
                       size - SEGMENT_OFFSET, size - SEGMENT_OFFSET, 5, 0x1000)
    return header + phdr


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "."
    rng = random.Random(20261206)
    data = bytearray(rng.randbytes(SIZE))
    header = elf_header(SIZE)
    data[0:len(header)] = header
    data[REPEAT_AT:REPEAT_AT + REPEAT_SIZE] = struct.pack("<I", REPEAT_WORD) * (REPEAT_SIZE // 4)
    with open(f"{folder}/big.elf", "wb") as out:
        out.write(data)

    lines = []
    for _ in range(50):
        at = rng.randrange(SEGMENT_OFFSET, REPEAT_AT - 8) & ~3
        low, high = struct.unpack_from("<II", data, at)
        lines.append(f"{low:08X}{high:08X}")  # written as words: found with --endian big
    for _ in range(50):
        lines.append(f"{rng.getrandbits(64):016X}")
    with open(f"{folder}/patterns100.txt", "w", newline="") as out:
        out.write("\r\n".join(lines) + "\r\n")
    with open(f"{folder}/million.txt", "w", newline="") as out:
        out.write(f"{REPEAT_WORD:08X}\r\n")


if __name__ == "__main__":
    main()
